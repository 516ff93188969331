// tus-js-client against a tus end point, through the counting proxy: an
// upload in chunks; the same upload aborted in the middle of a chunk and
// resumed with its URL; a PATCH body cut short then resumed by the client's
// own retry; Upload-Checksum (sha1) on every PATCH; PATCH sent as POST with
// X-HTTP-Method-Override. Each prints the bytes the proxy passed on in PATCH
// bodies beside the file's size (equal: the server kept every byte that
// arrived and was sent none twice) and checks the stored file's SHA-256
// against the source's. With no end point given the reference @tus/server
// serves, and the stored file is read from its store.
//   node clients.js
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const { startProxy } = require('./proxy');
const { startReference } = require('./reference');

const CHUNK = 256 << 10;
const SIZE = 3 * (1 << 20) + 12345;  // a last chunk shorter than the others
const sha256 = (data) => crypto.createHash('sha256').update(data).digest('hex');

function tusClient() {
  try {
    return require('tus-js-client');
  } catch (e) {
    throw new Error(`tus-js-client is not installed in tests/tus/node_modules (scripts/setup installs it): ${e.message}`);
  }
}

// Uploads data; options.stopWhen(bytesSent) true aborts it there. Resolves
// to { url, aborted } or rejects with the client's error.
function upload(endpoint, data, options = {}) {
  const tus = tusClient();
  return new Promise((resolve, reject) => {
    let stopped = false;
    const up = new tus.Upload(data, {
      endpoint,
      uploadUrl: options.uploadUrl || null,
      chunkSize: CHUNK,
      retryDelays: options.retryDelays || null,
      overridePatchMethod: !!options.overridePatchMethod,
      storeFingerprintForResuming: false,
      metadata: { filename: 'scenario.bin', filetype: 'application/octet-stream' },
      onBeforeRequest: options.checksum ? (req) => {
        // A PATCH carries the file from its Upload-Offset, one chunk long.
        if (req.getMethod() !== 'PATCH' && req.getHeader('X-HTTP-Method-Override') !== 'PATCH') return;
        const offset = Number(req.getHeader('Upload-Offset'));
        const chunk = data.subarray(offset, Math.min(offset + CHUNK, data.length));
        req.setHeader('Upload-Checksum', `sha1 ${crypto.createHash('sha1').update(chunk).digest('base64')}`);
      } : null,
      onProgress: (sent) => {
        if (!stopped && options.stopWhen && options.stopWhen(sent)) {
          stopped = true;
          up.abort().then(() => resolve({ url: up.url, aborted: true }), reject);
        }
      },
      onSuccess: () => resolve({ url: up.url, aborted: false }),
      onError: (e) => reject(e),
    });
    up.start();
  });
}

const SCENARIOS = [
  { name: 'an upload in 256 KiB chunks',
    run: async (endpoint, data) => [await upload(endpoint, data)] },
  { name: 'aborted in the middle of a chunk, resumed with its URL',
    run: async (endpoint, data) => {
      const first = await upload(endpoint, data, { stopWhen: (sent) => sent >= 0.45 * data.length });
      if (!first.aborted || !first.url) throw new Error('the upload was not aborted mid-way');
      return [first, await upload(endpoint, data, { uploadUrl: first.url })];
    } },
  { name: 'a PATCH body cut after 100000 bytes, resumed by the client\'s retry', cut: { patch: 3, after: 100000 },
    run: async (endpoint, data) => [await upload(endpoint, data, { retryDelays: [200, 500, 1000] })] },
  { name: 'Upload-Checksum sha1 on every PATCH', checksum: true,
    run: async (endpoint, data) => [await upload(endpoint, data, { checksum: true })] },
  { name: 'PATCH as POST with X-HTTP-Method-Override',
    run: async (endpoint, data) => [await upload(endpoint, data, { overridePatchMethod: true })] },
];

