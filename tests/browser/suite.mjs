// The help desk's pages in headless Chromium, over a home that run-suite made
// with scripts/demo: the index page, the start page, the add form and its
// menus, cases submitted from it and a refused one, the administration and
// its chart settings save (kept over a rerun of scripts/demo, as the cases
// are), its settings pages and editors (the object editor and the alarm
// message, kept over a rerun too), a computer's inventory, the refusals of
// requests that may not pass (each a styled page in
// the sample's words, with a way back and a real link onward), the sign-in
// page while logins are off, and with logins on the road from the index
// page's main button through the sign-in to a signed-in start page, a new
// account, a password change, a logout after which Back shows no signed-in
// page, a page without its session and a wrong password; on that road a
// user's and a staff member's defaults, the administration's forms for
// other people's defaults and a case filled from them, the month
// calendar with its cases by day and status, and the case tree by status
// and category with a category that would break its script. Every page, the
// refusals too, is checked for what a person would notice (a marker left in
// the page, "No object value for", a link whose action swallowed the page, a
// script or loading error, a page wider than a phone) and photographed at a
// desktop's and a phone's width.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const env = (name) => {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set: run the suite through run-suite`);
  return v;
};
const home = env('KIV_BROWSER_HOME');
const port = env('KIV_BROWSER_PORT');
const shots = env('KIV_BROWSER_SHOTS');
const adminPassword = env('KIV_BROWSER_ADMIN_PASSWORD');
const require = createRequire(path.join(env('KIV_BROWSER_MODULES'), 'suite.cjs'));
const { chromium } = require('playwright-core');

const base = `http://127.0.0.1:${port}`;
const kepa = `${base}/cgi-bin/kepa.cgi`;
const up = `${base}/cgi-bin/up.cgi`;
const desktop = { width: 1280, height: 800 };
const phone = { width: 390, height: 844 };

// Texts of the template engine that must never reach a page: the markers'
// opening and closing codes, and the table's stand-in for a missing value.
const kOpenMarker = /(MB|FB|EB|AB|VB|HB|DB|RB|LIBB|TB|TNB|CB)\{/;
const kCloseMarker = /\}(ME|FE|LFE|EE|AE|VE|HE|MDE|DE|ODE|LODE|RE|LIBE|TE|TNE|CE|LCE|ACE)/;

let context;
let page;
const problems = [];     // script errors, failed loads, bad statuses of the current page
const documents = [];    // the page documents loaded since the last check

function watch(p) {
  p.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  p.on('pageerror', (e) => problems.push(`script error: ${e.message}`));
  p.on('requestfailed', (r) => problems.push(`failed: ${r.url()} ${r.failure()?.errorText}`));
  p.on('response', async (r) => {
    // The administration's password is asked for once (401) and then sent.
    if (r.status() >= 400 && r.status() !== 401) problems.push(`status ${r.status()}: ${r.url()}`);
    if (r.request().resourceType() === 'document' && r.request().frame() === p.mainFrame()) {
      documents.push({ url: r.url(), body: r.text().catch(() => '') });
    }
  });
}

