// Connects one device of the Web MIDI stand-in to a process speaking raw MIDI
// on its standard streams: what the page sends on the output goes to the
// process's stdin, what the process writes on stdout arrives at the input.
//
//   const bridge = await bridgeUnit(page, ['build/vantro-unit-sim', '--stdio'],
//                                   { input: 'unit-in', output: 'unit-out' });
//   ...
//   const { code, signal } = await bridge.close();
//
// Call it before page.goto() or after: the hook is installed in the current
// document (when the stand-in is there) and in every later one.
import { spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { createServer } from 'node:net';

// A WebSocket server for one page on 127.0.0.1 (RFC 6455, binary frames only): the local socket
// the page's stand-in talks to the process over when options.socket is set. onBytes hears what
// the page sends; the result's send() writes to it.
async function socketServer(onBytes) {
  let peer = null, pending = Buffer.alloc(0);
  const server = createServer((sock) => {
    sock.setNoDelay(true);
    let head = Buffer.alloc(0), open = false;
    sock.on('data', (chunk) => {
      if (!open) {
        head = Buffer.concat([head, chunk]);
        const end = head.indexOf('\r\n\r\n');
        if (end < 0) return;
        const key = /sec-websocket-key:\s*(\S+)/i.exec(head.subarray(0, end).toString())?.[1];
        const accept = createHash('sha1').update(key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
        sock.write('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
          `Sec-WebSocket-Accept: ${accept}\r\n\r\n`);
        open = true;
        peer = sock;
        chunk = head.subarray(end + 4);
      }
      pending = Buffer.concat([pending, chunk]);
      for (;;) {  // the page's frames are masked
        if (pending.length < 2) return;
        let length = pending[1] & 0x7f, at = 2;
        if (length === 126) { if (pending.length < 4) return; length = pending.readUInt16BE(2); at = 4; }
        else if (length === 127) { if (pending.length < 10) return; length = Number(pending.readBigUInt64BE(2)); at = 10; }
        if (pending.length < at + 4 + length) return;
        const mask = pending.subarray(at, at + 4);
        const data = Buffer.from(pending.subarray(at + 4, at + 4 + length));
        for (let i = 0; i < data.length; ++i) data[i] ^= mask[i & 3];
        const opcode = pending[0] & 0x0f;
        pending = pending.subarray(at + 4 + length);
        if (opcode === 2) onBytes(data);
        else if (opcode === 8) sock.end();
      }
    });
    sock.on('error', () => {});
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `ws://127.0.0.1:${server.address().port}`,
    send(bytes) {
      if (!peer) return false;
      const n = bytes.length;
      const head = n < 126 ? Buffer.from([0x82, n])
        : n < 65536 ? Buffer.from([0x82, 126, n >> 8, n & 0xff])
          : Buffer.concat([Buffer.from([0x82, 127]), (() => { const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(n)); return b; })()]);
      peer.write(Buffer.concat([head, bytes]));
      return true;
    },
    close() { peer?.destroy(); return new Promise((resolve) => server.close(resolve)); },
  };
}

let bridges = 0;

export async function bridgeUnit(page, command, options = {}) {
  if (!Array.isArray(command) || command.length === 0) throw new TypeError('bridgeUnit: command is a non-empty list');
  const { input, output, closeTimeoutMs = 5000, stderr = 'inherit', env, cwd, socket = false } = options;
  if (typeof input !== 'string' || typeof output !== 'string') {
    throw new TypeError('bridgeUnit: options.input and options.output name the stand-in ports');
  }
  const toNode = `__unitBridgeOut${++bridges}`;

  const child = spawn(command[0], command.slice(1), {
    stdio: ['pipe', 'pipe', stderr === 'pipe' ? 'pipe' : 'inherit'],
    env: env ?? process.env,
    cwd,
  });
  const errors = [];
  let stderrText = '';
  if (child.stderr) child.stderr.on('data', (chunk) => (stderrText += chunk));

  const exited = new Promise((resolve) => {
    child.once('error', (e) => {
      errors.push(`could not run ${command[0]}: ${e.message}`);
      resolve({ code: null, signal: null });
    });
    child.once('exit', (code, signal) => resolve({ code, signal }));
  });
  let exitStatus = null;
  exited.then((status) => (exitStatus = status));

  // stdin errors (EPIPE once the process is gone) end up in errors, not thrown.
  child.stdin.on('error', (e) => errors.push(`stdin: ${e.message}`));

  const toProcess = (bytes) => {
    if (exitStatus || child.stdin.destroyed || !child.stdin.writable) {
      errors.push(`${bytes.length} bytes for the process after it ${exitStatus ? 'exited' : 'closed its input'}`);
      return;
    }
    child.stdin.write(Buffer.from(bytes));
  };
  let chain = Promise.resolve();
  let stopped = false;
  let ws = null;
  if (socket) {
    // Over a local socket: both ways without a round trip through the browser's debugger.
    ws = await socketServer(toProcess);
    const hook = ({ output, input, url }) => {
      const standIn = window.__webMidiStandIn;
      if (!standIn || window.__unitSocket) return;
      const queued = [];
      const sock = (window.__unitSocket = new WebSocket(url));
      sock.binaryType = 'arraybuffer';
      sock.onopen = () => queued.splice(0).forEach((b) => sock.send(b));
      sock.onmessage = (e) => standIn.receive(input, new Uint8Array(e.data));
      standIn.onSend((id, bytes) => {
        if (id !== output) return;
        if (sock.readyState === 1) sock.send(bytes); else queued.push(bytes);
      });
    };
    await page.addInitScript(hook, { output, input, url: ws.url });
    child.stdout.on('data', (chunk) => {
      if (!stopped && !ws.send(chunk)) errors.push(`${chunk.length} bytes before the page connected`);
    });
  } else {
    // page -> process
    await page.exposeFunction(toNode, toProcess);
    const hook = ({ output, toNode }) => {
      const standIn = window.__webMidiStandIn;
      if (!standIn || window[`${toNode}Hooked`]) return;
      window[`${toNode}Hooked`] = true;
      standIn.onSend((id, bytes) => {
        if (id === output) window[toNode](Array.from(bytes));
      });
    };
    await page.addInitScript(hook, { output, toNode });
    await page.evaluate(hook, { output, toNode }).catch(() => {});

    // process -> page, one evaluate at a time so the bytes stay in order
    child.stdout.on('data', (chunk) => {
      if (stopped) return;
      const bytes = Array.from(chunk);
      chain = chain
        .then(() =>
          page.evaluate(({ input, bytes }) => window.__webMidiStandIn.receive(input, bytes), { input, bytes }),
        )
        .catch((e) => errors.push(`delivering ${bytes.length} bytes to the page: ${e.message.split('\n')[0]}`));
    });
  }

  return {
    process: child,
    errors,
    get stderr() {
      return stderrText;
    },
    // The exit status once the process has ended, else null.
    get exitStatus() {
      return exitStatus;
    },
    // Resolves when the process ends on its own.
    exited,
    // Waits until every byte the process wrote so far has reached the page.
    flushed() {
      return chain;
    },
    // SIGTERM, then SIGKILL if it does not end in time. Resolves to
    // { code, signal, killed, errors }.
    async close() {
      let killed = false;
      if (!exitStatus && child.exitCode === null && child.signalCode === null && child.pid !== undefined) {
        child.stdin.end();
        child.kill('SIGTERM');
        let timer;
        const late = new Promise((resolve) => (timer = setTimeout(resolve, closeTimeoutMs, 'late')));
        if ((await Promise.race([exited, late])) === 'late') {
          killed = true;
          child.kill('SIGKILL');
        }
        clearTimeout(timer);
      }
      const status = await exited;
      stopped = true;
      await chain;
      await ws?.close();
      return { ...status, killed, errors: errors.slice() };
    },
  };
}