// target: { endpoint (URL), label, stored(uploadUrl) -> Promise<Buffer>,
// upstreams (the proxy's servers, by default the end point's), only (the
// extra scenarios alone) }. Resolves to { failed, count }.
async function runScenarios(target, extra = []) {
  let failed = 0;
  const data = crypto.randomBytes(SIZE);
  const chunks = Math.ceil(SIZE / CHUNK);
  const scenarios = target.only ? extra : [...SCENARIOS, ...extra];
  for (const scenario of scenarios) {
    const endpointUrl = new URL(target.endpoint);
    const proxy = await startProxy({ upstreams: target.upstreams || [endpointUrl.origin], cut: scenario.cut,
                                    midway: scenario.midway });
    const faults = [];
    const f = proxy.figures;
    let note = '';
    let front = null;
    try {
      // A scenario's own proxy in front of the counting one, so that the
      // count is of what passed it.
      if (scenario.front) front = await scenario.front(proxy.origin);
      const origin = front ? front.origin : proxy.origin;
      const runs = await scenario.run(origin + endpointUrl.pathname + endpointUrl.search, data, target);
      const url = runs[runs.length - 1].url;
      const stored = await target.stored(url);
      if (stored.length !== SIZE || sha256(stored) !== sha256(data)) {
        faults.push(`the stored file (${stored.length} bytes, SHA-256 ${sha256(stored).slice(0, 16)}...) is not the ` +
          `source (${SIZE} bytes, ${sha256(data).slice(0, 16)}...)`);
      }
      if (f.patchBytes !== SIZE && !scenario.resends) {
        faults.push(`${f.patchBytes} bytes were sent in PATCH bodies for a file of ${SIZE}: ` +
          (f.patchBytes > SIZE ? 'some were sent twice' : 'some were never sent'));
      }
      if (scenario.checksum && f.checksummed !== f.patches) {
        faults.push(`${f.checksummed} of ${f.patches} PATCHes carried Upload-Checksum`);
      }
      if (scenario.cut && f.cuts !== 1) faults.push('the PATCH to cut was never sent');
      if (front && front.cuts && front.cuts() !== 1) faults.push(`the fault injector cut ${front.cuts()} requests, not 1`);
      if (!scenario.cut && !scenario.front && !scenario.run.toString().includes('stopWhen') && !scenario.resends &&
          f.patches !== chunks) {
        faults.push(`${f.patches} PATCHes for ${chunks} chunks`);
      }
      if (scenario.check) faults.push(...scenario.check(f, runs));
      note = `SHA-256 ${sha256(stored).slice(0, 12)}...`;
    } catch (e) {
      faults.push(`${e.message || e}`.split('\n')[0].slice(0, 500));
    } finally {
      if (front) front.close();
      await proxy.close();
    }
    failed += faults.length > 0;
    console.log(`${faults.length ? 'FAIL' : 'ok  '} ${target.label}: ${scenario.name}: ${f.patches} PATCHes, ` +
      `${f.patchBytes} bytes in PATCH bodies for a file of ${SIZE}` +
      (f.patchBytes > SIZE ? ` (${f.patchBytes - SIZE} sent again)` : '') +
      (target.upstreams && target.upstreams.length > 1 ? `, requests per server ${f.byServer.join(' and ')}` : '') +
      (note ? `, ${note}` : ''));
    for (const fault of faults) console.log(`       ${fault}`);
  }
  return { failed, count: scenarios.length };
}

module.exports = { runScenarios, upload, SIZE, CHUNK };

if (require.main === module) {
  (async () => {
    const reference = await startReference({ maxSize: 1 << 30 });
    try {
      const { failed, count } = await runScenarios({
        endpoint: reference.url, label: 'reference',
        stored: async (url) => fs.readFileSync(reference.idFile(new URL(url).pathname.split('/').pop())),
      });
      console.log(`clients: ${count - failed} passed, ${failed} failed`);
      return failed ? 1 : 0;
    } finally {
      await reference.close();
    }
  })().then((status) => process.exit(status), (e) => {
    console.error(`clients: ${e.stack || e}`);
    process.exit(1);
  });
}
