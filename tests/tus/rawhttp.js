// One HTTP/1.1 request written byte for byte over its own connection, so
// that malformed headers, repeated headers and bodies cut short reach the
// server as written (a client library would mend or refuse them).
'use strict';
const net = require('net');

// request(url, { method, headers: [[name, value], ...], body, cutAfter })
// resolves to { status, headers: { lower-case name: value (repeats joined
// by ", ") }, body } or, when the server closed without an answer,
// { status: 0, error }. cutAfter: send that many bytes of the body, then
// close the connection (the server sees a body cut short).
function request(url, { method = 'GET', headers = [], body = Buffer.alloc(0), cutAfter = null,
                        contentLength = true, timeoutMs = 60000, pause = null } = {}) {
  const u = new URL(url);
  body = Buffer.isBuffer(body) ? body : Buffer.from(body);
  const lines = [`${method} ${u.pathname}${u.search} HTTP/1.1`, `Host: ${u.host}`, 'Connection: close'];
  for (const [name, value] of headers) lines.push(`${name}: ${value}`);
  if (contentLength && !headers.some(([n]) => n.toLowerCase() === 'content-length') &&
      (body.length || ['POST', 'PATCH', 'PUT'].includes(method))) {
    lines.push(`Content-Length: ${body.length}`);
  }
  const head = Buffer.from(lines.join('\r\n') + '\r\n\r\n', 'latin1');
  return new Promise((resolve) => {
    const socket = net.connect(Number(u.port || 80), u.hostname);
    const chunks = [];
    let done = false;
    const finish = (value) => { if (!done) { done = true; socket.destroy(); resolve(value); } };
    socket.setTimeout(timeoutMs, () => finish({ status: 0, error: 'timed out' }));
    socket.on('connect', () => {
      if (pause) {
        // pause: { after, ms }: the body's first bytes, a wait, the rest.
        socket.write(Buffer.concat([head, body.subarray(0, pause.after)]));
        setTimeout(() => socket.write(body.subarray(pause.after)), pause.ms);
      } else if (cutAfter === null) {
        socket.write(Buffer.concat([head, body]));
      } else {
        socket.write(Buffer.concat([head, body.subarray(0, cutAfter)]));
        // The server gets what was written, then the connection's end.
        setTimeout(() => socket.destroy(), 300);
        setTimeout(() => finish({ status: 0, error: 'cut' }), 350);
      }
    });
    socket.on('data', (d) => chunks.push(d));
    socket.on('error', (e) => finish(parse(Buffer.concat(chunks)) || { status: 0, error: e.message }));
    socket.on('close', () => finish(parse(Buffer.concat(chunks)) || { status: 0, error: 'closed without an answer' }));
  });
}

function parse(data) {
  const end = data.indexOf('\r\n\r\n');
  if (end < 0) return null;
  const lines = data.subarray(0, end).toString('latin1').split('\r\n');
  const m = /^HTTP\/1\.[01] (\d{3})/.exec(lines[0]);
  if (!m) return null;
  const headers = {};
  for (const line of lines.slice(1)) {
    const colon = line.indexOf(':');
    if (colon <= 0) continue;
    const name = line.slice(0, colon).trim().toLowerCase();
    const value = line.slice(colon + 1).trim();
    headers[name] = name in headers ? `${headers[name]}, ${value}` : value;
  }
  return { status: Number(m[1]), headers, body: data.subarray(end + 4) };
}

module.exports = { request };
