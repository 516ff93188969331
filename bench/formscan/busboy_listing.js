// Prints busboy's listing of multipart bodies, for the part index's
// differential test. For each BODY_FILE (boundary taken from its first line):
//   part <field|file> <name hex> <file name hex or -> <mime type> <value hex>
//   end ok | end error
// Names, values and file names are latin1 (so the hex is the body's bytes);
// a file name busboy decoded from filename*=UTF-8'' is printed as UTF-8.
//   node busboy_listing.js BODY_FILE...
'use strict';
const fs = require('fs');
const busboy = require('busboy');

const hex = (s, enc) => Buffer.from(s, enc).toString('hex') || '.';

function list(body) {
  return new Promise((resolve) => {
    const lf = body.indexOf(10);
    const boundary = body.slice(2, lf).toString('latin1').replace(/[ \t]*\r$/, '');
    const lines = [];
    let bb;
    try {
      bb = busboy({
        headers: { 'content-type': 'multipart/form-data; boundary="' + boundary.replace(/"/g, '\\"') + '"' },
        defCharset: 'latin1',
        defParamCharset: 'latin1',
        preservePath: true,
        limits: { fieldNameSize: Infinity, fieldSize: Infinity, headerPairs: Infinity },
      });
    } catch (err) {
      resolve(['end error']);
      return;
    }
    bb.on('field', (name, value, info) => {
      lines.push(['part field', hex(name, 'latin1'), '-', info.mimeType, hex(value, 'latin1')].join(' '));
    });
    bb.on('file', (name, stream, info) => {
      const chunks = [];
      const at = lines.length;
      lines.push(null);
      stream.on('data', (c) => chunks.push(c));
      stream.on('end', () => {
        // A name decoded from filename* holds characters past U+00FF.
        const f = info.filename;
        const fileName = f === undefined ? '?' : /[^\x00-\xff]/.test(f) ? hex(f, 'utf8') : hex(f, 'latin1');
        lines[at] = ['part file', hex(name, 'latin1'), fileName, info.mimeType,
                     Buffer.concat(chunks).toString('hex') || '.'].join(' ');
      });
    });
    bb.on('error', () => resolve(lines.filter((l) => l).concat(['end error'])));
    bb.on('close', () => resolve(lines.concat(['end ok'])));
    bb.end(body);
  });
}

(async () => {
  for (const file of process.argv.slice(2)) {
    for (const line of await list(fs.readFileSync(file))) console.log(line);
  }
})();
