// The differential table: one list of raw tus requests, good and bad, sent
// in order to the reference server (@tus/server, started here on a free
// port over a temporary store) and, when given, to another end point; a
// table of each answer's status and tus headers side by side. Every row
// also says which statuses the protocol allows; an answer outside them, or
// a difference between the two servers that the row does not list with its
// reason, fails the run. Ids differ by server: a Location is compared by
// its shape (an upload URL of the same server, its id URL-safe), and the
// rows that name unknown ids build them on each server's own URL pattern.
//   node differential.js [END-POINT-URL]     (exit status 1 on a failure)
'use strict';
const crypto = require('crypto');
const { request } = require('./rawhttp');
const { startReference } = require('./reference');

const T = ['Tus-Resumable', '1.0.0'];
const OCTETS = ['Content-Type', 'application/offset+octet-stream'];
const patch = (offset, ...extra) => [T, OCTETS, ['Upload-Offset', String(offset)], ...extra];
const digest = (algorithm, text) => crypto.createHash(algorithm).update(text).digest('base64');
const b64 = (text) => Buffer.from(text, 'utf8').toString('base64');
const JP_NAME = '\u65e5\u672c\u8a9e.txt';

// The reference's departures from the protocol's text, each said once.
const REF_412 = 'the reference answers 400 where the protocol says 412 (with Tus-Version) for another Tus-Resumable';
const REF_415 = 'the reference answers 400 where the protocol says 415 for a PATCH of another Content-Type';
const REF_CHECKSUM = 'the reference ignores Upload-Checksum (its file store has no checksum extension): it keeps ' +
  'the chunk the protocol says to discard with 460 (or 400 for an algorithm it does not support)';
const REF_KEPT = 'the reference kept the chunk of the row before, which the protocol discards';
const OFFSET_409 = 'a server may tell the offset it holds with 409 (the protocol asks for none there; a client asks ' +
  'with HEAD)';
const EXTENSIONS = 'the reference announces no checksum extension and no algorithms (its file store has none)';

