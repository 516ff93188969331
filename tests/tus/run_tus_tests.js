// Every tus test: the differential table and the tus-js-client scenarios,
// first against the reference @tus/server (which proves the harness), then
// against samples/resumable.asp served by scripts/serve (the x64 build on a
// machine that cannot run 32-bit programs), each completed upload saved by
// samples/upload-resumable.asp (Open, then SaveUnique) and compared with
// its source by SHA-256; a page host killed in the middle of a PATCH; a
// body cut by the repository's fault injector (tests/tools/cutting_proxy.py);
// and a
// farm: two scripts/serve instances, each with its own page host and Wine
// prefix, sharing one store, a client alternating between them and two
// clients writing one upload at once. Ends with "tus: N passed, M failed".
//   node run_tus_tests.js [--reference-only]
'use strict';
const { spawn, spawnSync } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const { runDifferential } = require('./differential');
const { runScenarios, upload, SIZE } = require('./clients');
const { startReference } = require('./reference');
const { request } = require('./rawhttp');

const SOURCE = path.resolve(__dirname, '..', '..');
const WORK = path.join(SOURCE, 'build', 'tus');
const sha256 = (data) => crypto.createHash('sha256').update(data).digest('hex');
const tally = { passed: 0, failed: 0, stages: [] };

function count(stage, passed, failed) {
  tally.passed += passed;
  tally.failed += failed;
  tally.stages.push(`${stage}: ${passed} passed, ${failed} failed`);
}

function fail(stage, reason) {
  console.log(`FAIL ${stage}: ${reason}`);
  count(stage, 0, 1);
}

// scripts/serve on a free port over the samples; stopped with SIGTERM.
class Serve {
  static async start(name, uploads, extra = []) {
    const serve = new Serve();
    serve.uploads = uploads;
    serve.log = path.join(WORK, `serve-${name}.log`);
    const err = fs.openSync(serve.log, 'w');
    serve.proc = spawn(path.join(SOURCE, 'scripts', 'serve'), ['--port', '0', '--uploads', uploads, '--hosts', '2',
      ...extra], { stdio: ['ignore', 'pipe', err] });
    serve.pids = [];
    let out = '';
    await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`scripts/serve did not start in 600 s (see ${serve.log})`)), 600000);
      serve.proc.stdout.on('data', (d) => {
        out += d;
        const m = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(out);
        if (m) { clearTimeout(timer); serve.url = m[0]; resolve(); }
      });
      serve.proc.on('exit', (status) => {
        clearTimeout(timer);
        reject(new Error(`scripts/serve ended (${status}): ${out.trim()} ${fs.readFileSync(serve.log, 'utf8').slice(-800)}`));
      });
    });
    serve.proc.removeAllListeners('exit');
    return serve;
  }

  // The page hosts' processes, as serve's log names them.
  hostPids() {
    const log = fs.readFileSync(this.log, 'utf8');
    const pids = new Set();
    for (const m of log.matchAll(/page hosts \(processes ([\d, ]+)\)/g)) m[1].split(', ').forEach((p) => pids.add(+p));
    for (const m of log.matchAll(/\(process (\d+) ends, (\d+) takes/g)) { pids.delete(+m[1]); pids.add(+m[2]); }
    return [...pids];
  }

  stop() {
    return new Promise((resolve) => {
      this.proc.on('exit', resolve);
      this.proc.kill('SIGTERM');
    });
  }
}

// The stored upload, saved by the sample page: its bytes.
async function savedBySample(serve, uploadUrl) {
  const boundary = 'tus-test-' + crypto.randomBytes(8).toString('hex');
  const body = `--${boundary}\r\nContent-Disposition: form-data; name="upload"\r\n\r\n${uploadUrl}\r\n--${boundary}--\r\n`;
  const answer = await request(serve.url + 'upload-resumable.asp', { method: 'POST', body,
    headers: [['Content-Type', `multipart/form-data; boundary=${boundary}`]] });
  const page = (answer.body || Buffer.alloc(0)).toString('utf8');
  const m = /保存名 ([0-9a-f-]{36}\.\w+)/.exec(page);
  if (answer.status !== 200 || !m) {
    const error = /<p class="error">([^<]*)</.exec(page);
    throw new Error(`upload-resumable.asp answered ${answer.status}: ${error ? error[1] : page.slice(0, 300)}`);
  }
  const saved = fs.readFileSync(path.join(serve.uploads, m[1]));
  const said = /SHA-256: ([0-9a-f]{64})/.exec(page);
  if (!said || said[1] !== sha256(saved)) throw new Error(`the page says SHA-256 ${said && said[1]}, the saved file has ${sha256(saved)}`);
  return saved;
}

