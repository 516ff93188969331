// Parses one multipart body held in memory with busboy and prints one JSON
// line: {"bytes", "runs", "median_s", "best_s", "values"}. Called by the host
// benchmark (formscan_bench) so that its ratios come from one run. ITEM "*"
// collects every field and file.
//   node busboy_bench.js BODY_FILE BOUNDARY ITEM RUNS
'use strict';
const fs = require('fs');
const busboy = require('busboy');

const [file, boundary, item, runsArg] = process.argv.slice(2);
const runs = Math.max(1, parseInt(runsArg || '5', 10));
const body = fs.readFileSync(file);
const itemLower = item.toLowerCase();

// The values of one item, as a page would collect them: text fields as
// strings, a file's bytes consumed (counted).
function parseOnce() {
  return new Promise((resolve, reject) => {
    const values = [];
    const bb = busboy({
      headers: { 'content-type': 'multipart/form-data; boundary=' + boundary },
      defParamCharset: 'latin1',
    });
    bb.on('field', (name, value) => {
      if (item === '*' || name.toLowerCase() === itemLower) values.push(value);
    });
    bb.on('file', (name, stream) => {
      if (item !== '*' && name.toLowerCase() !== itemLower) {
        stream.resume();
        return;
      }
      let n = 0;
      stream.on('data', (chunk) => { n += chunk.length; });
      stream.on('end', () => values.push(n));
    });
    bb.on('error', reject);
    bb.on('close', () => resolve(values));
    bb.end(body);
  });
}

(async () => {
  let values = await parseOnce();  // warm-up
  const times = [];
  for (let i = 0; i < runs; ++i) {
    const t0 = process.hrtime.bigint();
    values = await parseOnce();
    times.push(Number(process.hrtime.bigint() - t0) / 1e9);
  }
  times.sort((a, b) => a - b);
  const median = times[Math.floor(times.length / 2)];
  console.log(JSON.stringify({ bytes: body.length, runs, median_s: median, best_s: times[0], values: values.length }));
})().catch((err) => {
  console.error(String(err && err.stack || err));
  process.exit(1);
});