// Each row: the request (at: the creation URL, an upload saved by an
// earlier row, or { unknown: id } on that server's upload URL pattern), the
// statuses the protocol allows, what the end point must further show
// (check: a predicate over the normalised answer), the upload it creates
// (save), and what the reference does otherwise (departs: its status, or
// differs: header -> reason).
const ROWS = [
  { name: 'OPTIONS: the server\'s capabilities', method: 'OPTIONS', at: 'endpoint', headers: [], status: [200, 204],
    check: (a) => a.tus['tus-version']?.split(',').includes('1.0.0') &&
      ['creation', 'creation-with-upload', 'creation-defer-length', 'termination', 'expiration', 'checksum']
        .every((e) => a.tus['tus-extension']?.split(',').includes(e)) &&
      a.tus['tus-checksum-algorithm']?.split(',').includes('sha1'),
    differs: { 'tus-extension': EXTENSIONS, 'tus-checksum-algorithm': EXTENSIONS } },
  // The core: creation, HEAD, PATCH in order.
  { name: 'POST creates (metadata with a Japanese file name)', method: 'POST', at: 'endpoint', save: 'a',
    headers: [T, ['Upload-Length', '11'], ['Upload-Metadata', `filename ${b64(JP_NAME)},filetype ${b64('text/plain')},flag`]],
    status: [201], check: (a) => a.tus.location === '<new upload URL>' },
  { name: 'HEAD of a new upload', method: 'HEAD', at: 'a', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '0' && a.tus['upload-length'] === '11' && a.tus['cache-control'] === 'no-store' &&
      a.tus['upload-metadata'] === `filename=${JP_NAME};filetype=text/plain;flag=` },
  { name: 'PATCH the first 5 bytes', method: 'PATCH', at: 'a', headers: patch(0), body: 'hello', status: [204],
    check: (a) => a.tus['upload-offset'] === '5' },
  { name: 'PATCH at a stale offset: 409', method: 'PATCH', at: 'a', headers: patch(0), body: 'hello', status: [409],
    differs: { 'upload-offset': OFFSET_409 } },
  { name: 'PATCH past the offset held: 409', method: 'PATCH', at: 'a', headers: patch(7), body: 'xx', status: [409],
    differs: { 'upload-offset': OFFSET_409 } },
  { name: 'PATCH of another Content-Type: 415', method: 'PATCH', at: 'a', status: [415], departs: { status: 400, why: REF_415 },
    headers: [T, ['Content-Type', 'text/plain'], ['Upload-Offset', '5']], body: ' worl' },
  { name: 'PATCH without Upload-Offset: 400', method: 'PATCH', at: 'a', headers: [T, OCTETS], body: ' worl', status: [400],
    departs: { status: 403, why: 'the reference answers 403 for a PATCH without Upload-Offset, which the protocol ' +
      'requires; a missing header is a bad request (400) as a malformed one is' } },
  ...[['negative', '-5'], ['leading +', '+5'], ['overflow', '99999999999999999999999'], ['inner space', '5 5'],
      ['two values in one', '5,5'], ['not a number', 'five']].map(([what, value]) => (
    { name: `PATCH, Upload-Offset ${what} (${value}): 400`, method: 'PATCH', at: 'a', status: [400],
      headers: [T, OCTETS, ['Upload-Offset', value]], body: ' worl' })),
  { name: 'PATCH, Upload-Offset given twice: 400', method: 'PATCH', at: 'a', status: [400],
    headers: [T, OCTETS, ['Upload-Offset', '5'], ['Upload-Offset', '5']], body: ' worl' },
  { name: 'HEAD after the refusals: still 5', method: 'HEAD', at: 'a', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '5' },
  { name: 'HEAD with another Tus-Resumable: 412', method: 'HEAD', at: 'a', headers: [['Tus-Resumable', '0.2.0']],
    status: [412], check: (a) => a.tus['tus-version']?.split(',').includes('1.0.0'), departs: { status: 400, why: REF_412 } },
  { name: 'PATCH with another Tus-Resumable: 412', method: 'PATCH', at: 'a', status: [412], departs: { status: 400, why: REF_412 },
    headers: [['Tus-Resumable', '0.2.0'], OCTETS, ['Upload-Offset', '5']], body: ' worl',
    check: (a) => a.tus['tus-version']?.split(',').includes('1.0.0') },
  { name: 'PATCH of no bytes at the offset', method: 'PATCH', at: 'a', headers: patch(5), status: [204],
    check: (a) => a.tus['upload-offset'] === '5' },
  { name: 'POST with X-HTTP-Method-Override: PATCH', method: 'POST', at: 'a', status: [204],
    headers: [...patch(5), ['X-HTTP-Method-Override', 'PATCH']], body: ' worl', check: (a) => a.tus['upload-offset'] === '10' },
  { name: 'PATCH of more bytes than the length: 400 or 413', method: 'PATCH', at: 'a', headers: patch(10), body: 'd!!',
    status: [400, 413] },
  { name: 'HEAD: nothing appended beyond the length', method: 'HEAD', at: 'a', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '10' },
  { name: 'PATCH the last byte', method: 'PATCH', at: 'a', headers: patch(10), body: 'd', status: [204],
    check: (a) => a.tus['upload-offset'] === '11' },
  { name: 'HEAD of the completed upload', method: 'HEAD', at: 'a', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '11' && a.tus['upload-length'] === '11' },
  // Creation's refusals.
  { name: 'POST without Upload-Length: 400', method: 'POST', at: 'endpoint', headers: [T], status: [400] },
  ...[['negative', '-1'], ['leading +', '+5'], ['overflow', '99999999999999999999999'], ['inner space', '5 5'],
      ['two values in one', '5,5'], ['not a number', 'five']].map(([what, value]) => (
    { name: `POST, Upload-Length ${what} (${value}): 400`, method: 'POST', at: 'endpoint', status: [400],
      headers: [T, ['Upload-Length', value]] })),
  { name: 'POST, Upload-Length given twice: 400', method: 'POST', at: 'endpoint', status: [400],
    headers: [T, ['Upload-Length', '5'], ['Upload-Length', '5']] },
  { name: 'POST over the largest size: 413', method: 'POST', at: 'endpoint', status: [413],
    headers: (max) => [T, ['Upload-Length', String(max + 1)]] },
  { name: 'POST, Upload-Metadata not base64: 400', method: 'POST', at: 'endpoint', status: [400],
    headers: [T, ['Upload-Length', '5'], ['Upload-Metadata', 'filename !!!not-base64!!!']] },
  { name: 'POST, Upload-Defer-Length 2: 400', method: 'POST', at: 'endpoint', status: [400],
    headers: [T, ['Upload-Defer-Length', '2']] },
  { name: 'POST with another Tus-Resumable: 412', method: 'POST', at: 'endpoint', status: [412],
    headers: [['Tus-Resumable', '0.2.0'], ['Upload-Length', '5']], departs: { status: 400, why: REF_412 },
    check: (a) => a.tus['tus-version']?.split(',').includes('1.0.0') },
  // creation-with-upload, creation-defer-length.
  { name: 'POST with the first 4 bytes', method: 'POST', at: 'endpoint', save: 'b', status: [201],
    headers: [T, OCTETS, ['Upload-Length', '8']], body: 'abcd',
    check: (a) => a.tus.location === '<new upload URL>' && a.tus['upload-offset'] === '4' },
  { name: 'HEAD: the 4 bytes held', method: 'HEAD', at: 'b', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '4' && a.tus['upload-length'] === '8' },
  { name: 'POST, length deferred', method: 'POST', at: 'endpoint', save: 'd', status: [201],
    headers: [T, ['Upload-Defer-Length', '1']] },
  { name: 'HEAD: Upload-Defer-Length, no length', method: 'HEAD', at: 'd', headers: [T], status: [200],
    check: (a) => a.tus['upload-defer-length'] === '1' && a.tus['upload-length'] === undefined },
  { name: 'PATCH, length still deferred', method: 'PATCH', at: 'd', headers: patch(0), body: 'abc', status: [204],
    check: (a) => a.tus['upload-offset'] === '3' },
  { name: 'PATCH that declares the length', method: 'PATCH', at: 'd', headers: patch(3, ['Upload-Length', '6']),
    body: 'def', status: [204], check: (a) => a.tus['upload-offset'] === '6' },
  { name: 'HEAD: length 6, all held', method: 'HEAD', at: 'd', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '6' && a.tus['upload-length'] === '6' && a.tus['upload-defer-length'] === undefined },
  // Checksums: a chunk that does not match is discarded.
  { name: 'POST for the checksum rows', method: 'POST', at: 'endpoint', save: 'c', headers: [T, ['Upload-Length', '15']],
    status: [201] },
  ...[['sha1', 0, 'hello'], ['md5', 5, 'world'], ['sha256', 10, 'again']].map(([algorithm, offset, text]) => (
    { name: `PATCH with its right ${algorithm} Upload-Checksum`, method: 'PATCH', at: 'c', status: [204], body: text,
      headers: patch(offset, ['Upload-Checksum', `${algorithm} ${digest(algorithm, text)}`]),
      check: (a) => a.tus['upload-offset'] === String(offset + text.length) })),
  { name: 'POST for a wrong checksum', method: 'POST', at: 'endpoint', save: 'w', headers: [T, ['Upload-Length', '5']],
    status: [201] },
  { name: 'PATCH with a wrong sha1 Upload-Checksum: 460', method: 'PATCH', at: 'w', status: [460], body: 'hello',
    headers: patch(0, ['Upload-Checksum', `sha1 ${digest('sha1', 'hellO')}`]), departs: { status: 204, why: REF_CHECKSUM } },
  { name: 'HEAD: the mismatched chunk discarded', method: 'HEAD', at: 'w', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '0', differs: { 'upload-offset': REF_KEPT } },
  { name: 'POST for an unknown algorithm', method: 'POST', at: 'endpoint', save: 'u', headers: [T, ['Upload-Length', '5']],
    status: [201] },
  { name: 'PATCH with Upload-Checksum crc32: 400', method: 'PATCH', at: 'u', status: [400], body: 'hello',
    headers: patch(0, ['Upload-Checksum', 'crc32 NhCmhg==']), departs: { status: 204, why: REF_CHECKSUM } },
  { name: 'HEAD: the unchecked chunk discarded', method: 'HEAD', at: 'u', headers: [T], status: [200],
    check: (a) => a.tus['upload-offset'] === '0', differs: { 'upload-offset': REF_KEPT } },
  // Termination, unknown ids, ids that name other files.
  { name: 'DELETE an upload', method: 'DELETE', at: 'b', headers: [T], status: [204] },
  { name: 'HEAD of a deleted upload: 404 or 410', method: 'HEAD', at: 'b', headers: [T], status: [404, 410] },
  { name: 'PATCH of a deleted upload: 404 or 410', method: 'PATCH', at: 'b', headers: patch(4), body: 'efgh',
    status: [404, 410] },
  ...['0123456789abcdef0123456789abcdef', '..', '../README.md', '..\\x', 'C:x', 'CON', 'NUL.txt', ''].map((id) => (
    { name: `HEAD, unknown id ${JSON.stringify(id)}: 404`, method: 'HEAD', at: { unknown: id }, headers: [T],
      status: id ? [404] : [400, 404, 405] })),
  { name: 'PATCH, unknown id: 404', method: 'PATCH', at: { unknown: 'Zm9vYmFyYmF6cXV4' }, headers: patch(0), body: 'x',
    status: [404] },
  { name: 'DELETE, unknown id: 404', method: 'DELETE', at: { unknown: 'Zm9vYmFyYmF6cXV4' }, headers: [T], status: [404] },
];