async function referenceStages() {
  const d = await runDifferential(null);
  count('differential, reference alone', d.passed, d.failed);
  const reference = await startReference({ maxSize: 1 << 30 });
  try {
    const c = await runScenarios({ endpoint: reference.url, label: 'reference',
      stored: async (url) => fs.readFileSync(reference.idFile(new URL(url).pathname.split('/').pop())) });
    count('tus-js-client, reference', c.count - c.failed, c.failed);
  } finally {
    await reference.close();
  }
}

async function serveStages() {
  const uploads = path.join(WORK, 'uploads');
  fs.rmSync(uploads, { recursive: true, force: true });
  fs.mkdirSync(uploads, { recursive: true });
  let serve;
  try {
    serve = await Serve.start('one', uploads);
  } catch (e) {
    fail('scripts/serve with samples/resumable.asp', e.message);
    return;
  }
  try {
    const endpoint = serve.url + 'resumable.asp';
    const d = await runDifferential(endpoint);
    count('differential, resumable.asp beside the reference', d.passed, d.failed);
    const killed = {
      name: 'the page host killed in the middle of a PATCH, resumed', resends: true,
      midway: { patch: 4, after: 128 << 10, action: () => serve.hostPids().forEach((pid) => {
        try { process.kill(pid, 'SIGKILL'); } catch (e) { /* already gone */ }
      }) },
      run: async (url, data) => [await upload(url, data, { retryDelays: [500, 1000, 2000, 4000, 8000] })],
      check: () => (/page host ended in the middle of a page/.test(fs.readFileSync(serve.log, 'utf8')) ? []
        : ['serve\'s log tells of no page host ended mid-page']),
    };
    const injected = {
      name: 'a PATCH body cut after 100000 bytes by tests/tools/cutting_proxy.py, resumed by the client\'s retry',
      front: cuttingProxy,
      run: async (url, data) => [await upload(url, data, { retryDelays: [200, 500, 1000, 2000] })],
    };
    const c = await runScenarios({ endpoint, label: 'resumable.asp', stored: (url) => savedBySample(serve, url) },
      [killed, injected]);
    count('tus-js-client, resumable.asp', c.count - c.failed, c.failed);
  } finally {
    await serve.stop();
  }
  await farmStage();
}

// The repository's fault injector in front of origin, cutting the third
// PATCH after 100000 bytes: { origin, cuts(), close() }.
async function cuttingProxy(origin) {
  const script = path.join(SOURCE, 'tests', 'tools', 'cutting_proxy.py');
  if (!fs.existsSync(script)) throw new Error('tests/tools/cutting_proxy.py, the fault injector, is not there');
  const proc = spawn('/usr/bin/python3', [script, '--upstream', new URL(origin).host, '--cut-after', '100000',
    '--method', 'PATCH', '--request', '3'], { stdio: ['ignore', 'pipe', 'inherit'] });
  let out = '';
  const port = await new Promise((resolve, reject) => {
    proc.stdout.on('data', (d) => {
      out += d;
      const m = /listening on 127\.0\.0\.1:(\d+)/.exec(out);
      if (m) resolve(m[1]);
    });
    proc.on('exit', (status) => reject(new Error(`cutting_proxy.py ended (${status}): ${out}`)));
  });
  proc.removeAllListeners('exit');
  return { origin: `http://127.0.0.1:${port}`, cuts: () => (out.match(/^cut \d+:/gm) || []).length,
           close: () => proc.kill('SIGTERM') };
}

