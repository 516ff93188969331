// Fills and submits forms in Firefox ESR through puppeteer-core (WebDriver
// BiDi), for run_browser_tests.py: reads a JSON list of submissions on
// stdin, finds each field through its label, and prints a JSON list of
// results: what the page said about itself before and after the POST (its
// facts, by the job's own script), or an error. A job with "shots" saves the
// whole page as PNGs there, before the POST and after it; a job with "uppy"
// sends a file through Uppy's Dashboard instead, and one with "resume"
// reloads a tus page in the middle of its upload.
//   node firefox_forms.js < jobs.json
'use strict';
const puppeteer = require('puppeteer-core');

// The job's scripts are function bodies that read `arguments`.
function run(page, body, ...args) {
  return page.evaluate((source, values) => new Function(source)(...values), body, args);
}

async function label(page, job, text) {
  const handle = await page.evaluateHandle((source, t) => new Function(source)(t), job.findLabel, text);
  const element = handle.asElement();
  if (!element) throw new Error(`no field labelled ${text}`);
  return element;
}

async function control(page, job, text) {
  const found = await label(page, job, text);
  return (await found.evaluateHandle((l) => l.control)).asElement();
}

async function submit(page, job) {
  await page.goto(job.url, { waitUntil: 'load' });
  for (const [text, value] of job.text) {
    // The value is set as a script would: typing non-Latin text through
    // BiDi key actions depends on the keyboard layout.
    await (await control(page, job, text)).evaluate((el, v) => { el.value = v; }, value);
  }
  for (const text of job.boxes) {
    await (await label(page, job, text)).click();
  }
  for (const [text, paths] of job.files) {
    await (await control(page, job, text)).uploadFile(...paths);
  }
  const before = await run(page, job.facts);
  if (job.shots) await page.screenshot({ path: job.shots[0], fullPage: true });
  await Promise.all([page.waitForNavigation({ waitUntil: 'load', timeout: 120000 }),
                     page.click('input[type=submit]')]);
  const after = await run(page, job.facts);
  if (job.shots) await page.screenshot({ path: job.shots[1], fullPage: true });
  return { before, after };
}

// A job with "read" sends its file through a page that shows its own
// progress (upload-progress.asp) and reads it every quarter second until
// job.read says it ended: the facts before, each change, the last reading.
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

// A job with "uppy" gives its file to Uppy's Dashboard on the page, presses
// its upload button and waits for the page's window.uppyResult.
async function uppy(page, job) {
  await page.goto(job.url, { waitUntil: 'load' });
  const input = await page.waitForSelector('.uppy-Dashboard-input', { timeout: 30000 });
  await input.uploadFile(job.uppy.file);
  await (await page.waitForSelector('.uppy-StatusBar-actionBtn--upload', { timeout: 30000 })).click();
  const deadline = Date.now() + job.uppy.seconds * 1000;
  while (Date.now() < deadline) {
    const result = await page.evaluate(() => window.uppyResult || null);
    if (result) return { result };
    await new Promise((resolve) => setTimeout(resolve, 250));
  }
  throw new Error(`Uppy did not finish in ${job.uppy.seconds} s`);
}

// A job with "resume" chooses its file on a page that sends through tus
// (upload-resumable.asp), reloads the page once the server holds
// resume.reloadAt bytes, chooses the file again and submits: the page's
// message just after (where it says it continues) and its facts once its
// answer is in.
async function resume(page, job) {
  await page.goto(job.url, { waitUntil: 'load' });
  await (await page.$('#file')).uploadFile(job.resume.file);
  await page.click('input[type=submit]');
  const deadline = Date.now() + 60000;
  let held = 0;
  while (held < job.resume.reloadAt) {
    if (Date.now() > deadline) throw new Error(`the server held ${held} bytes after 60 s`);
    await new Promise((resolve) => setTimeout(resolve, 50));
    held = await page.evaluate(() => Number(document.getElementById('held').textContent));
  }
  await page.goto(job.url, { waitUntil: 'load' });
  await (await page.$('#file')).uploadFile(job.resume.file);
  const navigation = page.waitForNavigation({ waitUntil: 'load', timeout: 120000 });
  await page.click('input[type=submit]');
  let message = '';
  for (let i = 0; i < 40 && !message; i++) {
    await new Promise((resolve) => setTimeout(resolve, 50));
    message = await page.evaluate(() => document.getElementById('message').textContent).catch(() => '');
  }
  await navigation;
  return { heldAtReload: held, message, after: await run(page, job.facts) };
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
      const started = Date.now();
      try {
        const result = job.uppy ? await uppy(page, job) : job.resume ? await resume(page, job)
          : job.read ? await watch(page, job) : await submit(page, job);
        results.push({ ...result, seconds: (Date.now() - started) / 1000 });
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
  process.stderr.write(`firefox_forms: ${e && e.stack || e}\n`);
  process.exit(1);
});