// The tus headers of an answer in comparable form.
function normalise(answer, server, row) {
  const tus = {};
  const h = answer.headers || {};
  for (const name of ['tus-resumable', 'tus-version', 'tus-max-size', 'upload-offset', 'upload-length',
                      'upload-defer-length']) {
    if (name in h) tus[name] = h[name];
  }
  for (const name of ['tus-extension', 'tus-checksum-algorithm']) {
    if (name in h) tus[name] = h[name].split(',').map((s) => s.trim()).sort().join(',');
  }
  // An upload created without a body holds 0 bytes, said or not.
  if (row.method === 'POST' && answer.status === 201 && !('upload-offset' in h)) tus['upload-offset'] = '0';
  if ('upload-metadata' in h) tus['upload-metadata'] = metadata(h['upload-metadata']);
  // The protocol asks for Upload-Expires with POST and PATCH; on HEAD a
  // server may say it or not.
  if ('upload-expires' in h && row.method !== 'HEAD') {
    tus['upload-expires'] = Number.isNaN(Date.parse(h['upload-expires'])) ? h['upload-expires'] : '<date>';
  }
  if (row.method === 'HEAD' && answer.status === 200) tus['cache-control'] = h['cache-control'];
  if ('location' in h) tus.location = location(h.location, server);
  return { status: answer.status, tus, error: answer.error };
}