// Two servers, one store: each scripts/serve with a Wine prefix of its own.
async function farmStage() {
  const help = spawnSync(path.join(SOURCE, 'scripts', 'serve'), ['--help'], { encoding: 'utf8' }).stdout || '';
  const option = /(--wine-prefix|--prefix)\b/.exec(help);
  if (!option) {
    // Still run over the build's one prefix (one Wine server for both, so
    // its locks are seen by both as on one machine), and say what is missing.
    fail('farm, a Wine prefix for each server', 'scripts/serve --help names no option for a Wine prefix of its own, ' +
      'which a second server needs; the farm below shares the build\'s prefix');
  }
  const uploads = path.join(WORK, 'farm-uploads');
  fs.rmSync(uploads, { recursive: true, force: true });
  fs.mkdirSync(uploads, { recursive: true });
  const servers = [];
  try {
    for (const name of ['a', 'b']) {
      servers.push(await Serve.start(`farm-${name}`, uploads,
        option ? [option[1], path.join(WORK, `farm-prefix-${name}`)] : []));
    }
  } catch (e) {
    fail('farm', e.message);
    await Promise.all(servers.map((s) => s.stop()));
    return;
  }
  try {
    const endpoints = servers.map((s) => s.url + 'resumable.asp');
    const alternate = {
      name: 'a client whose every request goes to the other server',
      check: (f) => (f.byServer.every((n) => n >= 5) ? [] : [`requests per server: ${f.byServer.join(', ')}`]),
      run: async (url, data) => [await upload(url, data)],
    };
    const c = await runScenarios({ endpoint: endpoints[0], upstreams: servers.map((s) => new URL(s.url).origin),
      label: 'farm', stored: (url) => savedBySample(servers[1], url), only: true }, [alternate]);
    count('farm, alternating servers', c.count - c.failed, c.failed);
    const faults = await twoWriters(endpoints, servers);
    console.log(`${faults.length ? 'FAIL' : 'ok  '} farm: two clients writing one upload at once, one on each server`);
    faults.forEach((f) => console.log(`       ${f}`));
    count('farm, two writers', faults.length ? 0 : 1, faults.length ? 1 : 0);
  } finally {
    await Promise.all(servers.map((s) => s.stop()));
  }
}

// Two PATCHes at offset 0 of one upload, one through each server, their
// bodies overlapping in time: one is taken, the other refused (423 or 409),
// and the upload holds one body whole, never a mix.
async function twoWriters(endpoints, servers) {
  const n = 1 << 20;
  const bodies = [Buffer.alloc(n, 0x41), Buffer.alloc(n, 0x42)];
  const T = ['Tus-Resumable', '1.0.0'];
  const created = await request(endpoints[0], { method: 'POST', headers: [T, ['Upload-Length', String(n)],
    ['Upload-Metadata', `filename ${Buffer.from('two.bin').toString('base64')}`]] });
  if (created.status !== 201) return [`POST answered ${created.status}`];
  const idUrl = new URL(created.headers.location, endpoints[0]);
  const on = (i) => new URL(idUrl.pathname + idUrl.search, endpoints[i]).href;
  const patch = (i, delay) => new Promise((resolve) => setTimeout(resolve, delay)).then(() =>
    request(on(i), { method: 'PATCH', body: bodies[i], pause: { after: n / 2, ms: 3000 },
      headers: [T, ['Upload-Offset', '0'], ['Content-Type', 'application/offset+octet-stream']] }));
  const answers = await Promise.all([patch(0, 0), patch(1, 1000)]);
  const statuses = answers.map((a) => a.status);
  const faults = [];
  const taken = statuses.indexOf(204);
  if (statuses.filter((s) => s === 204).length !== 1 || !statuses.some((s) => s === 423 || s === 409)) {
    faults.push(`the two PATCHes answered ${statuses.join(' and ')}: one 204 and one 423 or 409 expected`);
  }
  console.log(`       two writers: server a answered ${statuses[0]}, server b ${statuses[1]}`);
  if (taken >= 0) {
    try {
      const saved = await savedBySample(servers[1 - taken], on(1 - taken));
      if (!saved.equals(bodies[taken])) faults.push('the saved upload is not the accepted body whole');
    } catch (e) {
      faults.push(e.message);
    }
  }
  return faults;
}

async function main() {
  fs.mkdirSync(WORK, { recursive: true });
  await referenceStages();
  if (!process.argv.includes('--reference-only')) await serveStages();
  console.log(tally.stages.map((s) => `  ${s}`).join('\n'));
  console.log(`tus: ${tally.passed} passed, ${tally.failed} failed`);
  return tally.failed ? 1 : 0;
}

main().then((status) => process.exit(status), (e) => {
  console.error(`tus: ${e.stack || e}`);
  console.log(`tus: ${tally.passed} passed, ${tally.failed + 1} failed`);
  process.exit(1);
});
