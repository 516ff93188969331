// A large upload through tus against one LoadRequest of the same bytes, both
// through scripts/serve's page host under Wine (the x64 build where 32-bit
// code cannot run), and the cost of one tus round (HEAD + PATCH of 1 byte)
// beside a plain POST. Prints figures; asserts nothing but that each upload
// arrived whole (size and SHA-256 of the saved file).
//
// (a) tus: POST to samples/resumable.asp, then PATCHes of --chunk-mb MiB
//     (each chunk read from the file as it is sent), then
//     samples/upload-resumable.asp opens and saves the upload; against one
//     multipart POST of the same file to samples/upload-large.asp
//     (LoadRequest, SaveUnique). Each in a server of its own with one page
//     host that is never recycled, whose peak resident set (VmHWM) is read
//     from /proc when the run ends.
// (b) per round: HEAD + PATCH of 1 byte, against a POST of a one-field form
//     to upload-large.asp; medians over --rounds.
//
//   node bench/tus/tus_bench.js [--size-mb 1024] [--chunk-mb 8] [--rounds 50]
'use strict';
const { spawn } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const net = require('net');
const path = require('path');
const { request } = require('../../tests/tus/rawhttp');

const SOURCE = path.resolve(__dirname, '..', '..');
const WORK = path.join(SOURCE, 'build', 'bench-tus');
const T = ['Tus-Resumable', '1.0.0'];

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
}