function metadata(value) {
  return value.split(',').map((pair) => {
    const [key, encoded] = pair.trim().split(' ');
    return `${key}=${encoded === undefined ? '' : Buffer.from(encoded, 'base64').toString('utf8')}`;
  }).sort().join(';');
}

// An upload URL's id: the "id" of its query, or its last path segment.
function idOf(url) {
  return url.searchParams.get('id') ?? decodeURIComponent(url.pathname.split('/').pop());
}

function location(value, server) {
  let url;
  try {
    url = new URL(value, server.url);
  } catch (e) {
    return value;
  }
  const id = idOf(url);
  const fresh = url.origin === new URL(server.url).origin && /^[A-Za-z0-9_-]{16,}$/.test(id) && !server.ids.has(id);
  return fresh ? '<new upload URL>' : value;
}

// The URL of a made-up id, on the pattern of an upload URL the server gave.
function unknownUrl(server, id) {
  const url = new URL(server.uploads.a);
  if (url.searchParams.has('id')) {
    url.searchParams.set('id', id);
    return url.href;
  }
  return url.href.slice(0, url.href.lastIndexOf('/') + 1) + encodeURIComponent(id);
}

async function send(server, row, maxSize) {
  let url;
  if (row.at === 'endpoint') url = server.url;
  else if (typeof row.at === 'string') url = server.uploads[row.at];
  else url = unknownUrl(server, row.at.unknown);
  if (!url) return { status: 0, tus: {}, error: `no upload ${row.at}: its POST failed` };
  const headers = typeof row.headers === 'function' ? row.headers(maxSize) : row.headers;
  const answer = await request(url, { method: row.method, headers, body: row.body || '' });
  const result = normalise(answer, server, row);
  if (row.save && answer.status === 201 && answer.headers.location) {
    const saved = new URL(answer.headers.location, server.url);
    server.uploads[row.save] = saved.href;
    server.ids.add(idOf(saved));
  }
  return result;
}

function said(result) {
  if (!result.status) return `no answer (${result.error})`;
  return `${result.status} ` + Object.entries(result.tus).map(([k, v]) => `${k}: ${v}`).join(' | ');
}

