// Static file server for the page (scripts/serve-web.sh) and its tests: one folder on 127.0.0.1, with the
// headers that make the page cross-origin isolated (SharedArrayBuffer and
// wasm threads need them).
//
//   node scripts/serve-web.mjs FOLDER [PORT]    (PORT 0 or omitted: any free port)
//
// As a module: const server = await startServer({ root, port }); ... await server.close();
import { createServer } from 'node:http';
import { createReadStream } from 'node:fs';
import { realpath, stat } from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const MIME_TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.htm': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
  '.css': 'text/css; charset=utf-8',
  '.png': 'image/png',
  '.ico': 'image/x-icon',
  '.svg': 'image/svg+xml',
  '.json': 'application/json; charset=utf-8',
  '.map': 'application/json; charset=utf-8',
  '.hex': 'text/plain; charset=utf-8',
  '.txt': 'text/plain; charset=utf-8',
};

const ISOLATION_HEADERS = {
  'Cross-Origin-Opener-Policy': 'same-origin',
  'Cross-Origin-Embedder-Policy': 'require-corp',
  'Cross-Origin-Resource-Policy': 'same-origin',
  'X-Content-Type-Options': 'nosniff',
  'Cache-Control': 'no-store',
};

export function mimeType(file) {
  return MIME_TYPES[path.extname(file).toLowerCase()] ?? 'application/octet-stream';
}

function isInside(root, candidate) {
  return candidate === root || candidate.startsWith(root.endsWith(path.sep) ? root : root + path.sep);
}

// Maps a request path to a file inside root, or an HTTP status for refusal.
async function resolveFile(root, urlPath) {
  let decoded;
  try {
    decoded = decodeURIComponent(urlPath);
  } catch {
    return { status: 400 };
  }
  if (decoded.includes('\0')) return { status: 400 };
  const candidate = path.resolve(root, '.' + path.posix.normalize('/' + decoded));
  if (!isInside(root, candidate)) return { status: 403 };
  let real;
  try {
    real = await realpath(candidate);
  } catch {
    return { status: 404 };
  }
  if (!isInside(root, real)) return { status: 403 }; // a link leading out
  let info = await stat(real);
  if (info.isDirectory()) {
    real = path.join(real, 'index.html');
    try {
      info = await stat(real);
    } catch {
      return { status: 404 };
    }
  }
  if (!info.isFile()) return { status: 404 };
  return { file: real, size: info.size };
}

function refuse(res, status) {
  const text = { 400: 'Bad Request', 403: 'Forbidden', 404: 'Not Found', 405: 'Method Not Allowed' }[status];
  res.writeHead(status, { ...ISOLATION_HEADERS, 'Content-Type': 'text/plain; charset=utf-8' });
  res.end(`${status} ${text}\n`);
}

export async function startServer({ root, port = 0, host = '127.0.0.1' } = {}) {
  if (!root) throw new Error('startServer: root folder is required');
  let rootReal;
  try {
    rootReal = await realpath(path.resolve(root));
  } catch {
    throw new Error(`no such folder: ${root}`);
  }
  if (!(await stat(rootReal)).isDirectory()) throw new Error(`not a folder: ${root}`);

  const sockets = new Set();
  const server = createServer(async (req, res) => {
    try {
      if (req.method !== 'GET' && req.method !== 'HEAD') return refuse(res, 405);
      const urlPath = new URL(req.url, 'http://localhost').pathname;
      const found = await resolveFile(rootReal, urlPath);
      if (found.status) return refuse(res, found.status);
      res.writeHead(200, {
        ...ISOLATION_HEADERS,
        'Content-Type': mimeType(found.file),
        'Content-Length': found.size,
      });
      if (req.method === 'HEAD') return res.end();
      const stream = createReadStream(found.file);
      stream.on('error', () => res.destroy());
      stream.pipe(res);
    } catch {
      if (!res.headersSent) refuse(res, 404);
      else res.destroy();
    }
  });
  server.on('connection', (socket) => {
    sockets.add(socket);
    socket.on('close', () => sockets.delete(socket));
  });

  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, () => {
      server.off('error', reject);
      resolve();
    });
  });
  const { port: actualPort } = server.address();
  const url = `http://${host}:${actualPort}/`;
  return {
    url,
    port: actualPort,
    root: rootReal,
    close() {
      return new Promise((resolve) => {
        server.close(() => resolve());
        for (const socket of sockets) socket.destroy();
      });
    },
  };
}

async function main(argv) {
  const [folder, portText] = argv;
  if (!folder || argv.length > 2) {
    console.error('usage: node serve.mjs FOLDER [PORT]');
    return 2;
  }
  const port = portText === undefined ? 0 : Number(portText);
  if (!Number.isInteger(port) || port < 0 || port > 65535) {
    console.error(`serve.mjs: bad port "${portText}"`);
    return 2;
  }
  let server;
  try {
    server = await startServer({ root: folder, port });
  } catch (e) {
    console.error(`serve.mjs: ${e.message}`);
    return 1;
  }
  console.log(server.url);
  const stop = () => server.close().then(() => process.exit(0));
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  return null;
}

if (process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  main(process.argv.slice(2)).then((code) => {
    if (code !== null) process.exitCode = code;
  });
}