async function serve(name, uploads) {
  const log = path.join(WORK, `serve-${name}.log`);
  const proc = spawn(path.join(SOURCE, 'scripts', 'serve'), ['--port', '0', '--uploads', uploads, '--hosts', '1',
    '--recycle-requests', '0', '--recycle-mb', '0', '--min-bytes-per-second', '0'],
  { stdio: ['ignore', 'pipe', fs.openSync(log, 'w')] });
  let out = '';
  const url = await new Promise((resolve, reject) => {
    proc.stdout.on('data', (d) => {
      out += d;
      const m = /http:\/\/127\.0\.0\.1:\d+\//.exec(out);
      if (m) resolve(m[0]);
    });
    proc.on('exit', (status) => reject(new Error(`scripts/serve ended (${status}); see ${log}`)));
  });
  proc.removeAllListeners('exit');
  const pid = () => Number(/page hosts \(processes (\d+)/.exec(fs.readFileSync(log, 'utf8'))?.[1]);
  // The kernel's peak resident set of the page host, in MiB.
  const peakMiB = () => {
    const status = fs.readFileSync(`/proc/${pid()}/status`, 'utf8');
    return Number(/VmHWM:\s+(\d+) kB/.exec(status)[1]) / 1024;
  };
  const stop = () => new Promise((resolve) => { proc.on('exit', resolve); proc.kill('SIGTERM'); });
  return { url, uploads, peakMiB, stop };
}

// Sends head then the file's bytes [from, from + count) over one connection;
// resolves to the answer's status, headers and body.
function streamRequest(url, head, file, from, count, prefix = Buffer.alloc(0), suffix = Buffer.alloc(0)) {
  const u = new URL(url);
  return new Promise((resolve, reject) => {
    const socket = net.connect(Number(u.port), u.hostname, async () => {
      socket.write(head + '\r\n');
      socket.write(prefix);
      const fd = fs.openSync(file, 'r');
      const buffer = Buffer.alloc(1 << 20);
      for (let done = 0; done < count;) {
        const n = fs.readSync(fd, buffer, 0, Math.min(buffer.length, count - done), from + done);
        done += n;
        if (!socket.write(buffer.subarray(0, n))) await new Promise((r) => socket.once('drain', r));
      }
      fs.closeSync(fd);
      socket.write(suffix);
    });
    const chunks = [];
    socket.on('data', (d) => chunks.push(d));
    socket.on('error', reject);
    socket.on('close', () => {
      const data = Buffer.concat(chunks);
      const end = data.indexOf('\r\n\r\n');
      const lines = data.subarray(0, end).toString('latin1').split('\r\n');
      const headers = Object.fromEntries(lines.slice(1).map((l) => [l.slice(0, l.indexOf(':')).toLowerCase(),
        l.slice(l.indexOf(':') + 1).trim()]));
      resolve({ status: Number(lines[0].split(' ')[1]), headers, body: data.subarray(end + 4).toString('utf8') });
    });
  });
}

function savedName(page, what) {
  const m = /保存名 ([0-9a-f-]{36}\.\w+)/.exec(page);
  if (!m) {
    const error = /<p class="error">([^<]*)</.exec(page);
    throw new Error(`${what} saved nothing: ${error ? error[1] : page.slice(0, 300)}`);
  }
  return m[1];
}

function sha256File(file) {
  const hash = crypto.createHash('sha256');
  const fd = fs.openSync(file, 'r');
  const buffer = Buffer.alloc(8 << 20);
  for (let n; (n = fs.readSync(fd, buffer, 0, buffer.length, null)) > 0;) hash.update(buffer.subarray(0, n));
  fs.closeSync(fd);
  return hash.digest('hex');
}

async function tusUpload(server, file, size, chunk) {
  const endpoint = server.url + 'resumable.asp';
  const started = process.hrtime.bigint();
  const created = await request(endpoint, { method: 'POST', headers: [T, ['Upload-Length', String(size)],
    ['Upload-Metadata', `filename ${Buffer.from('bench.bin').toString('base64')}`]] });
  if (created.status !== 201) throw new Error(`POST answered ${created.status}`);
  const url = new URL(created.headers.location, endpoint);
  for (let offset = 0; offset < size; offset += chunk) {
    const count = Math.min(chunk, size - offset);
    const head = `PATCH ${url.pathname}${url.search} HTTP/1.1\r\nHost: ${url.host}\r\nConnection: close\r\n` +
      `Tus-Resumable: 1.0.0\r\nUpload-Offset: ${offset}\r\nContent-Type: application/offset+octet-stream\r\n` +
      `Content-Length: ${count}\r\n`;
    const answer = await streamRequest(url.href, head, file, offset, count);
    if (answer.status !== 204) throw new Error(`PATCH at ${offset} answered ${answer.status}`);
  }
  const uploaded = Number(process.hrtime.bigint() - started) / 1e9;
  const form = multipart({ upload: url.href });
  const saved = await request(server.url + 'upload-resumable.asp', { method: 'POST', body: form.body,
    headers: [['Content-Type', form.type]] });
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  try {
    return { uploaded, seconds, name: savedName(saved.body.toString('utf8'), 'upload-resumable.asp') };
  } catch (e) {
    // The chunks' figures still stand; the save's failure is said with them.
    return { uploaded, seconds: uploaded, failure: e.message.slice(0, 300) };
  }
}

function multipart(fields) {
  const boundary = 'bench' + crypto.randomBytes(8).toString('hex');
  const body = Object.entries(fields).map(([k, v]) =>
    `--${boundary}\r\nContent-Disposition: form-data; name="${k}"\r\n\r\n${v}\r\n`).join('') + `--${boundary}--\r\n`;
  return { body, type: `multipart/form-data; boundary=${boundary}`, boundary };
}

async function loadRequestUpload(server, file, size) {
  const boundary = 'bench' + crypto.randomBytes(8).toString('hex');
  const prefix = Buffer.from(`--${boundary}\r\nContent-Disposition: form-data; name="title"\r\n\r\nbench\r\n` +
    `--${boundary}\r\nContent-Disposition: form-data; name="file"; filename="bench.bin"\r\n` +
    'Content-Type: application/octet-stream\r\n\r\n');
  const suffix = Buffer.from(`\r\n--${boundary}--\r\n`);
  const head = `POST /upload-large.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n` +
    `Content-Type: multipart/form-data; boundary=${boundary}\r\n` +
    `Content-Length: ${prefix.length + size + suffix.length}\r\n`;
  const started = process.hrtime.bigint();
  const answer = await streamRequest(server.url, head, file, 0, size, prefix, suffix);
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  return { seconds, name: savedName(answer.body, 'upload-large.asp') };
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function rounds(server, n) {
  const endpoint = server.url + 'resumable.asp';
  const created = await request(endpoint, { method: 'POST', headers: [T, ['Upload-Length', String(n)]] });
  const url = new URL(created.headers.location, endpoint).href;
  const tus = [], post = [];
  for (let i = 0; i < n; i++) {
    let t = process.hrtime.bigint();
    const head = await request(url, { method: 'HEAD', headers: [T] });
    const offset = head.headers['upload-offset'];
    const patch = await request(url, { method: 'PATCH', body: 'x', headers: [T, ['Upload-Offset', offset],
      ['Content-Type', 'application/offset+octet-stream']] });
    if (patch.status !== 204) throw new Error(`PATCH of 1 byte answered ${patch.status}`);
    tus.push(Number(process.hrtime.bigint() - t) / 1e6);
    const form = multipart({ title: 'x' });
    t = process.hrtime.bigint();
    const plain = await request(server.url + 'upload-large.asp', { method: 'POST', body: form.body,
      headers: [['Content-Type', form.type]] });
    if (plain.status !== 200) throw new Error(`the plain POST answered ${plain.status}`);
    post.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  return { tus: median(tus), post: median(post) };
}

async function main() {
  const sizeMiB = option('--size-mb', 1024), chunkMiB = option('--chunk-mb', 8), n = option('--rounds', 50);
  const size = sizeMiB << 20;
  fs.mkdirSync(WORK, { recursive: true });
  const file = path.join(WORK, 'body.bin');
  const fd = fs.openSync(file, 'w');
  for (let done = 0; done < size; done += 8 << 20) fs.writeSync(fd, crypto.randomBytes(Math.min(8 << 20, size - done)));
  fs.closeSync(fd);
  const source = sha256File(file);
  console.log(`tus benchmark: ${sizeMiB} MiB in ${chunkMiB} MiB chunks against one LoadRequest, through ` +
    'scripts/serve (one page host, never recycled)');
  const results = {};
  for (const kind of ['tus', 'LoadRequest']) {
    const uploads = path.join(WORK, `uploads-${kind}`);
    fs.rmSync(uploads, { recursive: true, force: true });
    fs.mkdirSync(uploads, { recursive: true });
    const server = await serve(kind, uploads);
    try {
      const r = kind === 'tus' ? await tusUpload(server, file, size, chunkMiB << 20) : await loadRequestUpload(server, file, size);
      const saved = r.name && path.join(uploads, r.name);
      const whole = !!saved && fs.statSync(saved).size === size && sha256File(saved) === source;
      results[kind] = { ...r, peak: server.peakMiB(), whole };
      if (saved) fs.rmSync(saved);
      if (kind === 'tus') results.rounds = await rounds(server, n);
    } finally {
      await server.stop();
    }
  }
  const tus = results.tus, load = results.LoadRequest;
  console.log(`  tus:         ${tus.seconds.toFixed(1)} s (${tus.uploaded.toFixed(1)} s the chunks, the rest the ` +
    `save), ${(sizeMiB / tus.seconds).toFixed(1)} MiB/s, page host peak ${tus.peak.toFixed(0)} MiB` +
    (tus.failure ? `, NOT SAVED: ${tus.failure}` : tus.whole ? '' : ', SAVED FILE DIFFERS'));
  console.log(`  LoadRequest: ${load.seconds.toFixed(1)} s, ${(sizeMiB / load.seconds).toFixed(1)} MiB/s, page host ` +
    `peak ${load.peak.toFixed(0)} MiB` + (load.whole ? '' : ', SAVED FILE DIFFERS'));
  console.log(`  tus / LoadRequest: ${(tus.seconds / load.seconds).toFixed(2)}x with the save (which also hashes ` +
    `the file for the page's SHA-256), ${(tus.uploaded / load.seconds).toFixed(2)}x the chunks alone`);
  console.log(`  per round (median of ${n}): HEAD + PATCH of 1 byte ${results.rounds.tus.toFixed(1)} ms, ` +
    `a plain POST ${results.rounds.post.toFixed(1)} ms`);
  fs.rmSync(file);
  return tus.whole && load.whole ? 0 : 1;
}

main().then((status) => process.exit(status), (e) => {
  console.error(`tus benchmark: ${e.stack || e}`);
  process.exit(1);
});