// What is wrong with a row's answers: a list of reasons (empty: it passes).
function judge(row, ref, target) {
  const faults = [];
  const departs = row.departs;
  if (!row.status.includes(ref.status) && !(departs && departs.status === ref.status)) {
    faults.push(`the reference answered ${ref.status}, the protocol allows ${row.status.join(' or ')} and the table ` +
      `lists ${departs ? departs.status : 'no departure'}`);
  }
  // A row that lists how the reference differs checks the end point alone.
  if (!departs && !row.differs && row.check && !row.check(ref)) faults.push('the reference fails the row\'s check');
  if (!target) return faults;
  if (!row.status.includes(target.status)) {
    faults.push(`the end point answered ${target.status}, the protocol allows ${row.status.join(' or ')}`);
  } else if (row.check && !row.check(target)) {
    faults.push('the end point fails the row\'s check');
  }
  if (!departs && ref.status !== target.status && !(row.status.includes(ref.status) && row.status.includes(target.status))) {
    faults.push(`statuses differ: ${ref.status} and ${target.status}`);
  }
  if (!departs && ref.status === target.status) {
    const names = new Set([...Object.keys(ref.tus), ...Object.keys(target.tus)]);
    for (const name of names) {
      if (ref.tus[name] !== target.tus[name] && !(row.differs && row.differs[name])) {
        faults.push(`${name} differs: ${ref.tus[name]} and ${target.tus[name]}`);
      }
    }
  }
  return faults;
}

// The reasons a row's answers differ, as the table lists them.
function reasons(row, ref, target) {
  const out = [];
  if (row.departs && ref.status !== target?.status) out.push(row.departs.why);
  for (const [name, why] of Object.entries(row.differs || {})) {
    if (!target || ref.tus[name] !== target.tus[name]) out.push(`${name}: ${why}`);
  }
  return [...new Set(out)];
}

async function maxSizeOf(url) {
  const answer = await request(url, { method: 'OPTIONS', headers: [T] });
  const max = Number(answer.headers?.['tus-max-size']);
  if (!answer.status) throw new Error(`${url} does not answer: ${answer.error}`);
  return Number.isSafeInteger(max) && max > 0 ? max : 1 << 30;
}

// Runs the table against the reference alone (targetUrl null) or beside
// the end point at targetUrl; resolves to { passed, failed }.
async function runDifferential(targetUrl) {
  const maxSize = targetUrl ? await maxSizeOf(targetUrl) : 1 << 20;
  const reference = await startReference({ maxSize });
  const servers = [{ label: 'reference', url: reference.url, uploads: {}, ids: new Set() }];
  if (targetUrl) servers.push({ label: 'end point', url: targetUrl, uploads: {}, ids: new Set() });
  console.log(`differential: reference @tus/server at ${reference.url}` +
    (targetUrl ? `, end point ${targetUrl}` : ' alone (no end point given)') + `; largest size ${maxSize}`);
  let failed = 0, listed = 0;
  try {
    for (const [i, row] of ROWS.entries()) {
      const [ref, target] = [await send(servers[0], row, maxSize), targetUrl ? await send(servers[1], row, maxSize) : null];
      const faults = judge(row, ref, target);
      const why = reasons(row, ref, target);
      listed += why.length > 0;
      failed += faults.length > 0;
      console.log(`${faults.length ? 'FAIL' : 'ok  '} ${String(i + 1).padStart(2)} ${row.method} ${row.name} ` +
        `(protocol: ${row.status.join('/')})`);
      console.log(`        reference  ${said(ref)}`);
      if (target) console.log(`        end point  ${said(target)}`);
      for (const w of why) console.log(`        differs:   ${w}`);
      for (const f of faults) console.log(`        fault:     ${f}`);
    }
  } finally {
    await reference.close();
  }
  console.log(`differential: ${ROWS.length - failed} passed, ${failed} failed (${ROWS.length} rows, ` +
    `${listed} with a listed difference)`);
  return { passed: ROWS.length - failed, failed };
}

module.exports = { runDifferential };

if (require.main === module) {
  runDifferential(process.argv[2]).then(({ failed }) => process.exit(failed ? 1 : 0), (e) => {
    console.error(`differential: ${e.stack || e}`);
    process.exit(1);
  });
}
