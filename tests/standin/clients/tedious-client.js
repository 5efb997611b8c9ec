// Drives quill-standin with npm's tedious and prints what it saw, one line
// per event: node tedious-client.js PORT PASSWORD, with the steps as JSON
// [sql, isBatch] pairs in STANDIN_CLIENT_STEPS (execSqlBatch or execSql).
'use strict';
const { Connection, Request } = require('tedious');

const [port, password] = process.argv.slice(2);
const connection = new Connection({
  server: '127.0.0.1',
  authentication: { type: 'default', options: { userName: 'sa', password } },
  options: { port: Number(port), database: 'Shop', encrypt: false, trustServerCertificate: true, connectTimeout: 10000 },
});

const show = (v) =>
  v === null ? 'NULL' : v instanceof Date ? v.toISOString() : Buffer.isBuffer(v) ? '0x' + v.toString('hex') : String(v);

connection.on('infoMessage', (m) => console.log(`info ${m.number} ${m.message}`));
connection.on('errorMessage', (m) => console.log(`error ${m.number} ${m.message}`));

function run(sql, batch) {
  return new Promise((resolve) => {
    const request = new Request(sql, (err) => {
      if (err) console.log(`failed ${err.message}`);
      resolve();
    });
    request.on('columnMetadata', (cols) => console.log('columns ' + cols.map((c) => `${c.colName}:${c.type.name}`).join('|')));
    request.on('row', (cols) => console.log('row ' + cols.map((c) => show(c.value)).join('|')));
    const count = (rowCount) => { if (rowCount !== undefined) console.log(`count ${rowCount}`); };
    request.on('done', count);
    request.on('doneInProc', count);
    if (batch) connection.execSqlBatch(request); else connection.execSql(request);
  });
}

connection.connect(async (err) => {
  if (err) {
    console.log(`login-failed ${err.message}`);
    process.exit(2);
  }
  for (const [sql, batch] of JSON.parse(process.env.STANDIN_CLIENT_STEPS)) await run(sql, batch);
  connection.close();
});
