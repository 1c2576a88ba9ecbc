// What the suites of vesk-mcp share: the programs under test, a sim that records what it receives,
// vesk-mcp on a pipe of our own, and the lines no SDK client writes. ctest runs the suites with
// VESK_MCP, VESK and TARNEL_SIM set to the built programs.
import { after } from 'node:test';
import { execFile, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { runInNewContext } from 'node:vm';
import { setTimeout as sleep } from 'node:timers/promises';

export const { VESK_MCP, VESK, TARNEL_SIM } = process.env;
export const scratch = mkdtempSync(join(tmpdir(), 'vesk-mcp-test-'));
export const cleanups = [];
after(async () => {
  for (const cleanup of cleanups) await cleanup();
  rmSync(scratch, { recursive: true, force: true });
});

export async function until(what, check) {
  for (let i = 0; i < 1500; i++) {
    const value = check();
    if (value) return value;
    await sleep(20);
  }
  throw new Error(`gave up waiting for ${what}`);
}

// A sim on a free port that records every request it receives.
export async function startSim(name, options = []) {
  const portFile = join(scratch, `${name}.port`);
  const recordFile = join(scratch, `${name}.jsonl`);
  const sim = spawn(TARNEL_SIM, ['--port', '0', '--port-file', portFile, '--record', recordFile,
    ...options], { stdio: ['ignore', 'ignore', 'pipe'] });
  cleanups.push(() => sim.kill());
  let log = '';
  sim.stderr.on('data', (chunk) => (log += chunk));
  const port = await until('the sim', () => existsSync(portFile) && readFileSync(portFile, 'utf8').trim());
  const requests = () => (existsSync(recordFile) ? readFileSync(recordFile, 'utf8') : '')
    .split('\n').slice(0, -1).map((line) => JSON.parse(line))
    .map(({ method, path, body }) => ({ method, path, body }));
  const hangUps = () => log.split('the client hung up before the answer').length - 1;
  return { port: Number(port), requests, hangUps };
}

export function run(program, args) {
  return new Promise((resolve) => execFile(program, args,
    (error, stdout, stderr) => resolve({ status: error ? error.code : 0, stdout, stderr })));
}

// vesk-mcp on a pipe of our own, for what no SDK client sends; its output may go to a file.
export function rawServer(port, output = 'pipe', options = []) {
  const server = spawn(VESK_MCP, ['--port', String(port), ...options], { stdio: ['pipe', output, 'pipe'] });
  cleanups.push(() => server.kill());
  server.stdin.on('error', () => {});  // a server that has ended reads no more
  let out = '';
  let err = '';
  server.stdout?.on('data', (chunk) => (out += chunk));
  server.stderr.on('data', (chunk) => (err += chunk));
  return {
    send: (...lines) => server.stdin.write(lines.map((line) => `${line}\n`).join('')),
    end: () => server.stdin.end(),
    closeOutput: () => server.stdout.destroy(),
    messages: () => out.split('\n').slice(0, -1).map((line) => JSON.parse(line)),
    stderr: () => err,
    exited: new Promise((resolve) => server.on('exit', (code) => resolve(code))),
  };
}

export const initialize = (id, version) => JSON.stringify({ jsonrpc: '2.0', id, method: 'initialize',
  params: { protocolVersion: version, capabilities: {}, clientInfo: { name: 'raw', version: '0' } } });
export const call = (id, name, args) => JSON.stringify({ jsonrpc: '2.0', id, method: 'tools/call',
  params: { name, arguments: args } });

// What an answer says: its id (none when it has none) with the error code, the protocol version,
// isError, or a 2026-07-28 result's 'complete'.
export const gist = ({ id, error, result }) => [id, error?.code ?? result.protocolVersion ??
  (result.isError ? 'isError' : result.resultType)].filter((part) => part !== undefined);

// One row a call: its arguments, the vesk command line that must send the same request, the
// sim's scripted answer (given once for each of the two), and what the tool must return.

// The protocol's JSON Schema of a revision, as the official conformance suite carries it for its
// own check of what a server sends (it takes the schemas from the protocol's repository). The suite
// ships them inside its bundle, as object literals that begin `={$schema:\``: each is read out
// whole, strings skipped, and evaluated with nothing else in reach. `defines` names a type only
// that revision has.
export function protocolSchema(defines) {
  const bundle = readFileSync(join(import.meta.dirname,
    'node_modules/@modelcontextprotocol/conformance/dist/index.js'), 'utf8');
  const found = [];
  const start = '={$schema:`';
  for (let at = bundle.indexOf(start); at >= 0; at = bundle.indexOf(start, at + 1)) {
    let end = at + 1;
    for (let depth = 0, quote = null; end < bundle.length; end++) {
      const c = bundle[end];
      if (quote) {
        if (c === '\\') end++;
        else if (c === quote) quote = null;
      } else if (c === '`' || c === '"' || c === "'") quote = c;
      else if (c === '{') depth++;
      else if (c === '}' && --depth === 0) break;
    }
    const schema = runInNewContext(`(${bundle.slice(at + 1, end + 1)})`, Object.create(null));
    if (schema.$defs?.[defines]) found.push(schema);
  }
  if (found.length !== 1) throw new Error(`${found.length} schemas in the conformance suite define ${defines}`);
  return found[0];
}
