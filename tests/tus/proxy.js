// A counting proxy in front of one or more tus servers, as a load balancer
// stands in front of a farm: each request goes to the next server in turn
// (one server: always that one), with its Host kept, so that the upload
// URLs the servers make lead back through the proxy. It counts the bytes of
// every PATCH body it passes on (the figure that shows whether a server was
// sent any byte twice), and it can cut the body of a chosen PATCH after a
// number of bytes: the server sees the connection end mid-body, the client
// a network failure.
'use strict';
const http = require('http');

// startProxy({ upstreams: [origin, ...], cut: { patch: k, after: n },
//             midway: { patch: k, after: n, action() } })
// resolves to { origin, figures: { patchBytes, patches, checksummed,
// byServer: [...] }, close() }.
async function startProxy({ upstreams, cut = null, midway = null }) {
  const figures = { patchBytes: 0, patches: 0, checksummed: 0, requests: 0, byServer: upstreams.map(() => 0),
                    cuts: 0 };
  let next = 0;
  const server = http.createServer((req, res) => {
    const which = next;
    next = (next + 1) % upstreams.length;
    figures.requests += 1;
    figures.byServer[which] += 1;
    const upstream = new URL(upstreams[which]);
    const method = req.headers['x-http-method-override'] || req.method;
    const isPatch = method.toUpperCase() === 'PATCH';
    if (process.env.TUS_PROXY_LOG) console.error(`proxy: ${req.method} ${req.url} offset ${req.headers['upload-offset']} length ${req.headers['content-length']}`);
    const patchNumber = isPatch ? ++figures.patches : 0;
    if (isPatch && req.headers['upload-checksum']) figures.checksummed += 1;
    const cutAfter = cut && patchNumber === cut.patch ? cut.after : null;
    const out = http.request({ host: upstream.hostname, port: upstream.port, method: req.method, path: req.url,
                               headers: req.headers });
    let gone = false;
    out.on('response', (answer) => {
      // A client that went away mid-body gets no answer, as from a server.
      if (gone) {
        answer.resume();
        res.destroy();
        return;
      }
      res.writeHead(answer.statusCode, answer.headers);
      answer.pipe(res);
    });
    out.on('error', () => res.destroy());
    let passed = 0;
    const acts = midway && patchNumber === midway.patch;
    req.on('data', (data) => {
      if (acts && passed < midway.after && passed + data.length >= midway.after) midway.action();
      if (cutAfter !== null && passed + data.length >= cutAfter) {
        const part = data.subarray(0, cutAfter - passed);
        passed += part.length;
        figures.patchBytes += part.length;
        figures.cuts += 1;
        req.pause();
        req.removeAllListeners('data');
        req.removeAllListeners('end');
        out.write(part);
        endMidBody(out, () => res.destroy());
        return;
      }
      passed += data.length;
      if (isPatch) figures.patchBytes += data.length;
      out.write(data);
    });
    req.on('end', () => out.end());
    // A client that gave up: what it sent still reaches the server.
    req.on('aborted', () => {
      gone = true;
      endMidBody(out);
    });
  });
  // A connection ended mid-body is no request to answer (Node would say 400).
  server.on('clientError', (error, socket) => socket.destroy());
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    origin: `http://127.0.0.1:${server.address().port}`,
    figures,
    close: () => new Promise((resolve) => { server.closeAllConnections?.(); server.close(resolve); }),
  };
}

// Ends a request to a server in the middle of its body: once the bytes
// written so far have left, the connection is closed (a FIN, not a reset,
// so the server reads every byte before the end).
function endMidBody(out, then = () => {}) {
  out.write('', () => setTimeout(() => { out.destroy(); then(); }, 100));
}

module.exports = { startProxy };
