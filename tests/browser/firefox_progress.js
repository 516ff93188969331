// Sends a file through samples/upload-progress.asp in Firefox ESR
// (puppeteer-core, WebDriver BiDi) and reads the page's progress bar while
// it goes, for run_browser_tests.py: reads a JSON list of jobs on stdin
// ({url, file, facts, read, seconds}) and prints a JSON list of results:
// the page's facts before sending, every change the bar showed, and the
// last reading; or an error.
//   node firefox_progress.js < jobs.json
'use strict';
const puppeteer = require('puppeteer-core');

function run(page, body) {
  return page.evaluate((source) => new Function(source)(), body);
}

async function watch(page, job) {
  await page.goto(job.url, { waitUntil: 'load' });
  const facts = await run(page, job.facts);
  await (await page.$('#file')).uploadFile(job.file);
  await page.click('input[type=submit]');
  const readings = [];
  const deadline = Date.now() + job.seconds * 1000;
  let last = null;
  while (Date.now() < deadline) {
    last = await run(page, job.read);
    if (!readings.length || readings[readings.length - 1].percent !== last.percent) readings.push(last);
    if (last.ended) break;
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
  return { facts, readings, last };
}

async function main() {
  let input = '';
  for await (const chunk of process.stdin) input += chunk;
  const jobs = JSON.parse(input);
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: '/usr/bin/firefox-esr',
    headless: true,
    protocol: 'webDriverBiDi',
    timeout: 60000,
  });
  const results = [];
  try {
    const page = await browser.newPage();
    for (const job of jobs) {
      try {
        results.push(await watch(page, job));
      } catch (e) {
        results.push({ error: String(e && e.stack || e) });
      }
    }
  } finally {
    await browser.close();
  }
  process.stdout.write(JSON.stringify(results));
}

main().catch((e) => {
  process.stderr.write(`firefox_progress: ${e && e.stack || e}\n`);
  process.exit(1);
});
