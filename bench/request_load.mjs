// The load of the request benchmark: each request of the help desk sent
// through the web server again and again, by 1 and by 8 clients at once,
// for a fixed time after a warm-up, every answer checked to be the whole
// page. Prints one table row per request and concurrency: requests per
// second, mean, median and 95th percentile of the latency in milliseconds.
// The requests: floor (a bare C CGI program), start (the start page),
// addform (the add form), add (an add), insertfloor (a C CGI program that
// connects, inserts one case and disconnects: the floor under an add), list
// (the list page of a find of every case), confirm (the confirmation of 100
// rows ticked on that list, whose scratch file KIV_BENCH_DATAFILE names).
//
// usage: node request_load.mjs <base URL> <label> [seconds per run] [request...]
// (default requests: floor start addform add)
import http from 'node:http';

const [base, road, secondsArg, ...chosen] = process.argv.slice(2);
if (!base || !road) {
  console.error('usage: node request_load.mjs <base URL> <label> [seconds per run] [request...]');
  process.exit(2);
}
const seconds = Number(secondsArg ?? 5);
const kepa = `${base}/cgi-bin/kepa.cgi`;

// The form of the add page, as the browser posts it.
const addBody = new URLSearchParams({
  KIVACTION: 'add',
  'submitted_by.VALUE': 'Ann Example',
  'sub_e_mail.VALUE': 'ann@example.org',
  'category.VALUE': 'Hardware',
  'priority.VALUE': 'High',
  'problem.VALUE': 'The printer on floor 2 jams every morning.',
  'status.VALUE': 'Open',
  'assigned_to.VALUE': '',
  'sa_e_mail.VALUE': '',
}).toString();

// 100 rows ticked on the list page, every tenth of the first thousand.
const confirmBody = new URLSearchParams([
  ['KIVACTION', 'confirmprint'],
  ['hidedatafile.VALUE', process.env.KIV_BENCH_DATAFILE ?? ''],
  ...Array.from({ length: 100 }, (_, i) => [`selrow_${10 * i + 1}.VALUE`, 'on']),
]).toString();

const all = {
  floor: { name: 'trivial CGI (floor)', url: `${base}/cgi-bin/bare.cgi`, expect: /<html><body><\/body><\/html>/ },
  start: { name: 'start page', url: `${kepa}?KIVACTION=start`, expect: /Welcome to the help desk[\s\S]*<\/html>/ },
  addform: { name: 'add form', url: `${kepa}?KIVACTION=addform`, expect: /id="addform"[\s\S]*<\/html>/ },
  add: { name: 'add', url: kepa, body: addBody, expect: /id="case_num">\d+<\/strong>[\s\S]*<\/html>/ },
  list: { name: 'list page', url: kepa, body: 'KIVACTION=find', expect: /id="found"[\s\S]*<\/html>/ },
  confirm: { name: 'confirm 100 rows', url: kepa, body: confirmBody,
    expect: /You picked <strong>100<\/strong>[\s\S]*<\/html>/ },
  insertfloor: { name: 'insert CGI (floor)', url: `${base}/cgi-bin/insert.cgi`,
    expect: /<html><body>inserted<\/body><\/html>/ },
};
const names = chosen.length ? chosen : ['floor', 'start', 'addform', 'add'];
const unknown = names.filter((n) => !all[n]);
if (unknown.length) {
  console.error(`request_load: no request ${unknown.join(', ')}`);
  process.exit(2);
}
const requests = names.map((n) => all[n]);

function send(agent, r) {
  return new Promise((resolve, reject) => {
    const start = process.hrtime.bigint();
    const options = r.body
      ? { method: 'POST', agent, headers: { 'Content-Type': 'application/x-www-form-urlencoded',
          'Content-Length': Buffer.byteLength(r.body) } }
      : { method: 'GET', agent };
    const req = http.request(r.url, options, (res) => {
      let text = '';
      res.setEncoding('utf8');
      res.on('data', (c) => { text += c; });
      res.on('end', () => {
        const ms = Number(process.hrtime.bigint() - start) / 1e6;
        if (res.statusCode !== 200 || !r.expect.test(text)) {
          reject(new Error(`${r.name}: status ${res.statusCode}: ${text.slice(0, 300)}`));
        } else {
          resolve(ms);
        }
      });
    });
    req.on('error', reject);
    if (r.body) req.write(r.body);
    req.end();
  });
}

async function run(r, clients) {
  const agent = new http.Agent({ keepAlive: true, maxSockets: clients });
  for (let i = 0; i < 10; ++i) await send(agent, r);  // warm-up
  const times = [];
  const end = Date.now() + seconds * 1000;
  const started = process.hrtime.bigint();
  await Promise.all(Array.from({ length: clients }, async () => {
    while (Date.now() < end) times.push(await send(agent, r));
  }));
  const wall = Number(process.hrtime.bigint() - started) / 1e9;
  agent.destroy();
  times.sort((a, b) => a - b);
  const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))];
  const mean = times.reduce((a, b) => a + b, 0) / times.length;
  return { rate: times.length / wall, mean, p50: at(0.5), p95: at(0.95), n: times.length };
}

const pad = (s, n) => String(s).padEnd(n);
const num = (x, d = 1) => x.toFixed(d).padStart(8);
for (const r of requests) {
  for (const clients of [1, 8]) {
    const s = await run(r, clients);
    console.log(`| ${pad(road, 18)} | ${pad(r.name, 20)} | ${String(clients).padStart(2)} | ${num(s.rate)} | `
      + `${num(s.mean, 2)} | ${num(s.p50, 2)} | ${num(s.p95, 2)} | ${String(s.n).padStart(6)} |`);
  }
}
