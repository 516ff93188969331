// Fills and submits forms in Firefox ESR through puppeteer-core (WebDriver
// BiDi), for run_browser_tests.py: reads a JSON list of submissions on
// stdin, prints a JSON list of results (each the <li> texts of the page the
// POST answered, or an error).
//   node firefox_forms.js < jobs.json
'use strict';
const puppeteer = require('puppeteer-core');

async function submit(page, job) {
  await page.goto(job.url, { waitUntil: 'load' });
  for (const [name, value] of job.text) {
    // The value is set as a script would: typing non-Latin text through
    // BiDi key actions depends on the keyboard layout.
    await page.$eval(`[name="${name}"]`, (el, v) => { el.value = v; }, value);
  }
  for (const [name, value] of job.checks) {
    await page.click(`input[name="${name}"][value="${value}"]`);
  }
  for (const [name, paths] of job.files) {
    const input = await page.$(`input[type=file][name="${name}"]`);
    await input.uploadFile(...paths);
  }
  await Promise.all([page.waitForNavigation({ waitUntil: 'load', timeout: 120000 }),
                     page.click('input[type=submit]')]);
  return page.$$eval('li', (items) => items.map((li) => li.textContent));
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
        results.push({ items: await submit(page, job), seconds: (Date.now() - started) / 1000 });
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