// Checks every document loaded since the last check and the page as it
// stands, then photographs it as `name`. A refusal is framed by the
// installation's error head and foot, which are written as they stand: its
// links carry no key, and it must show the frame (the stylesheet's site bar,
// the reason, a way back and a real link onward).
async function checkPage(name, { refusal = false } = {}) {
  await page.waitForLoadState('load');
  assert.ok(documents.length > 0, `${name}: no page was loaded`);
  for (const d of documents.splice(0)) {
    const body = await d.body;
    assert.ok(!body.includes('No object value for'), `${name}: "No object value for" in ${d.url}`);
    assert.ok(!kOpenMarker.test(body), `${name}: a marker is left in ${d.url}: ${body.match(kOpenMarker)?.[0]}`);
    assert.ok(!kCloseMarker.test(body), `${name}: a marker end is left in ${d.url}: ${body.match(kCloseMarker)?.[0]}`);
    if (d.url.includes('/cgi-bin/') && !refusal) {
      // The links are the page's markup: a script's text (the case tree's
      // code, whose links JavaScript escapes write with \x26) is no link.
      const markup = body.replace(/<script\b[^>]*>[\s\S]*?<\/script\s*>/gi, '');
      // Every action link got its session key, so none swallowed the page.
      for (const m of markup.matchAll(/KIVACTION=([^&"<>\s]*)(.{0,12})/g)) {
        assert.ok(m[2].startsWith('&amp;skey='), `${name}: the link of action '${m[1]}' has no key in ${d.url}`);
      }
      // A page that shows a signed-in user keeps the session on every link,
      // the sign-out's too: none leaves it with NOKEY. The administration's
      // user is the web server's, whose pages keep no session.
      if (/class="session" data-user="[^"]+"/.test(body) && !d.url.includes('/cgi-bin/up.cgi')) {
        for (const m of markup.matchAll(/KIVACTION=([^&"<>\s]*)&amp;skey=(\w*)/g)) {
          assert.match(m[2], /^\d{20}$/, `${name}: the link of action '${m[1]}' leaves the session in ${d.url}`);
        }
      }
    }
  }
  assert.deepEqual(problems.splice(0), [], `${name}: the browser reported problems`);
  assert.ok((await page.title()).length > 0, `${name}: the page has no title`);
  if (refusal) {
    assert.equal(await page.$eval('header.bar', (e) => getComputedStyle(e).display), 'flex', `${name}: no styled site bar`);
    assert.ok(await page.isVisible('#reason pre'), `${name}: no reason shown`);
    assert.equal(await page.getAttribute('#back', 'href'), 'javascript:history.back()', `${name}: no way back`);
    assert.match(await page.getAttribute('#startpage', 'href'), /^\/($|cgi-bin\/kepa\.cgi\?KIVACTION=start$)/,
      `${name}: no real link onward`);
  }
  // Nothing runs off the side of a phone's screen.
  await page.setViewportSize(phone);
  const wide = await page.evaluate(() => document.documentElement.scrollWidth);
  assert.ok(wide <= phone.width, `${name}: ${wide} pixels wide on a phone`);
  await page.screenshot({ path: path.join(shots, `${name}-phone.png`), fullPage: true });
  await page.setViewportSize(desktop);
  await page.screenshot({ path: path.join(shots, `${name}-desktop.png`), fullPage: true });
}

// Clicks a link or button and waits for the page whose address matches `url`.
async function follow(selector, url) {
  await page.click(selector);
  await page.waitForURL(url);
}

// The new-account form filled with a login and a password (twice) and sent.
async function submitAccount(login, password) {
  await page.fill('#login', login);
  await page.fill('#password', password);
  await page.fill('#confirmpass', password);
  await page.click('#submit');
}

// The sign-in form filled with a login and a password and sent.
async function submitSignIn(login, password) {
  await page.fill('#login', login);
  await page.fill('#password', password);
  await page.click('#submit');
}

// The password-change form filled with the current and a new password (twice)
// and sent.
async function submitPasswordChange(current, password) {
  await page.fill('#oldpassword', current);
  await page.fill('#password', password);
  await page.fill('#confirmpass', password);
  await page.click('#submit');
}

// A request without the browser (and without its credentials).
function fetchPlain(url) {
  return new Promise((resolve, reject) => {
    http.get(url, (res) => {
      let body = '';
      res.setEncoding('utf8');
      res.on('data', (c) => { body += c; });
      res.on('end', () => resolve({ status: res.statusCode, body }));
    }).on('error', reject);
  });
}

const configFile = (name) => path.join(home, 'client', 'config', name);
// A statement on the home's case database; the rows as sqlite3 prints them.
const sql = (q) => execFileSync('sqlite3', ['-separator', '|', path.join(home, 'db', 'cases.db'), q]).toString();

// Runs scripts/demo again over the suite's home, as a person reruns it.
function rerunDemo() {
  execFileSync(env('KIV_BROWSER_DEMO'), [], {
    env: { ...process.env, KIV_DEMO_DIR: home, KIV_DEMO_PORT: port, KIV_DEMO_PROGRAMS: env('KIV_BROWSER_PROGRAMS') },
    stdio: 'ignore',
  });
}

before(async () => {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-chromium-'));
  context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: desktop,
    httpCredentials: { username: 'admin', password: adminPassword },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  context.profile = profile;
  page = context.pages()[0] ?? await context.newPage();
  watch(page);
});

after(async () => {
  if (!context) return;
  await context.close();
  fs.rmSync(context.profile, { recursive: true, force: true });
});

describe('users and staff', () => {
  test('the index page leads to the start page', async () => {
    await page.goto(`${base}/`);
    await checkPage('index');
    // Logins are off in the sample: the index says so and offers no sign-in.
    assert.equal(await page.$('#signin'), null);
    assert.match(await page.textContent('#logins-off'), /Logins are off/);
    await follow('#open', /KIVACTION=start/);
    await checkPage('start');
    assert.equal(await page.textContent('h1'), 'Welcome to the help desk');
    // Nobody is signed in: the line of the signed-in user is hidden.
    assert.equal(await page.isVisible('.session'), false);
    // The sign-in page says that logins are off and offers no form.
    await page.goto(`${kepa}?KIVACTION=login`);
    await checkPage('login-while-off');
    assert.match(await page.textContent('#logins-off'), /Logins are off in this help desk/);
    assert.equal(await page.$('#loginform'), null);
  });

  test('the add form shows its fields and the items of its menus', async () => {
    await page.goto(`${kepa}?KIVACTION=start`);
    await checkPage('start-again');
    await follow('#report', /KIVACTION=addform/);
    await checkPage('add');
    const items = async (id) => page.$$eval(`#${id} option`, (os) => os.map((o) => o.textContent.trim()));
    const selected = async (id) => page.$eval(`#${id}`, (s) => s.value.trim());
    assert.deepEqual(await items('category'), ['Other', 'Hardware', 'Software', 'Network', 'Account']);
    assert.equal(await selected('category'), 'Other');
    assert.deepEqual(await items('priority'), ['Normal', 'Low', 'High', 'Urgent']);
    assert.equal(await selected('priority'), 'Normal');
    for (const [id, label] of [['submitted_by', 'Your name *'], ['problem', 'Problem *'], ['sub_e_mail', 'Your e-mail address']]) {
      assert.equal((await page.textContent(`label[for=${id}]`)).trim(), label);
    }
    // The form posts the add action with the fields of the person reporting
    // under their object names; the status and the assignment are the
    // support team's, whose defaults the configuration gives.
    assert.equal(await page.getAttribute('#addform input[name=KIVACTION]', 'value'), 'add');
    const names = await page.$$eval('#addform [name]', (es) => es.map((e) => e.getAttribute('name')));
    assert.deepEqual(names.sort(), ['KIVACTION', 'category.VALUE', 'date_open.VALUE', 'priority.VALUE',
      'problem.VALUE', 'skey', 'sub_e_mail.VALUE', 'submitted_by.VALUE']);
  });

  test('a case is submitted from the add form, kept with its menu values and numbered', async () => {
    const count = () => Number(sql('select count(*) from cases').trim());
    const before = count();
    const report = async (name, email, category, priority, problem) => {
      await page.fill('#submitted_by', name);
      await page.fill('#sub_e_mail', email);
      await page.selectOption('#category', { label: category });
      await page.selectOption('#priority', { label: priority });
      await page.fill('#problem', problem);
      await page.click('#submit');
    };

    // From the index page to the form, as a person goes.
    await page.goto(`${base}/`);
    await follow('#open', /KIVACTION=start/);
    await follow('#report', /KIVACTION=addform/);
    await checkPage('add-to-fill');
    await report('Ann Example', 'ann@example.org', 'Hardware', 'High', 'The printer on floor 2 jams.');
    await page.waitForSelector('#added');
    await checkPage('added');
    const first = (await page.textContent('#case_num')).trim();
    assert.match(first, /^\d+$/);
    assert.equal((await page.textContent('#status')).trim(), 'Open');
    assert.equal(sql(`select status, category, priority, submitted_by, sub_e_mail, coalesce(assigned_to, ''),
      coalesce(sa_e_mail, '') from cases where case_num = '${first}'`), 'Open|Hardware|High|Ann Example|ann@example.org||\n');
    assert.match(sql(`select problem from cases where case_num = '${first}'`), /^The printer on floor 2 jams\.\n\[-Open- /);

    // A second case gets the next number.
    await follow('#another', /KIVACTION=addform/);
    await report('Bob Example', 'bob@example.org', 'Network', 'Low', 'No network in room 12.');
    await page.waitForSelector('#added');
    await checkPage('added-second');
    const second = (await page.textContent('#case_num')).trim();
    assert.equal(Number(second), Number(first) + 1);
    assert.equal(sql(`select category, priority, submitted_by from cases where case_num = '${second}'`),
      'Network|Low|Bob Example\n');
    assert.equal(count(), before + 2);

    // A required field left empty (the browser's own check is off, as in an
    // old browser): the message, and nothing added.
    await page.goto(`${kepa}?KIVACTION=addform`);
    await checkPage('add-to-refuse');
    await page.$eval('#problem', (e) => e.removeAttribute('required'));
    await report('Carol Example', 'carol@example.org', 'Software', 'Normal', '');
    await page.waitForLoadState('load');
    await checkPage('add-refused', { refusal: true });
    // The engine's messages, in the sample's words (client/config/errors.txt).
    const refused = await page.textContent('#reason');
    assert.match(refused, /'Problem' can't be blank/);
    assert.match(refused, /The form is not complete, so nothing was stored\./);
    assert.match(refused, /Your problem was not reported\. Go back to the form/);
    assert.doesNotMatch(refused, /Pre submit failed|Submit Error/);
    assert.doesNotMatch(await page.textContent('body'), /Your case number is/);
    assert.equal(count(), before + 2);
    // The way back leads to the form.
    await follow('#back', /KIVACTION=addform/);
    assert.ok(await page.isVisible('#addform'));
    documents.length = 0;
  });

  test('values of a request are shown as text, not as markup', async () => {
    const name = '<b id="bold">Ann</b> & "Bob"';
    await page.goto(`${kepa}?KIVACTION=addform&submitted_by.VALUE=${encodeURIComponent(name)}`);
    await checkPage('add-prefilled');
    assert.equal(await page.inputValue('#submitted_by'), name);
    assert.equal(await page.$('#bold'), null);
  });

  // Finding cases: the search form, the list of cases found, the cases
  // picked from it by ticks and a range, the stored query of the start page,
  // the chart by one field, and a search that finds nothing.
  test('cases are found, picked, counted and charted', async () => {
    sql("insert into cases (id_num, case_num, status, category, priority, submitted_by, problem) values " +
      "(800, 'S-800', 'Closed', 'Software', 'Low', 'Sam Example', 'An old case.')");
    await page.goto(`${kepa}?KIVACTION=start`);
    await checkPage('start-to-search');
    await follow('#search', /KIVACTION=search/);
    await checkPage('search');
    // A menu's first choice is none, since a chosen item is a criterion.
    for (const id of ['status', 'category', 'priority', 'sort']) {
      assert.equal(await page.$eval(`#${id}`, (s) => s.value), '', id);
    }
    assert.ok((await page.$$eval('#sort option', (os) => os.map((o) => o.textContent.trim()))).includes('Status'));
    await Promise.all([page.waitForNavigation(), page.click('#find')]);
    await checkPage('found');
    const listed = await page.$$eval('#found td.name', (tds) => tds.map((t) => t.textContent));
    const stored = sql('select case_num from cases').trim().split('\n');
    assert.deepEqual([...listed].sort(), [...stored].sort());
    assert.equal((await page.textContent('#count strong')).trim(), String(stored.length));
    assert.ok(listed.length >= 3, listed.join(','));

    // Two ticks and a range: exactly those cases, each once, in the order
    // they were picked; the next page takes the same selection.
    const boxes = await page.$$('#found input[type=checkbox]');
    await boxes[0].check();
    await boxes[2].check();
    await page.fill('#select_range', '2,3');
    await Promise.all([page.waitForNavigation(), page.click('#confirm')]);
    await checkPage('confirmprint');
    const picked = () => page.$$eval('#picked td.name', (tds) => tds.map((t) => t.textContent));
    assert.deepEqual(await picked(), [listed[0], listed[2], listed[1]]);
    assert.equal((await page.textContent('#count strong')).trim(), '3');
    await Promise.all([page.waitForNavigation(), page.click('#reload')]);
    await checkPage('confirmprint-again');
    assert.deepEqual(await picked(), [listed[0], listed[2], listed[1]]);

    // The stored query of the start page: the cases of each status.
    await page.goto(`${kepa}?KIVACTION=start`);
    documents.length = 0;
    await follow('#stats', /KIVACTION=stats/);
    await checkPage('stats');
    const counts = await page.$$eval('#counts tbody tr', (trs) => trs.map((t) => `${t.cells[0].textContent}|${t.cells[1].textContent}`));
    assert.deepEqual(counts.sort(), sql('select status, count(*) from cases group by status').trim().split('\n').sort());

    // The chart by status: one bar a status, as long as its count.
    await page.goto(`${kepa}?KIVACTION=search`);
    await checkPage('search-to-chart');
    await page.selectOption('#sort', { label: 'Status' });
    await Promise.all([page.waitForNavigation(), page.click('#chart')]);
    await checkPage('chart');
    const bars = await page.$$eval('#chart .chart-row', (rs) => rs.map((r) =>
      `${r.querySelector('.chart-label').textContent.toLowerCase()}|${r.querySelector('meter').value}`));
    assert.deepEqual(bars.sort(),
      sql('select lower(status), count(*) from cases group by lower(status)').trim().split('\n').sort());
    assert.ok(bars.length >= 2, bars.join(','));
    // A chart without a field to count by says so in the sample's words.
    await page.goto(`${kepa}?KIVACTION=search`);
    await checkPage('search-to-chart-by-nothing');
    await Promise.all([page.waitForNavigation(), page.click('#chart')]);
    await checkPage('chart-by-nothing', { refusal: true });
    assert.match(await page.textContent('#reason'), /Choose a field under "Sort or chart by"/);
    assert.doesNotMatch(await page.textContent('#reason'), /No Chart Key define/);

    // A search that finds nothing: the page that says so, and the way back.
    await page.goto(`${kepa}?KIVACTION=search`);
    await checkPage('search-for-nothing');
    await page.fill('#case_num', 'no such case');
    await Promise.all([page.waitForNavigation(), page.click('#find')]);
    await checkPage('finderror');
    assert.equal(await page.textContent('h1'), 'No case found');
    await follow('#again', /KIVACTION=search/);
    await checkPage('search-again');
  });

  // Without logins a case is read and opened, but a change needs a login.
  test('without a login a case is shown and opened, and its change refused', async () => {
    await page.goto(`${kepa}?KIVACTION=search`);
    await checkPage('search-to-view');
    await page.fill('#case_num', '==S-800');
    await Promise.all([page.waitForNavigation(), page.click('#find')]);
    await checkPage('found-to-view');
    await Promise.all([page.waitForNavigation(), page.click('#found a.view')]);
    await page.waitForSelector('#case');
    await checkPage('caseview-no-login');
    assert.equal((await page.textContent('#case_num')).trim(), 'S-800');
    await page.goBack();
    await page.waitForSelector('#found');
    documents.length = 0;
    await Promise.all([page.waitForNavigation(), page.click('#found a.open')]);
    await page.waitForSelector('#caseform');
    await checkPage('case-open-no-login');
    assert.match(await page.textContent('#problem_text'), /An old case\./);
    await page.fill('#problem', 'Who am I?');
    await Promise.all([page.waitForNavigation(), page.click('#modify')]);
    await page.waitForSelector('#reason');
    await checkPage('modify-no-login', { refusal: true });
    assert.match(await page.textContent('#reason'), /can't determine who are you/);
    assert.equal(sql("select problem from cases where case_num = 'S-800'"), 'An old case.\n');
  });

  test('requests that may not pass are refused', async () => {
    const none = await fetchPlain(kepa);
    assert.match(none.body, /This address does not say what the help desk should do\./);
    // The refusal is a styled page whose real link leads to the start page.
    await page.goto(kepa);
    await checkPage('no-action-refused', { refusal: true });
    await follow('#startpage', /KIVACTION=start/);
    await checkPage('refusal-to-start');
    assert.equal(await page.textContent('h1'), 'Welcome to the help desk');
    const unbound = await fetchPlain(`${kepa}?KIVACTION=ChartsSettings`);
    assert.match(unbound.body, /No command for action 'ChartsSettings'/);
    const form = await fetchPlain(`${kepa}?KIVACTION=evil&evil=up_admin+charts.html`);
    assert.match(form.body, /No command for action 'evil'/);
    const admin = await fetchPlain(`${up}?KIVACTION=admin`);
    assert.equal(admin.status, 401);
  });
});

describe('administration', () => {
  // The export of the open cases: its totals and a line per case in the
  // page, and a page per case under the home's export folder.
  test('the open cases are exported one page each', async () => {
    await page.goto(`${up}?KIVACTION=admin`);
    await checkPage('admin-to-export');
    await follow('#export', /KIVACTION=export/);
    await checkPage('export');
    // A report of the administration, not a refusal.
    assert.equal(await page.textContent('h1'), 'Export of the open cases');
    assert.equal(await page.$('#reason'), null);
    const report = await page.textContent('#report');
    const open = sql("select coalesce(case_num, '') from cases where status like '%Open%'").trim().split('\n');
    assert.match(report, new RegExp(`Total Cases=${open.length}\\b`));
    const numbered = open.filter((c) => c !== '');
    assert.ok(numbered.length >= 2, open.join(','));
    for (const c of numbered) {
      assert.match(report, new RegExp(`Count=\\d+ Case num=${c}\\n`));
      const file = path.join(home, 'export', `${c}.html`);
      assert.ok(fs.existsSync(file), file);
      const text = fs.readFileSync(file, 'utf8');
      assert.match(text, new RegExp(`<h1>Case ${c}</h1>`));
      assert.match(text, /<td>Open<\/td>/);
    }
    assert.deepEqual(fs.readdirSync(path.join(home, 'export')).sort(), numbered.map((c) => `${c}.html`).sort());
    await follow('#admin', /KIVACTION=admin/);
    await checkPage('export-to-admin');
  });

  // The export tool over the same home, as its README command runs it: a
  // page per open case and the percentage report, each a whole page that a
  // phone shows without scrolling sideways.
  test('dumprow writes the open cases and their percentage report', async () => {
    const out = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-dumprow-'));
    const dumprow = path.join(env('KIV_BROWSER_PROGRAMS'), '..', 'tools', 'dumprow');
    const run = (...args) => spawnSync(dumprow, [...args], {
      encoding: 'utf8',
      env: { ...process.env, NVHOME: home, ODBCSYSINI: path.join(home, 'odbc'),
        ODBCINI: path.join(home, 'odbc', 'odbc.ini') },
    });
    const found = sql("select coalesce(case_num, '') from cases where status like '%Open%'").trim().split('\n');
    const open = found.filter((c) => c !== '');
    const cases = run('export.html', out, 'status', 'Open');
    assert.equal(cases.status, 0, cases.stdout + cases.stderr);
    assert.match(cases.stderr, /^Total Cases=\d+\n/);
    const report = run('client/kivhtml/tk/percent_report.html', out, 'status', 'Open');
    assert.equal(report.status, 0, report.stdout + report.stderr);
    const files = fs.readdirSync(out).sort();
    const reportFile = files.find((f) => f.startsWith('percent_report_export_'));
    assert.match(reportFile ?? '', /^percent_report_export_\d\d-\d\d-\d{4}\.html$/);
    assert.deepEqual(files.filter((f) => f !== reportFile), open.map((c) => `${c}.html`).sort());
    for (const [name, file] of [['dumprow-case', `${open[0]}.html`], ['dumprow-percent', reportFile]]) {
      await page.goto(`file://${path.join(out, file)}`);
      const text = await page.textContent('body');
      assert.ok(!kOpenMarker.test(text) && !text.includes('No object value for'), `${name}: markers left`);
      await page.setViewportSize(phone);
      const wide = await page.evaluate(() => document.documentElement.scrollWidth);
      assert.ok(wide <= phone.width, `${name}: ${wide} pixels wide on a phone`);
      await page.screenshot({ path: path.join(shots, `${name}-phone.png`), fullPage: true });
      await page.setViewportSize(desktop);
    }
    assert.equal(await page.textContent('#status td'), 'Open');
    assert.match(await page.textContent('#total'), new RegExp(`Cases counted: ${found.length}\\b`));
    documents.length = 0;
    problems.length = 0;
    fs.rmSync(out, { recursive: true, force: true });
  });

  test('the chart settings are changed, saved and shown saved', async () => {
    await page.goto(`${kepa}?KIVACTION=start`);
    documents.length = 0;
    await follow('#admin', /up\.cgi\?KIVACTION=admin/);
    await checkPage('admin');
    assert.equal(await page.textContent('h1'), 'Administration');
    await follow('#charts', /KIVACTION=ChartsSettings/);
    await checkPage('charts');
    assert.equal(await page.inputValue('#pictmpdir'), 'tmp/charts');

    const backups = () => fs.readdirSync(path.join(home, 'tmp')).filter((f) => f.startsWith('ce_obj.'));
    assert.deepEqual(backups(), []);
    await page.fill('#pictmpdir', 'tmp/chart pictures');
    await page.click('#save');
    await page.waitForSelector('#saved');
    await checkPage('charts-saved');
    assert.equal(await page.inputValue('#pictmpdir'), 'tmp/chart pictures');
    assert.equal(await page.inputValue('#link_program'), '/cgi-bin/kepa.cgi');
    const saved = fs.readFileSync(configFile('ce_obj'), 'utf8');
    assert.match(saved, /\tNAME=pictmpdir\n\tVALUE=tmp\/chart pictures\n/);
    assert.equal(backups().length, 1);
    assert.match(fs.readFileSync(path.join(home, 'tmp', backups()[0]), 'utf8'), /VALUE=tmp\/charts\n/);

    // A rerun of the demo keeps the saved settings and the cases, and the
    // next visit reads the saved file.
    sql("insert into cases (id_num, case_num, problem) values (900, 'K-900', 'kept')");
    rerunDemo();
    assert.equal(sql('select problem from cases where id_num = 900'), 'kept\n');
    assert.match(fs.readFileSync(configFile('ce_obj'), 'utf8'), /VALUE=tmp\/chart pictures\n/);
    await page.goto(`${up}?KIVACTION=ChartsSettings`);
    await checkPage('charts-reloaded');
    assert.equal(await page.inputValue('#pictmpdir'), 'tmp/chart pictures');
  });
});

// The administration's settings pages and rule editors: every page styled,
// fields added against the case table, status names and colours reaching the
// help desk's pages, rules written under their names, and a page that another
// save overtook refused.
describe('administration pages', () => {
  const tkObj = () => fs.readFileSync(configFile('tk_obj'), 'utf8');
  const backupsOf = (name) => fs.readdirSync(path.join(home, 'tmp')).filter((f) => f.startsWith(`${name}.`));
  const admin = async (word, name) => {
    await page.goto(`${up}?KIVACTION=${encodeURIComponent(word)}`);
    await checkPage(name);
  };
  // Submits the form of the button and waits for the page it leads to.
  const submit = async (button) => {
    await Promise.all([page.waitForNavigation(), page.click(button)]);
    await page.waitForLoadState('load');
  };

  test('every page of the administration is styled and complete', async () => {
    await page.goto(`${up}?KIVACTION=admin`);
    await checkPage('admin-pages');
    const links = await page.$$eval('ul.links a', (as) => as.map((a) => [a.id, a.getAttribute('href')]));
    assert.ok(links.length >= 18, `${links.length} links on the administration page`);
    for (const [id, href] of links) {
      if (id === 'security') continue;  // with logins on, below
      await page.goto(new URL(href, `${up}`).toString());
      await checkPage(`admin-${id}`);
      assert.ok((await page.textContent('h1')).length > 0, id);
      assert.doesNotMatch(await page.textContent('body'), /not built yet|Cannot open/, id);
    }
    for (const word of ['NewNotificationRule', 'NewAutoAssignRule', 'NewWorkflowRule', 'NewAlarmRule',
      'DatabaseSettings']) {
      await admin(word, `admin-${word}`);
    }
    // No page shows the database password.
    assert.doesNotMatch(await page.content(), /odbc_pass\.VALUE" value=/);
  });

  test('a field is added once its column exists, and a menu gains a choice', async () => {
    await admin('List Fields', 'fields');
    const names = await page.$$eval('#fields td.name', (tds) => tds.map((t) => t.textContent));
    assert.ok(names.includes('case_num') && !names.includes('id_num'), names.join(','));

    const addFlat = async (name, shot) => {
      await admin('newfield', `${shot}-form`);
      await page.fill('#flat_name', name);
      await page.fill('#flat_title', 'Room');
      await submit('#add_flat');
      await checkPage(shot, { refusal: true });
    };
    const before = tkObj();
    const tkBackups = backupsOf('tk_obj').length;
    // A field without its column, and a name that is no column name, are
    // refused and change nothing.
    await addFlat('nosuch', 'field-no-column');
    assert.match(await page.innerText('body'), /The case table has no column of that name/);
    await addFlat('Room', 'field-bad-name');
    assert.match(await page.textContent('body'), /Bad field name 'Room'/);
    assert.equal(tkObj(), before);
    assert.equal(backupsOf('tk_obj').length, tkBackups);

    sql('alter table cases add column room varchar(80)');
    await admin('newfield', 'field-form');
    await page.fill('#flat_name', 'room');
    await page.fill('#flat_title', 'Room');
    await submit('#add_flat');
    await page.waitForSelector('#saved');
    await checkPage('field-added');
    assert.match(tkObj(), /\tNAME=room\n\tDBKEY=room\n\tTITLE=Room\n/);
    assert.equal(backupsOf('tk_obj').length, tkBackups + 1);

    // A case sent with the new field keeps its value.
    const sent = await page.request.post(kepa, { form: { KIVACTION: 'add', 'submitted_by.VALUE': 'Dan Example',
      'problem.VALUE': 'The projector flickers.', 'room.VALUE': '12' } });
    assert.match(await sent.text(), /Your case number is/);
    assert.equal(sql("select room from cases where submitted_by = 'Dan Example'"), '12\n');

    // A new choice of a menu shows on the add form at once; the default stays.
    await page.goto(`${up}?KIVACTION=modfield&dbkey_name.VALUE=category`);
    await checkPage('field-category');
    const choices = await page.inputValue('#choices');
    await page.fill('#choices', `${choices.trimEnd()}\nPrinters`);
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('field-category-saved');
    await page.goto(`${kepa}?KIVACTION=addform`);
    await checkPage('add-with-printers');
    const items = await page.$$eval('#category option', (os) => os.map((o) => o.textContent.trim()));
    assert.deepEqual(items, ['Other', 'Hardware', 'Software', 'Network', 'Account', 'Printers']);
    assert.equal(await page.$eval('#category', (s) => s.value.trim()), 'Other');
  });

  test('a status name and a colour reach the help desk', async () => {
    // The open status takes a name the status menu does not offer.
    const tkBackups = backupsOf('tk_obj').length;
    const ceBackups = backupsOf('ce_obj').length;
    await admin('StatusOpen', 'status-open');
    assert.equal(await page.inputValue('#status'), 'Open');
    await page.fill('#status', 'New');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('status-open-saved');
    assert.match(tkObj(), /\tNAME=open_state\n\tVALUE=New\n/);

    await admin('setupcolortop', 'colors');
    assert.equal(await page.inputValue('#admin_color'), '#1f4e79');
    await page.fill('#admin_color', '#aa3300');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('colors-saved');
    assert.match(tkObj(), /\tNAME=color_scheme\n\tVALUE=header-aa3300\^\$\n/);
    assert.match(fs.readFileSync(configFile('ce_obj'), 'utf8'), /\tNAME=color_scheme\n\tVALUE=header-aa3300\^\$\n/);
    assert.equal(backupsOf('tk_obj').length, tkBackups + 2);
    assert.equal(backupsOf('ce_obj').length, ceBackups + 1);

    await page.goto(`${kepa}?KIVACTION=start`);
    await checkPage('start-coloured');
    assert.equal(await page.$eval('.bar-colour rect', (r) => r.getAttribute('fill')), '#aa3300');
    assert.equal(await page.$eval('.bar-colour rect', (r) => getComputedStyle(r).fill), 'rgb(170, 51, 0)');
    await follow('#report', /KIVACTION=addform/);
    await page.fill('#submitted_by', 'Eve Example');
    await page.fill('#problem', 'The scanner is slow.');
    await page.click('#submit');
    await page.waitForSelector('#added');
    await checkPage('added-new');
    assert.equal((await page.textContent('#status')).trim(), 'New');
  });

  test('mail and assignment rules are written, listed, modified and deleted', async () => {
    await admin('NewNotificationRule', 'mail-rule-new');
    await page.selectOption('select[name=mm_category]', ['Hardware', 'Network']);
    await page.fill('#receiver', 'ann@example.org,bob@example.org');
    await page.fill('#subject', 'Hardware case {case_num}');
    await page.fill('#body', 'A hardware case came in.\nSee {case_num}.');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('mail-rule-saved');
    const rule = 'maillist_category^$:1';
    let tk = tkObj();
    assert.ok(tk.includes(`\tNAME=${rule}\n\tVALUE=Hardware^@Network^$\n\tCONTROL=message_category^$:1\n` +
      '\tTITLE=ann@example.org^@bob@example.org^$\n'), tk);
    assert.ok(tk.includes('\tNAME=message_category^$:1\n\tCONTROL=Hardware case {case_num}\n' +
      '\tTITLE=A hardware case came in.{n}\\\nSee {case_num}.\n'), tk);

    await admin('NewAutoAssignRule', 'assign-rule-new');
    await page.selectOption('select[name=mm_category]', ['Hardware']);
    await page.fill('#receiver', 'bob');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('assign-rule-saved');
    assert.ok(tkObj().includes('\tNAME=autoassign_category^$:1\n\tVALUE=Hardware^$\n\tTITLE=bob^$\n'));
    await page.click('#list');
    await checkPage('assign-rules');
    assert.match(await page.textContent('#rules'), /Category:Hardware\s+bob/);

    await admin('ListMailObject', 'mail-rules');
    assert.match(await page.textContent('#rules'), /Category:Hardware,Network\s+ann@example.org,bob@example.org/);
    await Promise.all([page.waitForNavigation(), page.click('#rules a.modify')]);
    await checkPage('mail-rule-modify');
    assert.equal(await page.inputValue('#receiver'), 'ann@example.org,bob@example.org');
    assert.deepEqual(await page.$$eval('select[name=mm_category] option:checked', (os) => os.map((o) => o.textContent)),
      ['Hardware', 'Network']);
    // Recipients too long for a phone's line wrap, in the list and on the
    // delete confirmation.
    const recipients = 'carol@example.org,dave.longname@example.org,erin@example.org';
    await page.fill('#receiver', recipients);
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('mail-rule-modified');
    tk = tkObj();
    assert.ok(tk.includes(`\tTITLE=${recipients.replaceAll(',', '^@')}^$\n`), tk);
    assert.equal(tk.match(/NAME=message_/g).length, 1, 'no old message object stays');

    await page.click('#list');
    await checkPage('mail-rules-after');
    await page.setViewportSize(phone);
    assert.ok(await page.$eval('#rules', (t) => t.parentElement.scrollWidth <= t.parentElement.clientWidth),
      'the list of rules runs off the side of a phone');
    await page.setViewportSize(desktop);
    await Promise.all([page.waitForNavigation(), page.click('#rules a.delete')]);
    await checkPage('mail-rule-delete');
    await submit('#delete');
    await page.waitForSelector('#saved');
    await checkPage('mail-rule-deleted');
    tk = tkObj();
    assert.doesNotMatch(tk, /NAME=maillist_|NAME=message_/);
    assert.match(tk, /NAME=autoassign_category/);
  });

  test('a page that another save overtook cannot overwrite it, and a GET changes nothing', async () => {
    const other = await context.newPage();
    watch(other);
    try {
      await other.goto(`${up}?KIVACTION=StatusOpen`);
      await admin('StatusOpen', 'status-first');
      await page.fill('#status', 'Open');
      await submit('#save');
      await page.waitForSelector('#saved');
      await checkPage('status-first-saved');
      const saved = tkObj();
      assert.match(saved, /\tNAME=open_state\n\tVALUE=Open\n/);
      await other.fill('#status', 'Reopened');
      await Promise.all([other.waitForNavigation(), other.click('#save')]);
      assert.match(await other.innerText('body'), /Someone else saved a change after this\s+page was loaded; nothing was saved/);
      assert.equal(tkObj(), saved);
    } finally {
      await other.close();
      documents.length = 0;
      problems.length = 0;
    }
    const saved = tkObj();
    await page.goto(`${up}?KIVACTION=mod_openstatus&open_state.VALUE=Evil`);
    await checkPage('status-by-get', { refusal: true });
    assert.match(await page.innerText('body'), /The administration takes changes only\s+from its own pages/);
    assert.equal(tkObj(), saved);
  });

  test('the security page, with logins on', async () => {
    fs.writeFileSync(configFile('login_config'),
      'kepa.cgi_REG=self\nkepa.cgi_AUTH=PASSR\nup.cgi_REG=self\nup.cgi_AUTH=NONE\n');
    try {
      await admin('Security Settings', 'security');
      const rows = await page.$$eval('#security tbody tr', (trs) => trs.map((t) => t.cells[0].textContent));
      assert.ok(rows.includes('room') && !rows.includes('id_num'), rows.join(','));
    } finally {
      fs.rmSync(configFile('login_config'), { force: true });
    }
  });

  test('a field marked required on its page is required of a new case', async () => {
    const report = (fields) => page.request.post(kepa, { form: { KIVACTION: 'add',
      'submitted_by.VALUE': 'Fay Example', 'problem.VALUE': 'The mouse sticks.', ...fields } });
    const required = async (value) => {
      await page.goto(`${up}?KIVACTION=modfield&dbkey_name.VALUE=sub_e_mail`);
      await checkPage(`email-${value}`);
      await page.check(`input[name="enforce.VALUE"][value="${value}"]`);
      await submit('#save');
      await page.waitForSelector('#saved');
    };
    await required('1');
    assert.match(await page.textContent('#fields'), /sub_e_mail\s*Your e-mail address\s*TEXT\s*Yes/);
    assert.match(await (await report({})).text(), /'Your e-mail address' can't be blank/);
    assert.match(await (await report({ 'sub_e_mail.VALUE': 'fay@example.org' })).text(), /Your case number is/);
    await required('0');
    assert.match(await (await report({})).text(), /Your case number is/);
  });

  test('a field goes only once the administrator confirms it, and its column stays', async () => {
    await admin('List Fields', 'fields-with-room');
    const withRoom = tkObj();
    const deleteRoom = '#fields tr:has(td.name:text-is("room")) button';
    page.once('dialog', (d) => d.dismiss());
    await page.click(deleteRoom);
    assert.equal(tkObj(), withRoom);
    page.once('dialog', (d) => d.accept());
    await submit(deleteRoom);
    await page.waitForSelector('#saved');
    await checkPage('field-deleted');
    assert.doesNotMatch(tkObj(), /\tNAME=room\n/);
    assert.equal(sql("select room from cases where submitted_by = 'Dan Example'"), '12\n');
  });
});

describe('inventory', () => {
  // The computer inventory, from the administration page, over the sample
  // inventory that scripts/demo made (db/inventory.db).
  const classes = ['Computer_System_DATA', 'Processor_DATA', 'PC_Memory_DATA', 'Logical_Disk_DATA', 'Network_DATA',
    'Operating_System_DATA', 'Sound_Device_DATA'];
  // The form page offers the view as a menu; the inventory page, which
  // shows the view it answers, as two choices.
  const ask = async (host, view) => {
    await page.fill('#smshost', host);
    if (await page.$('#smstype')) await page.selectOption('#smstype', view);
    else await page.check(`#view input[value=${view}]`);
    await page.click('#submit');
    await page.waitForLoadState('load');
  };

  test("a computer's hardware and software are shown, and an unknown computer is refused", async () => {
    await page.goto(`${up}?KIVACTION=admin`);
    documents.length = 0;
    await follow('#inventory', /KIVACTION=inventoryform/);
    await checkPage('inventory-form');

    await ask('PC-0001', 'hardware');
    await page.waitForSelector('#host');
    await checkPage('inventory-hardware');
    assert.equal(await page.textContent('#host'), 'PC-0001');
    assert.equal(await page.isVisible('#software'), false);
    assert.equal(await page.isChecked('#view input[value=hardware]'), true);
    for (const c of classes) assert.equal(await page.isVisible(`#${c}`), true, `${c} is not shown`);
    // On a phone each property table fits its box: the long column names
    // break, so the values beside them are in view without scrolling.
    await page.setViewportSize(phone);
    for (const c of classes) {
      const [wide, box] = await page.$eval(`#${c} .scroll`, (e) => [e.scrollWidth, e.clientWidth]);
      assert.ok(wide <= box, `${c}: its table is ${wide} pixels wide in a box of ${box} on a phone`);
    }
    await page.setViewportSize(desktop);
    // The two disks are one table with one separator row between them.
    assert.equal(await page.$$eval('#Logical_Disk_DATA td[colspan="2"]', (es) => es.length), 1);
    assert.match(await page.textContent('#Logical_Disk_DATA .summary'), /deviceid0:C:.*-{15}.*deviceid0:D:/s);
    // Summaries only for the classes that have summary columns.
    assert.equal((await page.textContent('#Sound_Device_DATA .summary')).trim(), '');
    assert.match(await page.textContent('#Sound_Device_DATA .scroll'), /High Definition Audio Device/);
    for (const c of classes.filter((c) => c !== 'Sound_Device_DATA'))
      assert.notEqual((await page.textContent(`#${c} .summary`)).trim(), '', `${c} has no summary`);

    await ask('PC-0001', 'software');
    await page.waitForSelector('#host');
    await checkPage('inventory-software');
    assert.equal(await page.isChecked('#view input[value=software]'), true);
    for (const c of classes) assert.equal(await page.isVisible(`#${c}`), false, `${c} is shown`);
    const products = await page.$$eval('#software tr', (rs) => rs.slice(1).map((r) => r.cells[0].textContent.trim()));
    assert.deepEqual(products, ['Accounts', 'Browser', 'Fonts & <Symbols>', 'Text Editor', 'Zip Tool']);
    assert.equal(await page.$('#software symbols'), null);

    for (const host of ['PC-9999', "PC-0001' or '1'='1"]) {
      await page.goto(`${up}?KIVACTION=inventoryform`);
      await ask(host, 'hardware');
      const refusal = `SMS:The SMS database did not return any information on host '${host}'`;
      await checkPage(host === 'PC-9999' ? 'inventory-unknown' : 'inventory-injected', { refusal: true });
      assert.ok((await page.textContent('#reason')).includes(refusal), await page.textContent('#reason'));
    }
  });
});

// The object editor, the e-mail interface, the switches of automatic
// assignment and workflow, and the alarm settings, after the rule editors'
// steps (whose assignment rule sends Hardware cases to bob): every page
// styled, tk_obj holding each change where the object stands, refusals
// readable, no page carrying the mailbox password, and the alarm message
// kept over a rerun of the demo.
describe('object editor and general rule settings', () => {
  const tkObj = () => fs.readFileSync(configFile('tk_obj'), 'utf8');
  const alarmFile = path.join(home, 'client', 'kivhtml', 'tk', 'tkemaild_alarmres');
  const backupsOf = (name) => fs.readdirSync(path.join(home, 'tmp')).filter((f) => f.startsWith(`${name}.`));
  const open = async (query, name) => {
    await page.goto(`${up}?KIVACTION=${query}`);
    await checkPage(name);
  };
  const submit = async (button, on = page) => {
    await Promise.all([on.waitForNavigation(), on.click(button)]);
    await on.waitForLoadState('load');
  };
  const listed = () => page.$$eval('#objects td.name a', (as) => as.map((a) => a.textContent));

  test('objects are listed, opened, changed, created and deleted', async () => {
    await open('AdvancedListObject', 'objects');
    const names = await listed();
    assert.ok(names.includes('problem_timestamp'), names.join(','));
    assert.ok(!names.includes('XXXheadlistXXXX'));
    assert.ok(!names.some((n) => /^(maillist|autoassign|workflow|alarmlist|message)_.*:/.test(n)), names.join(','));
    assert.match(tkObj(), /NAME=autoassign_category\^\$:1\n/, 'the rule editors left their rule');

    await submit('#objects a.open:text-is("problem_timestamp")');
    await checkPage('object-view');
    assert.equal(await page.textContent('#value'), '1');
    await submit('#modify');
    await checkPage('object-modify');
    assert.equal(await page.inputValue('#value'), '1');
    const before = tkObj();
    const saves = backupsOf('tk_obj').length;
    await page.fill('#value', '0');
    await submit('#save');
    await checkPage('object-modified');
    assert.equal(await page.textContent('#saved #name'), 'problem_timestamp');
    assert.equal(tkObj(), before.replace('\tNAME=problem_timestamp\n\tVALUE=1\n', '\tNAME=problem_timestamp\n\tVALUE=0\n'));
    assert.equal(backupsOf('tk_obj').length, saves + 1);
    assert.deepEqual(await listed(), names);

    const create = async (name, value, shot, options) => {
      await open('newobject', `${shot}-form`);
      await page.fill('#admin_name', name);
      await page.fill('#value', value);
      await submit('#create');
      await checkPage(shot, options);
    };
    await create('demo_note', 'hello', 'object-created');
    assert.equal(await page.textContent('#saved #name'), 'demo_note');
    assert.equal(await page.textContent('#value'), 'hello');
    assert.ok(tkObj().endsWith('};\nOBJECT{\n\tNAME=demo_note\n\tVALUE=hello\n};\n'), tkObj().slice(-200));
    const created = tkObj();
    await create('demo_note', 'again', 'object-exists', { refusal: true });
    assert.match(await page.innerText('#reason'), /Error: object 'demo_note' already exists/);
    await create('a.b', 'dotted', 'object-bad-name', { refusal: true });
    assert.match(await page.innerText('#reason'), /Error: object name 'a\.b' may hold only letters, digits, '_', '-' and ':'/);
    assert.equal(tkObj(), created);

    await open('AdvancedListObject', 'objects-with-note');
    assert.equal((await listed()).at(-1), 'demo_note');
    await submit('#objects tr:has(a.open:text-is("demo_note")) a.delete');
    await checkPage('object-delete');
    assert.equal(await page.textContent('#name'), 'demo_note');
    await submit('#delete');
    await checkPage('object-deleted');
    assert.match(await page.textContent('#saved'), /demo_note was deleted/);
    assert.ok(!(await listed()).includes('demo_note'));
    assert.doesNotMatch(tkObj(), /NAME=demo_note/);

    // The later blocks add and change cases under the sample's settings: the
    // problem text is stamped again.
    await open('AdvancedListObject', 'objects-to-restore');
    await submit('#objects a.open:text-is("problem_timestamp")');
    await submit('#modify');
    await page.fill('#value', '1');
    await submit('#save');
    await checkPage('object-restored');
    assert.match(tkObj(), /\tNAME=problem_timestamp\n\tVALUE=1\n/);
  });

  test('a modify page that another save overtook is refused', async () => {
    const other = await context.newPage();
    watch(other);
    try {
      await other.goto(`${up}?KIVACTION=ModGetObject&admin_name.VALUE=attach_control`);
      await open('ModGetObject&admin_name.VALUE=attach_control', 'object-first');
      await page.fill('#title', 'Attachments');
      await submit('#save');
      await checkPage('object-first-saved');
      const saved = tkObj();
      assert.match(saved, /\tNAME=attach_control\n\tVALUE=OFF\n\tTITLE=Attachments\n/);
      await other.fill('#title', 'Files');
      await submit('#save', other);
      assert.match(await other.innerText('body'), /Someone else saved a change after this\s+page was loaded; nothing was saved/);
      assert.equal(tkObj(), saved);
    } finally {
      await other.close();
      documents.length = 0;
      problems.length = 0;
    }
  });

  test('the e-mail interface keeps its password out of every page', async () => {
    const secret = 'Pop-Secret-77';
    await open('emailinterface', 'email-interface');
    await page.fill('#checkfreq', '5');
    await page.fill('#pop_server', 'pop.example.org');
    await page.fill('#pop_user', 'helpdesk');
    await page.fill('#pop_password', secret);
    await page.fill('#subject_return', '[returned]');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('email-interface-saved');
    let tk = tkObj();
    for (const [name, value] of [['checkfreq', '5'], ['pop_server', 'pop.example.org'], ['pop_user', 'helpdesk'],
      ['pop_password', secret], ['subject_return', '[returned]']]) {
      assert.ok(tk.includes(`\tNAME=tkemaild_${name}\n\tVALUE=${value}\n`), name);
    }
    assert.equal(await page.inputValue('#pop_server'), 'pop.example.org');
    assert.doesNotMatch(await page.content(), new RegExp(secret));
    for (const [query, shot] of [['emailinterface', 'email-interface-again'], ['AdvancedListObject', 'objects-secret'],
      ['GetObject&admin_name.VALUE=tkemaild_pop_password', 'object-password'],
      ['ModGetObject&admin_name.VALUE=tkemaild_pop_password', 'object-password-modify']]) {
      await open(query, shot);
      assert.doesNotMatch(await page.content(), new RegExp(secret), shot);
    }
    // Left empty, the password box keeps the stored password.
    await open('emailinterface', 'email-interface-keep');
    await page.fill('#pop_server', 'mail.example.org');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('email-interface-kept');
    tk = tkObj();
    assert.ok(tk.includes('\tNAME=tkemaild_pop_server\n\tVALUE=mail.example.org\n'));
    assert.ok(tk.includes(`\tNAME=tkemaild_pop_password\n\tVALUE=${secret}\n`));
  });

  test('automatic assignment assigns by the rules while it is on; workflow is switched', async () => {
    const choose = async (word, name, value, shot) => {
      await open(word, `${shot}-form`);
      await page.check(`input[name="${name}.VALUE"][value="${value}"]`);
      await submit('#save');
      await page.waitForSelector('#saved');
      await checkPage(shot);
      assert.ok(tkObj().includes(`\tNAME=${name}\n\tVALUE=${value}\n`), `${name} ${value}`);
      assert.ok(await page.isChecked(`input[name="${name}.VALUE"][value="${value}"]`));
    };
    await choose('autoassigngeneral', 'autoassign_control', 'ON', 'autoassign-on');
    await page.goto(`${kepa}?KIVACTION=addform`);
    await checkPage('add-to-assign');
    await page.fill('#submitted_by', 'Fay Example');
    await page.fill('#problem', 'The keyboard is dead.');
    await page.selectOption('#category', 'Hardware');
    await page.click('#submit');
    await page.waitForSelector('#added');
    await checkPage('added-assigned');
    assert.equal(sql("select assigned_to from cases where problem like 'The keyboard is dead.%'"), 'bob\n');
    await choose('autoassigngeneral', 'autoassign_control', 'CARD', 'autoassign-card');
    await choose('autoassigngeneral', 'autoassign_control', 'OFF', 'autoassign-off');
    await choose('workflowgeneral', 'workflow_control', 'ON', 'workflow-on');
    await choose('workflowgeneral', 'workflow_control', 'OFF', 'workflow-off');
  });

  test('the alarm message is saved whole and kept over a rerun of the demo', async () => {
    const sample = fs.readFileSync(alarmFile, 'utf8');
    await open('AlarmsGeneral', 'alarms');
    assert.equal(await page.inputValue('#alarm_message'), sample.replace(/\r\n/g, '\n'));
    assert.ok(await page.isChecked('input[name="weekend_no_alarms.VALUE"][value="OFF"]'));
    assert.ok(await page.isChecked('input[name="alarm_control.VALUE"][value="OFF"]'));
    const text = 'A case waits for an answer.\nPlease look at it today.';
    await page.fill('#alarm_message', text);
    await page.check('input[name="alarm_control.VALUE"][value="ON"]');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('alarms-saved');
    // The start-up takes a form's CR LF line ends as LF.
    assert.equal(fs.readFileSync(alarmFile, 'utf8'), text);
    assert.match(tkObj(), /\tNAME=alarm_control\n\tVALUE=ON\n/);
    assert.deepEqual(fs.readdirSync(path.dirname(alarmFile)).filter((f) => f.startsWith('tkemaild_alarmres')),
      ['tkemaild_alarmres']);

    // Left empty, the box keeps the stored text, and the saved page shows it.
    await page.fill('#alarm_message', '');
    await submit('#save');
    await page.waitForSelector('#saved');
    await checkPage('alarms-saved-kept');
    assert.equal(fs.readFileSync(alarmFile, 'utf8'), text);
    assert.equal(await page.inputValue('#alarm_message'), text);

    rerunDemo();
    assert.equal(fs.readFileSync(alarmFile, 'utf8'), text);
    await open('AlarmsGeneral', 'alarms-after-rerun');
    assert.equal(await page.inputValue('#alarm_message'), text);
    assert.ok(await page.isChecked('input[name="alarm_control.VALUE"][value="ON"]'));
  });
});

describe('logins', () => {
  // Logins are switched on as the README says: login_config in the home, and
  // a rerun of the demo, after which the index offers the sign-in.
  before(() => {
    fs.writeFileSync(configFile('login_config'),
      'kepa.cgi_REG=self\nkepa.cgi_AUTH=PASSR\nup.cgi_REG=self\nup.cgi_AUTH=NONE\n');
    rerunDemo();
  });
  after(() => fs.rmSync(configFile('login_config'), { force: true }));

  test('the index leads to the sign-in; a new account, a password change, a sign-in and a sign-out take effect', async () => {
    // The index page's main button leads to the sign-in, not to a page that
    // would refuse for want of a key.
    await page.goto(`${base}/`);
    await checkPage('index-logins-on');
    await follow('#open', /KIVACTION=login/);
    await checkPage('login');
    assert.equal(await page.$('#logins-off'), null);
    await follow('#newaccount', /KIVACTION=vnewaccount/);
    await checkPage('newaccount');
    await submitAccount('ann', 'Tulip-42-garden');
    await page.waitForSelector('h1');
    await checkPage('account-made');
    assert.equal(await page.textContent('h1'), 'Your account is made');
    assert.equal(await page.textContent('.session strong'), 'ann');
    assert.ok(await page.isVisible('#signout'));
    assert.ok(fs.existsSync(path.join(home, 'login', 'ann')));

    // A password change, from the link of the signed-in user.
    await follow('.session a[href*=vchangepassword]', /KIVACTION=vchangepassword/);
    await checkPage('changepassword');
    assert.equal(await page.inputValue('#login'), 'ann');
    assert.equal(await page.textContent('.session strong'), 'ann');
    // A wrong current password is refused in plain words, with the way
    // back to the form.
    await submitPasswordChange('not the password', 'Quince-17-orchard');
    await page.waitForSelector('#reason');
    await checkPage('password-change-refused', { refusal: true });
    const unchanged = await page.textContent('#reason');
    assert.match(unchanged, /Invalid login or password\./);
    assert.match(unchanged, /Your password was not changed\./);
    assert.doesNotMatch(unchanged, /Can't change account/);
    await follow('#back', /KIVACTION=vchangepassword/);
    documents.length = 0;
    await submitPasswordChange('Tulip-42-garden', 'Quince-17-orchard');
    await page.waitForSelector('.session strong');
    await checkPage('password-changed');
    assert.equal(await page.textContent('h1'), 'Your password is changed');

    // The key of the session rides on every link; every page of the road
    // shows who is signed in.
    await follow('#report', /KIVACTION=addform/);
    await checkPage('add-signed-in');
    assert.match(page.url(), /skey=\d{20}/);
    assert.equal(await page.textContent('.session strong'), 'ann');
    assert.ok(await page.isVisible('#signout'));

    // A page without the session's key is refused, in the sample's wording
    // (client/config/errors.txt), which leads back to the index page.
    await page.goto(`${kepa}?KIVACTION=start`);
    await checkPage('session-refused', { refusal: true });
    assert.match(await page.textContent('#reason'), /This operation encountered an error\.\s*Your session may have ended/);
    assert.equal(await page.getAttribute('#reason a', 'href'), '/');

    // From the index page's main button to a signed-in start page.
    await page.goto(`${base}/`);
    documents.length = 0;
    await follow('#open', /KIVACTION=login/);
    await checkPage('login-from-index');
    await submitSignIn('ann', 'Quince-17-orchard');
    await page.waitForSelector('.session strong');
    await checkPage('signed-in-start');
    assert.equal(await page.textContent('h1'), 'Welcome to the help desk');
    assert.equal(await page.textContent('.session strong'), 'ann');
    const key = new URL(await page.getAttribute('#signout', 'href'), page.url()).searchParams.get('skey');

    // The sign-out, from the add form; Back shows no signed-in page: the
    // browser kept none (or asks the help desk again for the one it kept),
    // and the help desk refuses the ended session.
    await follow('#report', /KIVACTION=addform/);
    await checkPage('add-before-logout');
    await follow('#signout', /KIVACTION=logout/);
    await checkPage('logout');
    assert.equal(await page.textContent('h1'), 'You are signed out');
    await page.goBack();
    await page.waitForSelector('#reason');
    const back = await page.textContent('body');
    assert.doesNotMatch(back, /Signed in as|Report a problem \*/);
    assert.match(back, /Your account has been logged out of the system/);
    await checkPage('back-after-logout', { refusal: true });
    const old = await fetchPlain(`${kepa}?KIVACTION=start&skey=${key}`);
    assert.match(old.body, /Your account has been logged out of the system/);

    await page.goto(`${kepa}?KIVACTION=login`);
    await checkPage('login-again');
    await submitSignIn('ann', 'not the password');
    await page.waitForLoadState('load');
    await checkPage('login-refused', { refusal: true });
    const refused = await page.textContent('#reason');
    assert.match(refused, /Invalid login or password\./);
    assert.match(refused, /You are not signed in\. Check the login and the password/);
    assert.doesNotMatch(await page.textContent('body'), /Welcome to the help desk/);

    // A new account under a login that is taken says so, and that none
    // was made.
    await page.goto(`${kepa}?KIVACTION=vnewaccount`);
    await checkPage('newaccount-again');
    await submitAccount('ann', 'Plum-99-meadow');
    await page.waitForSelector('#reason');
    await checkPage('account-refused', { refusal: true });
    const taken = await page.textContent('#reason');
    assert.match(taken, /Login 'ann' already belongs to another user/);
    assert.match(taken, /No account was made\./);
    assert.doesNotMatch(taken, /Can't create new account/);
  });

  // A found list is its account's own: another account's key cannot name it.
  test("a selection is its account's own", async () => {
    const account = async (login) => {
      const made = await page.request.post(kepa, { form: { KIVACTION: 'newuser', 'login.VALUE': login,
        'password.VALUE': 'Plum-58-harbour', 'confirmpass.VALUE': 'Plum-58-harbour' } });
      const key = (await made.text()).match(/skey=(\d{20})/)?.[1];
      assert.ok(key, `no key for ${login}`);
      return key;
    };
    const dora = await account('dora');
    const eve = await account('eve');
    const found = await page.request.post(kepa, { form: { KIVACTION: 'find', skey: dora } });
    const list = await found.text();
    const file = list.match(/NAME="hidedatafile\.VALUE" VALUE="([^"]+)"/)?.[1];
    assert.ok(file, 'no scratch file on the list page');
    // The list names its file from the home, and shows nowhere where the
    // home lies.
    assert.match(file, /^tmp\/tmp_datafile\.\d+\.\d+$/);
    assert.ok(!list.includes(home), 'the list page shows the home');
    const confirm = (key) => `${kepa}?KIVACTION=confirmprint&skey=${key}&hidedatafile.VALUE=${encodeURIComponent(file)}` +
      '&select_all.VALUE=1';
    await page.goto(confirm(eve));
    await checkPage('selection-of-another', { refusal: true });
    assert.match(await page.textContent('#reason'), /No data for object 'hidedatafile' from file tmp\/tmp_datafile\./);
    // A path out of tmp is refused alike.
    await page.goto(`${kepa}?KIVACTION=confirmprint&skey=${dora}&select_all.VALUE=1` +
      `&hidedatafile.VALUE=${encodeURIComponent(file.replace('tmp/', 'tmp/../tmp/'))}`);
    await checkPage('selection-through-dotdot', { refusal: true });
    assert.match(await page.textContent('#reason'), /No data for object 'hidedatafile' from file tmp\/\.\.\/tmp\//);
    await page.goto(confirm(dora));
    await checkPage('selection-of-its-own');
    assert.ok((await page.$$('#picked tbody tr')).length >= 1);
  });

  // The defaults of users and staff, and the calendar, on the signed-in road.
  const profileFile = (kind, login) => fs.readFileSync(path.join(home, kind, login), 'utf8');
  // Today as the help desk writes dates: padded on the add form, unpadded in
  // the calendar's cells.
  const now = new Date();
  const [month, day, year] = [now.getMonth() + 1, now.getDate(), now.getFullYear()];
  const pad = (n) => String(n).padStart(2, '0');
  const today = `${pad(month)}/${pad(day)}/${year}`;
  const monthName = (m, y) => `${new Date(y, m - 1, 1).toLocaleString('en-US', { month: 'long' })} ${y}`;
  const colours = { Open: 'firebrick', Pending: 'darkorange', Closed: 'seagreen' };
  let annCase;

  const signIn = async (login, password) => {
    await page.goto(`${kepa}?KIVACTION=login`);
    documents.length = 0;
    await submitSignIn(login, password);
    await page.waitForSelector('.session strong');
    await checkPage(`signed-in-${login}`);
    assert.equal(await page.textContent('.session strong'), login);
  };

  test("a user's defaults fill in her next case", async () => {
    await signIn('ann', 'Quince-17-orchard');
    await follow('#mydefaults', /KIVACTION=mydefaults/);
    await checkPage('mydefaults');
    assert.equal(await page.inputValue('#submitted_by'), 'ann');
    await page.fill('#sub_e_mail', 'ann@example.org');
    await page.selectOption('#category', { label: 'Network' });
    await page.selectOption('#priority', { label: 'High' });
    await page.click('#save');
    await page.waitForSelector('#saved');
    await checkPage('mydefaults-saved');
    assert.equal(await page.textContent('#saved_submitted_by'), 'ann');
    // The assignment the user's form has not is not listed as saved.
    assert.equal(await page.isVisible('#saved_assigned_to'), false);
    assert.match(profileFile('users', 'ann'), /\^\$\^\^\^@\^\^\^@ann\^@ann@example\.org\^@Network\^@High\^@/);

    await follow('#report', /KIVACTION=addform/);
    await checkPage('add-with-defaults');
    assert.equal(await page.inputValue('#submitted_by'), 'ann');
    assert.equal(await page.inputValue('#sub_e_mail'), 'ann@example.org');
    assert.equal(await page.$eval('#category', (s) => s.value.trim()), 'Network');
    assert.equal(await page.$eval('#priority', (s) => s.value.trim()), 'High');
    assert.equal(await page.getAttribute('#addform', 'action'), '/cgi-bin/kepa.cgi');
    assert.equal(await page.inputValue('#addform input[name="date_open.VALUE"]'), today);
    await page.fill('#problem', 'The VPN drops every hour.');
    await page.click('#submit');
    await page.waitForSelector('#added');
    await checkPage('added-with-defaults');
    annCase = (await page.textContent('#case_num')).trim();
    assert.equal(sql(`select submitted_by, sub_e_mail, category, priority from cases where case_num = '${annCase}'`),
      'ann|ann@example.org|Network|High\n');
    await follow('#signout', /KIVACTION=logout/);
    documents.length = 0;
  });

  test("a staff member's defaults are saved under his login", async () => {
    await page.goto(`${kepa}?KIVACTION=vnewaccount`);
    documents.length = 0;
    await submitAccount('sam', 'Birch-31-river');
    await page.waitForSelector('#done');
    await checkPage('account-sam');
    await follow('#tostart', /KIVACTION=start/);
    await follow('#staffdefaults', /KIVACTION=staffdefaults/);
    await checkPage('staffdefaults');
    assert.equal(await page.inputValue('#assigned_to'), 'sam');
    await page.fill('#sa_e_mail', 'sam@example.org');
    await page.click('#save');
    await page.waitForSelector('#saved');
    await checkPage('staffdefaults-saved');
    assert.equal(await page.textContent('#saved_assigned_to'), 'sam');
    assert.equal(await page.isVisible('#saved_sa_e_mail'), true);
    assert.equal(await page.isVisible('#saved_submitted_by'), false);
    assert.match(profileFile('staff', 'sam'), /\^@sam\^@sam@example\.org\^@/);
    assert.equal(fs.existsSync(path.join(home, 'users', 'sam')), false);
  });

  test("the calendar shows this month's cases by day and status, and the months around it", async () => {
    await follow('a.brand', /KIVACTION=start/);
    await follow('#calendar', /KIVACTION=calendar/);
    await checkPage('calendar');
    assert.equal((await page.textContent('#month')).trim(), monthName(month, year));
    // Today's cell holds the case ann added, and every case of the day has
    // the colour of its status (black for a status without one).
    const cell = `#calendar td[data-date="${month}/${day}/${year}"]`;
    assert.equal((await page.textContent(`${cell} .daynum`)).trim(), String(day));
    const entries = await page.$$eval(`${cell} a.entry`, (as) => as.map((a) => ({
      num: a.querySelector('.num').textContent, colour: a.dataset.colour, shown: getComputedStyle(a).borderLeftColor,
      href: a.getAttribute('href') })));
    const rgb = { firebrick: 'rgb(178, 34, 34)', darkorange: 'rgb(255, 140, 0)', seagreen: 'rgb(46, 139, 87)',
      black: 'rgb(0, 0, 0)' };
    assert.ok(entries.some((e) => e.num === annCase), `case ${annCase} is not in today's cell`);
    const statuses = new Set();
    for (const e of entries) {
      const status = sql(`select status from cases where case_num = '${e.num}'`).trim();
      statuses.add(status);
      assert.equal(e.colour, colours[status] ?? 'black', `case ${e.num} (${status})`);
      assert.equal(e.shown, rgb[e.colour], `case ${e.num} is shown in ${e.shown}`);
      const url = new URL(e.href, page.url());
      assert.equal(url.searchParams.get('KIVACTION'), 'open');
      assert.match(url.searchParams.get('skey'), /^\d{20}$/);
      assert.equal(url.searchParams.get('row2form_rec.VALUE'), `case_num^$==${e.num}^$`);
    }
    assert.ok(statuses.has('Open'), 'no case of today is Open');
    // The other days of the month are empty, and so is the next month.
    assert.equal(await page.$$eval('#calendar a.entry', (as) => as.length), entries.length);
    await follow('#nextmonth', /KIVACTION=calendar/);
    await checkPage('calendar-next');
    const next = month === 12 ? [1, year + 1] : [month + 1, year];
    assert.equal((await page.textContent('#month')).trim(), monthName(...next));
    assert.equal(await page.$$eval('#calendar a.entry', (as) => as.length), 0);
    await follow('#prevmonth', /KIVACTION=calendar/);
    await checkPage('calendar-back');
    assert.equal((await page.textContent('#month')).trim(), monthName(month, year));
    assert.ok(await page.isVisible(`${cell} a.entry`));
    // An entry opens its case on the case form.
    await page.click(`${cell} a.entry:has(.num:text-is("${annCase}"))`);
    await page.waitForSelector('#caseform');
    await checkPage('calendar-case-opened');
    assert.equal((await page.textContent('#case_num')).trim(), annCase);
    assert.match(await page.textContent('#problem_text'), /The VPN drops every hour\./);
  });

  test('the case tree by status and then category shows the counts, and each case links to its own', async () => {
    // A case whose category would end a string or the script element, and
    // whose number holds a slash.
    const hostile = 'Bob\'s "kit" \\ </script><b>x';
    sql("insert into cases (id_num, case_num, status, category, submitted_by, problem) values " +
      `(950, 'T/950', 'Open', '${hostile.replace(/'/g, "''")}', 'sam', 'A category that is hard to print.')`);
    await follow('a.brand', /KIVACTION=start/);
    await follow('#tree', /KIVACTION=treeform/);
    await checkPage('treeform');
    const key = new URL(page.url()).searchParams.get('skey');
    assert.match(key, /^\d{20}$/);
    await page.selectOption('#level1', { label: 'Status' });
    await page.selectOption('#level2', { label: 'Category' });
    await Promise.all([page.waitForNavigation(), page.click('#draw')]);
    await checkPage('tree');

    // The groups as the browser drew them: statuses, their categories, and
    // the cases of each.
    const drawn = await page.$eval('#tree', (tree) => {
      const label = (li) => li.querySelector(':scope > details > summary').textContent;
      const nodes = (li) => [...li.querySelectorAll(':scope > details > ul > li.node')];
      const root = tree.querySelector(':scope > ul > li.node');
      return { label: label(root), open: root.querySelector('details').open, statuses: nodes(root).map((s) => ({
        label: label(s), categories: nodes(s).map((c) => ({ label: label(c),
          leaves: [...c.querySelectorAll(':scope > details > ul > li.leaf a')].map((a) => ({
            name: a.textContent, href: a.getAttribute('href') })) })) })) };
    });
    // As the tree shows a value: a slash as a minus, quotes as grave
    // accents, an empty one as "Blank"; groups compare without case.
    const shown = (v) => (v === '' ? 'Blank' : v.replace(/\//g, '-').replace(/'/g, '`').replace(/"/g, '``'));
    const total = Number(sql('select count(*) from cases').trim());
    assert.equal(drawn.label, `Start Summary (${total})`);
    assert.ok(drawn.open, 'the root is not open');
    const expected = new Map();
    for (const line of sql("select lower(coalesce(status, '')), lower(coalesce(category, '')), count(*) from cases " +
        'group by 1, 2').trim().split('\n')) {
      const [status, category, n] = line.split('|');
      const s = shown(status).toLowerCase();
      if (!expected.has(s)) expected.set(s, new Map());
      expected.get(s).set(shown(category).toLowerCase(), Number(n));
    }
    const counted = (label) => label.match(/^(.*) \((\d+)\)$/).slice(1);
    assert.equal(drawn.statuses.length, expected.size);
    const numbers = new Set(sql("select coalesce(case_num, '') from cases").split('\n').slice(0, -1));
    const criterion = (num) => `case_num^$==${num.replace(/[\^,-]/g, (c) => `^${c}`)}^$`;
    const records = new Map([...numbers].map((n) => [criterion(n), n]));
    let leaves = 0;
    for (const status of drawn.statuses) {
      const [name, n] = counted(status.label);
      const categories = expected.get(name.toLowerCase());
      assert.ok(categories, `no status ${name} in the table`);
      assert.equal(Number(n), [...categories.values()].reduce((a, b) => a + b, 0), status.label);
      assert.equal(status.categories.length, categories.size, status.label);
      for (const category of status.categories) {
        const [cname, cn] = counted(category.label);
        assert.equal(Number(cn), categories.get(cname.toLowerCase()), `${status.label} / ${category.label}`);
        assert.equal(category.leaves.length, Number(cn), category.label);
        for (const leaf of category.leaves) {
          // Each case's link opens that case, with the session's key.
          const url = new URL(leaf.href, page.url());
          assert.equal(url.pathname, '/cgi-bin/kepa.cgi');
          assert.equal(url.searchParams.get('KIVACTION'), 'open');
          assert.equal(url.searchParams.get('skey'), key, leaf.href);
          const num = records.get(url.searchParams.get('row2form_rec.VALUE'));
          assert.ok(num !== undefined, `the link of ${leaf.name} names no case: ${leaf.href}`);
          assert.equal(leaf.name, shown(num));
          leaves += 1;
        }
      }
    }
    assert.equal(leaves, total);
    // The hard category is shown as text, as it is stored but for its
    // quotes and its slash.
    const open = drawn.statuses.find((s) => s.label.startsWith('Open '));
    const hard = open.categories.find((c) => c.label.startsWith('Bob'));
    assert.equal(hard?.label, 'Bob`s ``kit`` \\ <-script><b>x (1)');
    assert.equal(hard.leaves[0].name, 'T-950');
    assert.equal(new URL(hard.leaves[0].href, page.url()).searchParams.get('row2form_rec.VALUE'), 'case_num^$==T/950^$');
    assert.equal(await page.$('#tree b'), null);
    // Every group open, as a person looks through them: the names wrap and
    // nothing runs off the side of a phone's screen.
    await page.$$eval('#tree details', (ds) => ds.forEach((d) => { d.open = true; }));
    await page.setViewportSize(phone);
    const wide = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(wide <= phone.width, `the open tree is ${wide} pixels wide on a phone`);
    await page.screenshot({ path: path.join(shots, 'tree-open-phone.png'), fullPage: true });
    await page.setViewportSize(desktop);
    await page.screenshot({ path: path.join(shots, 'tree-open-desktop.png'), fullPage: true });

    // A case opens from its leaf on its form; sam's staff defaults fill in
    // the assignment that the case lacked.
    assert.equal(sql("select coalesce(assigned_to, '') from cases where case_num = 'T/950'"), '\n');
    await page.locator('#tree a.leaf', { hasText: 'T-950' }).click();
    await page.waitForSelector('#caseform');
    await checkPage('tree-case-opened');
    assert.equal((await page.textContent('#case_num')).trim(), 'T/950');
    assert.equal(await page.$eval('#category', (s) => s.value.trim()), hostile);
    assert.equal(await page.inputValue('#assigned_to'), 'sam');
    assert.equal(await page.inputValue('#sa_e_mail'), 'sam@example.org');
  });

  // Finding cases of one submitter and status on the search page; the rows
  // of the list that follows.
  const findCases = async (name, fields) => {
    await follow('a.brand', /KIVACTION=start/);
    await page.click('#search');
    await page.waitForSelector('#searchform');
    await checkPage(`search-${name}`);
    for (const [id, v] of Object.entries(fields)) {
      if (id === 'status') await page.selectOption('#status', { label: v });
      else await page.fill(`#${id}`, v);
    }
    await page.click('#find');
    await page.waitForSelector('#found');
    await checkPage(`found-${name}`);
    return page.$$eval('#found tbody tr', (trs) => trs.map((tr) => ({
      num: tr.querySelector('.name a.view').textContent.trim(), assignee: tr.querySelector('.assignee').textContent.trim(),
      status: tr.children[2].textContent.trim() })));
  };
  let changed;

  test('a submitter changes her case, another login may not', async () => {
    await signIn('ann', 'Quince-17-orchard');
    await follow('#report', /KIVACTION=addform/);
    await page.selectOption('#priority', { label: 'Normal' });
    await page.fill('#problem', 'The printer on floor 2 jams.');
    await page.click('#submit');
    await page.waitForSelector('#added');
    await checkPage('added-to-change');
    changed = (await page.textContent('#case_num')).trim();
    const rows = await findCases('ann-own', { case_num: `==${changed}` });
    assert.deepEqual(rows.map((r) => r.num), [changed]);
    await page.click('#found a.open');
    await page.waitForSelector('#caseform');
    await checkPage('case-open');
    assert.match(await page.textContent('#problem_text'), /The printer on floor 2 jams\./);
    assert.equal(await page.inputValue('#problem'), '');
    await page.fill('#problem', 'It jams on every second page.');
    await page.selectOption('#priority', { label: 'High' });
    await page.click('#modify');
    await page.waitForSelector('#modified');
    await checkPage('modified');
    assert.equal(sql(`select priority from cases where case_num = '${changed}'`), 'High\n');
    const problem = sql(`select problem from cases where case_num = '${changed}'`);
    // The old text with its stamp, then the note with the change's own stamp.
    assert.match(problem, /^The printer on floor 2 jams\.\n\[-Open- [^\n]* - ann - [^\n]*-\]\nIt jams on every second page\.\n\[-Open- [^\n]* - ann - modify-\]\n$/, problem);
    await follow('#signout', /KIVACTION=logout/);
    documents.length = 0;

    // bob opens the same case; his save is refused.
    await page.goto(`${kepa}?KIVACTION=vnewaccount`);
    documents.length = 0;
    await submitAccount('bob', 'Aspen-64-valley');
    await page.waitForSelector('#done');
    await checkPage('account-bob');
    await follow('#tostart', /KIVACTION=start/);
    await findCases('bob', { case_num: `==${changed}` });
    await page.click('#found a.open');
    await page.waitForSelector('#caseform');
    await checkPage('case-open-bob');
    await page.fill('#problem', 'Not my case.');
    await page.click('#modify');
    await page.waitForSelector('#reason');
    await checkPage('modify-refused', { refusal: true });
    assert.match(await page.textContent('#reason'), /Can't change this case\./);
    assert.doesNotMatch(sql(`select problem from cases where case_num = '${changed}'`), /Not my case/);
    await page.goto(`${kepa}?KIVACTION=logout`);
    documents.length = 0;
  });

  test('staff answer a case, assign and release cases, and print reports over them', async () => {
    await signIn('sam', 'Birch-31-river');
    const category = sql(`select category from cases where case_num = '${changed}'`);
    await findCases('sam-answer', { case_num: `==${changed}` });
    await page.click('#found a.open');
    await page.waitForSelector('#caseform');
    await checkPage('case-open-sam');
    await page.fill('#resolution', 'Replaced the fuser.');
    await page.selectOption('#status', { label: 'Closed' });
    await page.click('#respond');
    await page.waitForSelector('#responded');
    await checkPage('responded');
    assert.equal(sql(`select status, category from cases where case_num = '${changed}'`), `Closed|${category}`);
    assert.match(sql(`select resolution from cases where case_num = '${changed}'`), /^Replaced the fuser\.\n\[-Closed- /);
    assert.notEqual(sql(`select coalesce(date_closed, '') from cases where case_num = '${changed}'`), '\n');

    // Two open cases assigned to sam, then one released.
    const open = await findCases('sam-assign', { status: 'Open' });
    assert.ok(open.length >= 2, `only ${open.length} open cases`);
    await page.check('input[name="selrow_1.VALUE"]');
    await page.check('input[name="selrow_2.VALUE"]');
    await page.click('#confirm');
    await page.waitForSelector('#assignform');
    await checkPage('confirm-assign');
    await page.fill('#assigned_to', 'sam');
    await page.click('#assign');
    await page.waitForSelector('#assigned');
    await checkPage('assigned');
    const picked = [open[0].num, open[1].num];
    const listed = await findCases('sam-assigned', { assigned_to: '==sam' });
    for (const num of picked) {
      assert.ok(listed.some((r) => r.num === num && r.assignee === 'sam' && r.status === 'Assigned'), `${num}: ${JSON.stringify(listed)}`);
    }
    const first = listed.findIndex((r) => r.num === picked[0]) + 1;
    await page.check(`input[name="selrow_${first}.VALUE"]`);
    await page.click('#confirm');
    await page.waitForSelector('#assignform');
    await checkPage('confirm-release');
    await page.click('#release');
    await page.waitForSelector('#assigned');
    await checkPage('released');
    assert.equal(sql(`select status, coalesce(assigned_to, '') from cases where case_num = '${picked[0]}'`), 'Open|\n');
    assert.equal(sql(`select status, assigned_to from cases where case_num = '${picked[1]}'`), 'Assigned|sam\n');

    // The reports over all of ann's cases.
    const all = await findCases('sam-report', { submitted_by: '==ann' });
    const count = Number(sql("select count(*) from cases where submitted_by = 'ann'").trim());
    assert.equal(all.length, count);
    await page.check('#select_all');
    await page.click('#confirm');
    await page.waitForSelector('#printform');
    await checkPage('confirm-print');
    const confirmUrl = page.url();
    const report = async (title, name) => {
      await page.selectOption('#reports_menu', { label: title });
      await page.click('#print');
      await page.waitForSelector('h1');
      await checkPage(name);
    };
    await report('Elapsed times', 'report-elapsed');
    assert.equal(await page.$$eval('#elapsed tbody tr', (t) => t.length), count);
    // The averages count the cases whose stamps span some time.
    const spans = await page.$$eval('#elapsed tbody tr', (t) => t.filter((tr) => tr.children[4].textContent !== '0d:0h:0m:0s').length);
    assert.equal((await page.textContent('#elapse_total_recs')).trim(), String(spans));
    await page.goBack();
    await page.waitForSelector('#printform');
    documents.length = 0;
    await report('Percentages', 'report-percent');
    assert.equal((await page.textContent('#report_total')).trim(), String(count));
    const byStatus = await page.$$eval('#percent_status tbody tr', (trs) => trs.map((tr) => `${tr.children[0].textContent}|${tr.children[1].textContent}`));
    const counted = sql("select status, count(*) from cases where submitted_by = 'ann' group by status order by status").trim().split('\n');
    assert.deepEqual(byStatus.sort(), counted.sort());
    await page.goBack();
    await page.waitForSelector('#printform');
    documents.length = 0;
    await report('Trend', 'report-trend');
    const totals = await page.$$eval('#trend table tr:last-child td', (tds) => tds.map((td) => td.textContent.trim()));
    assert.equal(totals[totals.length - 1], String(count));
    assert.ok(confirmUrl);

    // A case shown for reading, from its number in the list.
    await findCases('sam-view', { case_num: `==${changed}` });
    await page.click('#found a.view');
    await page.waitForSelector('#case');
    await checkPage('caseview');
    assert.equal((await page.textContent('#case_num')).trim(), changed);
    assert.equal((await page.textContent('#status')).trim(), 'Closed');
  });

  test('the administrator deletes a case and saves another as it stands', async () => {
    await page.goto(`${up}?KIVACTION=admin`);
    await checkPage('admin-for-cases');
    await page.click('#searchcases');
    await page.waitForSelector('#searchform');
    await checkPage('admin-search');
    await page.fill('#case_num', `==${changed}`);
    await page.click('#find');
    await page.waitForSelector('#found');
    await checkPage('admin-found');
    await page.check('input[name="selrow_1.VALUE"]');
    await page.click('#confirm');
    await page.waitForSelector('#deleteform');
    await checkPage('admin-confirm-delete');
    await page.click('#delete');
    await page.waitForSelector('#deleted');
    await checkPage('admin-deleted');
    assert.equal(sql(`select count(*) from cases where case_num = '${changed}'`), '0\n');

    // Another case of ann's, saved as the administrator's form stands.
    const other = sql("select case_num from cases where submitted_by = 'ann' order by id_num limit 1").trim();
    await page.goto(`${up}?KIVACTION=search`);
    await page.fill('#case_num', `==${other}`);
    await page.click('#find');
    await page.waitForSelector('#found');
    documents.length = 0;
    await page.click('#found a.open');
    await page.waitForSelector('#caseform');
    await checkPage('admin-case-open');
    await page.selectOption('#category', { label: 'Hardware' });
    await page.click('#plainmodify');
    await page.waitForSelector('h1');
    assert.ok(await page.$('#modified'), await page.textContent('body'));
    await checkPage('admin-modified');
    assert.equal(sql(`select category from cases where case_num = '${other}'`), 'Hardware\n');

    // A user's link to the deleted case shows that it is gone.
    await signIn('ann', 'Quince-17-orchard');
    const key = new URL(await page.getAttribute('#signout', 'href'), page.url()).searchParams.get('skey');
    await page.goto(`${kepa}?KIVACTION=view&skey=${key}&row2form_rec.VALUE=${encodeURIComponent(`case_num^$==${changed}^$`)}`);
    await page.waitForSelector('#notfound');
    await checkPage('view-deleted');
    await page.goto(`${kepa}?KIVACTION=logout&skey=${key}`);
    documents.length = 0;
  });

  test("the administration saves a user's and a staff member's defaults and fills a case from them", async () => {
    const admin = async (name) => {
      await page.goto(`${up}?KIVACTION=admin`);
      await checkPage(name);
    };
    await admin('admin-defaults');
    await page.fill('#ud_submitted_by', 'carol');
    await page.fill('#ud_sub_e_mail', 'carol@example.org');
    await page.selectOption('#ud_category', { label: 'Software' });
    await page.selectOption('#ud_priority', { label: 'Urgent' });
    await page.click('#save_userdefaults');
    await page.waitForSelector('#saved');
    await checkPage('admin-user-defaults-saved');
    assert.match(profileFile('users', 'carol'), /\^@carol\^@carol@example\.org\^@Software\^@Urgent\^@/);

    await admin('admin-defaults-staff');
    await page.fill('#sd_assigned_to', 'tom');
    await page.fill('#sd_sa_e_mail', 'tom@example.org');
    await page.click('#save_staffdefaults');
    await page.waitForSelector('#saved');
    await checkPage('admin-staff-defaults-saved');
    assert.match(profileFile('staff', 'tom'), /\^@tom\^@tom@example\.org\^@/);

    await admin('admin-defaults-case');
    await page.fill('#cd_submitted_by', 'carol');
    await page.fill('#cd_assigned_to', 'tom');
    await follow('#open_casedefaults', /KIVACTION=casedefaults/);
    await checkPage('admin-case-from-defaults');
    assert.equal(await page.inputValue('#submitted_by'), 'carol');
    assert.equal(await page.inputValue('#sub_e_mail'), 'carol@example.org');
    assert.equal(await page.$eval('#category', (s) => s.value.trim()), 'Software');
    assert.equal(await page.$eval('#priority', (s) => s.value.trim()), 'Urgent');
    assert.equal(await page.inputValue('#addform input[name="date_open.VALUE"]'), today);
    // The form posts to the administration that printed it.
    assert.equal(await page.getAttribute('#addform', 'action'), '/cgi-bin/up.cgi');
    await page.fill('#problem', 'A new laptop for Carol.');
    await page.click('#submit');
    await page.waitForSelector('#added');
    await checkPage('admin-case-added');
    assert.match(page.url(), /\/cgi-bin\/up\.cgi/);
    const num = (await page.textContent('#case_num')).trim();
    assert.equal(sql(`select submitted_by, sub_e_mail, category, priority from cases where case_num = '${num}'`),
      'carol|carol@example.org|Software|Urgent\n');
    assert.match(sql(`select date_open from cases where case_num = '${num}'`),
      new RegExp(`^${year}-${pad(month)}-${pad(day)}`));
  });
});
