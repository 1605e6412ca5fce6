// The help desk's pages in headless Chromium, over a home that run-suite made
// with scripts/demo: the index page, the start page, the add form and its
// menus, cases submitted from it and a refused one, the administration and
// its chart settings save (kept over a rerun of scripts/demo, as the cases
// are), a computer's inventory, the refusals of requests that may not pass,
// and with logins on a new account, a password change, a login, a logout, a
// page without its session and a wrong password. Every page, the refusals too, is checked for what a
// person would notice (a marker left in the page, "No object value for", a
// link whose action swallowed the page, a script or loading error, a page
// wider than a phone) and photographed at a desktop's and a phone's width.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
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
// stands, then photographs it as `name`. A bare page is one of the program's
// own message pages, printed without a head: it needs no title. `longLine`
// names the one refusal line such a page may hold that is longer than a
// phone's screen (a bare page has no viewport and no stylesheet to wrap it):
// that line must be all the page is wider for.
async function checkPage(name, { bare = false, longLine = null } = {}) {
  await page.waitForLoadState('load');
  assert.ok(documents.length > 0, `${name}: no page was loaded`);
  for (const d of documents.splice(0)) {
    const body = await d.body;
    assert.ok(!body.includes('No object value for'), `${name}: "No object value for" in ${d.url}`);
    assert.ok(!kOpenMarker.test(body), `${name}: a marker is left in ${d.url}: ${body.match(kOpenMarker)?.[0]}`);
    assert.ok(!kCloseMarker.test(body), `${name}: a marker end is left in ${d.url}: ${body.match(kCloseMarker)?.[0]}`);
    if (d.url.includes('/cgi-bin/')) {
      // Every action link got its session key, so none swallowed the page.
      for (const m of body.matchAll(/KIVACTION=([^&"<>\s]*)(.{0,12})/g)) {
        assert.ok(m[2].startsWith('&amp;skey='), `${name}: the link of action '${m[1]}' has no key in ${d.url}`);
      }
    }
  }
  assert.deepEqual(problems.splice(0), [], `${name}: the browser reported problems`);
  if (!bare) assert.ok((await page.title()).length > 0, `${name}: the page has no title`);
  // Nothing runs off the side of a phone's screen.
  await page.setViewportSize(phone);
  const wide = await page.evaluate(() => document.documentElement.scrollWidth);
  if (longLine === null) {
    assert.ok(wide <= phone.width, `${name}: ${wide} pixels wide on a phone`);
  } else {
    const lines = (await page.textContent('body')).split('\n').filter((l) => l.trim() !== '');
    assert.deepEqual(lines, [longLine], `${name}: ${wide} pixels wide on a phone with more than its refusal`);
  }
  await page.screenshot({ path: path.join(shots, `${name}-phone.png`), fullPage: true });
  await page.setViewportSize(desktop);
  await page.screenshot({ path: path.join(shots, `${name}-desktop.png`), fullPage: true });
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
    await page.click('#open');
    await page.waitForURL(/KIVACTION=start/);
    await checkPage('start');
    assert.equal(await page.textContent('h1'), 'Welcome to the help desk');
    // Nobody is signed in: the line of the signed-in user is hidden.
    assert.equal(await page.isVisible('.session'), false);
  });

  test('the add form shows its fields and the items of its menus', async () => {
    await page.goto(`${kepa}?KIVACTION=start`);
    await checkPage('start-again');
    await page.click('#report');
    await page.waitForURL(/KIVACTION=addform/);
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
    assert.deepEqual(names.sort(), ['KIVACTION', 'category.VALUE', 'priority.VALUE', 'problem.VALUE', 'skey',
      'sub_e_mail.VALUE', 'submitted_by.VALUE']);
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
    await page.click('#open');
    await page.waitForURL(/KIVACTION=start/);
    await page.click('#report');
    await page.waitForURL(/KIVACTION=addform/);
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
    await page.click('#another');
    await page.waitForURL(/KIVACTION=addform/);
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
    await checkPage('add-refused', { bare: true });
    const refused = await page.textContent('body');
    assert.match(refused, /'Problem' can't be blank/);
    assert.match(refused, /Submit Error/);
    assert.doesNotMatch(refused, /Your case number is/);
    assert.equal(count(), before + 2);
  });

  test('values of a request are shown as text, not as markup', async () => {
    const name = '<b id="bold">Ann</b> & "Bob"';
    await page.goto(`${kepa}?KIVACTION=addform&submitted_by.VALUE=${encodeURIComponent(name)}`);
    await checkPage('add-prefilled');
    assert.equal(await page.inputValue('#submitted_by'), name);
    assert.equal(await page.$('#bold'), null);
  });

  test('requests that may not pass are refused', async () => {
    const none = await fetchPlain(kepa);
    assert.match(none.body, /Illogical condition NO KIVACTION is defined/);
    const unbound = await fetchPlain(`${kepa}?KIVACTION=ChartsSettings`);
    assert.match(unbound.body, /No command for action 'ChartsSettings'/);
    const form = await fetchPlain(`${kepa}?KIVACTION=evil&evil=up_admin+charts.html`);
    assert.match(form.body, /No command for action 'evil'/);
    const admin = await fetchPlain(`${up}?KIVACTION=admin`);
    assert.equal(admin.status, 401);
  });
});

describe('administration', () => {
  test('the chart settings are changed, saved and shown saved', async () => {
    await page.goto(`${kepa}?KIVACTION=start`);
    documents.length = 0;
    await page.click('#admin');
    await page.waitForURL(/up\.cgi\?KIVACTION=admin/);
    await checkPage('admin');
    assert.equal(await page.textContent('h1'), 'Administration');
    await page.click('#charts');
    await page.waitForURL(/KIVACTION=ChartsSettings/);
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
    await page.click('#inventory');
    await page.waitForURL(/KIVACTION=inventoryform/);
    await checkPage('inventory-form');

    await ask('PC-0001', 'hardware');
    await page.waitForSelector('#host');
    await checkPage('inventory-hardware');
    assert.equal(await page.textContent('#host'), 'PC-0001');
    assert.equal(await page.isVisible('#software'), false);
    assert.equal(await page.isChecked('#view input[value=hardware]'), true);
    for (const c of classes) assert.equal(await page.isVisible(`#${c}`), true, `${c} is not shown`);
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
      await checkPage(host === 'PC-9999' ? 'inventory-unknown' : 'inventory-injected', { bare: true, longLine: refusal });
      assert.equal((await page.textContent('body')).trim(), refusal);
    }
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

  test('a new account signs in, changes its password, signs out, and a wrong password is refused', async () => {
    await page.goto(`${base}/`);
    documents.length = 0;
    await page.click('#signin');
    await page.waitForURL(/KIVACTION=login/);
    await checkPage('login');
    await page.click('#newaccount');
    await page.waitForURL(/KIVACTION=vnewaccount/);
    await checkPage('newaccount');
    await page.fill('#login', 'ann');
    await page.fill('#password', 'Tulip-42-garden');
    await page.fill('#confirmpass', 'Tulip-42-garden');
    await page.click('#submit');
    await page.waitForSelector('h1');
    await checkPage('account-start');
    assert.equal(await page.textContent('.session strong'), 'ann');
    assert.ok(fs.existsSync(path.join(home, 'login', 'ann')));

    // A password change, from the link of the signed-in user.
    await page.click('.session a[href*=vchangepassword]');
    await page.waitForURL(/KIVACTION=vchangepassword/);
    await checkPage('changepassword');
    assert.equal(await page.inputValue('#login'), 'ann');
    await page.fill('#oldpassword', 'Tulip-42-garden');
    await page.fill('#password', 'Quince-17-orchard');
    await page.fill('#confirmpass', 'Quince-17-orchard');
    await page.click('#submit');
    await page.waitForSelector('.session strong');
    await checkPage('password-changed');

    // The key of the session rides on every link.
    await page.click('#report');
    await page.waitForURL(/KIVACTION=addform/);
    await checkPage('add-signed-in');
    assert.match(page.url(), /skey=\d{20}/);

    // A page without the session's key is refused, in the sample's wording
    // (client/config/errors.txt), which leads back to the index page.
    await page.goto(`${kepa}?KIVACTION=start`);
    await checkPage('session-refused', { bare: true });
    assert.match(await page.textContent('body'), /This operation encountered an error\.\s*Your session may have ended/);
    assert.equal(await page.getAttribute('a', 'href'), '/');

    await page.goto(`${kepa}?KIVACTION=login`);
    await page.fill('#login', 'ann');
    await page.fill('#password', 'Quince-17-orchard');
    await page.click('#submit');
    await page.waitForSelector('.session strong');
    const key = new URL(await page.getAttribute('#signout', 'href'), page.url()).searchParams.get('skey');
    await page.click('#signout');
    await page.waitForURL(/KIVACTION=logout/);
    await checkPage('logout');
    assert.equal(await page.textContent('h1'), 'You are signed out');
    const old = await fetchPlain(`${kepa}?KIVACTION=start&skey=${key}`);
    assert.match(old.body, /Your account has been logged out of the system/);

    await page.goto(`${kepa}?KIVACTION=login`);
    await checkPage('login-again');
    await page.fill('#login', 'ann');
    await page.fill('#password', 'not the password');
    await page.click('#submit');
    await page.waitForLoadState('load');
    await checkPage('login-refused', { bare: true });
    const refused = await page.textContent('body');
    assert.match(refused, /Invalid login or password\./);
    assert.match(refused, /Security check failed/);
    assert.doesNotMatch(refused, /Welcome to the help desk/);
  });
});
