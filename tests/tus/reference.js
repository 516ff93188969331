// The reference tus server (@tus/server with its file store), started on a
// free loopback port over a fresh temporary folder: the other side of the
// differential table and the first server every client scenario is proven
// on. Run alone it prints its end point and serves until stopped:
//   node reference.js [--max-size BYTES]
'use strict';
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');

function modules() {
  try {
    return { Server: require('@tus/server').Server, FileStore: require('@tus/file-store').FileStore };
  } catch (e) {
    throw new Error(`@tus/server is not installed in tests/tus/node_modules (scripts/setup installs it): ${e.message}`);
  }
}

// Resolves to { url, folder, close() }: url is the creation end point, folder
// the store, whose file named by an upload's id holds that upload's bytes.
async function startReference({ maxSize = 0, expiresMinutes = 60 } = {}) {
  const { Server, FileStore } = modules();
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tus-reference-'));
  const tus = new Server({
    path: '/files',
    datastore: new FileStore({ directory: folder, expirationPeriodInMilliseconds: expiresMinutes * 60000 }),
    ...(maxSize ? { maxSize } : {}),
  });
  const server = http.createServer((req, res) => tus.handle(req, res));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/files`,
    folder,
    idFile: (id) => path.join(folder, id),
    close: () => new Promise((resolve) => {
      server.closeAllConnections?.();
      server.close(() => { fs.rmSync(folder, { recursive: true, force: true }); resolve(); });
    }),
  };
}

module.exports = { startReference };

if (require.main === module) {
  const at = process.argv.indexOf('--max-size');
  startReference({ maxSize: at > 0 ? Number(process.argv[at + 1]) : 0 }).then((ref) => {
    console.log(`reference tus server at ${ref.url} (store ${ref.folder}); Ctrl-C stops`);
    const stop = () => ref.close().then(() => process.exit(0));
    process.on('SIGINT', stop);
    process.on('SIGTERM', stop);
  });
}
