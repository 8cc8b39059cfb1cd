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

let bridges = 0;

export async function bridgeUnit(page, command, options = {}) {
  if (!Array.isArray(command) || command.length === 0) throw new TypeError('bridgeUnit: command is a non-empty list');
  const { input, output, closeTimeoutMs = 5000, stderr = 'inherit', env, cwd } = options;
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

  // page -> process
  await page.exposeFunction(toNode, (bytes) => {
    if (exitStatus || child.stdin.destroyed || !child.stdin.writable) {
      errors.push(`${bytes.length} bytes for the process after it ${exitStatus ? 'exited' : 'closed its input'}`);
      return;
    }
    child.stdin.write(Buffer.from(bytes));
  });
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
  let chain = Promise.resolve();
  let stopped = false;
  child.stdout.on('data', (chunk) => {
    if (stopped) return;
    const bytes = Array.from(chunk);
    chain = chain
      .then(() =>
        page.evaluate(({ input, bytes }) => window.__webMidiStandIn.receive(input, bytes), { input, bytes }),
      )
      .catch((e) => errors.push(`delivering ${bytes.length} bytes to the page: ${e.message.split('\n')[0]}`));
  });

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
      return { ...status, killed, errors: errors.slice() };
    },
  };
}
