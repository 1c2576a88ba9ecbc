// vesk-mcp as agent hosts drive it, through the official MCP SDK's client over stdio, against
// tarnel-sim. Each call is checked against the request and the words of the same vesk command.
// ctest runs it with VESK_MCP, VESK and TARNEL_SIM set to the built programs.
import { after, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { closeSync, existsSync, mkdtempSync, openSync, readFileSync, rmSync } from 'node:fs';
import { createServer as createHttpServer } from 'node:http';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import Ajv2020 from 'ajv/dist/2020.js';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const { VESK_MCP, VESK, TARNEL_SIM } = process.env;
const scratch = mkdtempSync(join(tmpdir(), 'vesk-mcp-test-'));
const cleanups = [];
after(async () => {
  for (const cleanup of cleanups) await cleanup();
  rmSync(scratch, { recursive: true, force: true });
});

async function until(what, check) {
  for (let i = 0; i < 1500; i++) {
    const value = check();
    if (value) return value;
    await sleep(20);
  }
  throw new Error(`gave up waiting for ${what}`);
}

// A sim on a free port that records every request it receives.
async function startSim(name, options = []) {
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

async function connect(port) {
  const client = new Client({ name: 'vesk-mcp-test', version: '1.0.0' });
  // The whole environment, so that a sanitizer's options reach the server too.
  await client.connect(new StdioClientTransport({ command: VESK_MCP, args: ['--port', String(port)],
    env: process.env }));
  cleanups.push(() => client.close());
  return client;
}

function run(program, args) {
  return new Promise((resolve) => execFile(program, args,
    (error, stdout, stderr) => resolve({ status: error ? error.code : 0, stdout, stderr })));
}

const vesk = (args, port) => run(VESK, [...args, '--port', String(port)]);

// An app that answers each GET with the body its path is given, on a free port.
async function startApp(bodies) {
  const app = createHttpServer((request, response) => response.end(bodies[request.url]));
  await new Promise((resolve) => app.listen(0, '127.0.0.1', resolve));
  cleanups.push(() => app.close());
  return { port: app.address().port };
}

// vesk-mcp on a pipe of our own, for what no SDK client sends; its output may go to a file.
function rawServer(port, output = 'pipe') {
  const server = spawn(VESK_MCP, ['--port', String(port)], { stdio: ['pipe', output, 'pipe'] });
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

const initialize = (id, version) => JSON.stringify({ jsonrpc: '2.0', id, method: 'initialize',
  params: { protocolVersion: version, capabilities: {}, clientInfo: { name: 'raw', version: '0' } } });
const call = (id, name, args) => JSON.stringify({ jsonrpc: '2.0', id, method: 'tools/call',
  params: { name, arguments: args } });

// One row a call: its arguments, the vesk command line that must send the same request, the
// sim's scripted answer (given once for each of the two), and what the tool must return.
const calls = [
  { tool: 'notify', args: { message: 'Build done', name: 'CI', color: '#00FF00', title: 'main',
    image_url: 'https://example.invalid/a.png', chara: 'Vesk', face: 'happy' },
    vesk: ['notify', 'Build done', '--name', 'CI', '--color', '#00FF00', '--title', 'main',
      '--image-url', 'https://example.invalid/a.png', '--chara', 'Vesk', '--face', 'happy'],
    text: 'notification sent' },
  { tool: 'say', args: { message: 'hi', color: '#00FF00' }, vesk: ['say', 'hi', '--color', '#00FF00'],
    text: 'message sent' },
  { tool: 'ask', args: { message: 'Deploy?', answers: ['Yes', ' No ', ' '], accent: '#FF0000' },
    vesk: ['ask', 'Deploy?', '--answers', 'Yes, No , ', '--accent', '#FF0000'], script: ['--chat', 'pick:2'],
    text: 'No', structured: { dismissed: false, answer: 'No' } },
  { tool: 'ask', args: { message: 'Continue?' }, vesk: ['ask', 'Continue?'], script: ['--chat', 'dismiss'],
    text: 'user dismissed without answering', structured: { dismissed: true } },
  { tool: 'ask', args: { message: 'Still there?' }, vesk: ['ask', 'Still there?'], script: ['--chat', 'timeout'],
    error: 'request timed out — the user did not answer in time' },
  { tool: 'ask', args: { message: 'Quick?', timeout: 0.5 }, vesk: ['ask', 'Quick?', '--timeout', '0.5'],
    script: ['--chat', 'timeout:30'], error: 'request timed out after 0s' },
  { tool: 'listen', args: {}, vesk: ['listen'], script: ['--listen', 'message:ship it'],
    text: 'ship it', structured: { cancelled: false, message: 'ship it' } },
  { tool: 'listen', args: {}, vesk: ['listen'], script: ['--listen', 'cancel'],
    text: 'compose was cancelled — no message', structured: { cancelled: true } },
  { tool: 'game', args: { game: 'hangman', mode: 'agent_guesses', word: 'apple', chara: 'Vesk' },
    vesk: ['game', 'hangman', '--mode', 'agent_guesses', '--word', 'apple', '--chara', 'Vesk'],
    script: ['--game', 'result:user won'], text: 'user won', structured: { result: 'user won' } },
  { tool: 'game', args: { game: 'hangman', mode: 'both' }, vesk: ['game', 'hangman', '--mode', 'both'],
    error: /^server returned 400: / },
  { tool: 'characters', args: {}, vesk: ['characters'],
    names: (structured) => structured.characters.map((character) => character.name) },
  { tool: 'health', args: {}, vesk: ['health'],
    structured: (port) => ({ port: String(port), games: '["tic_tac_toe","snake","hangman"]' }) },
  { tool: 'collapse', args: {}, vesk: ['collapse'], text: 'card collapsed' },
  { tool: 'clear', args: {}, vesk: ['clear'], text: 'state cleared' },
];

// Arguments that break a tool's schema: a tool error the model can read (protocol 2025-11-25).
const brokenArguments = [
  { tool: 'ask', args: {}, error: "'message' is required" },
  { tool: 'ask', args: { message: 3 }, error: "'message' must be a string" },
  { tool: 'ask', args: { message: 'x', answers: 'Yes,No' }, error: "'answers' must be an array of strings" },
  { tool: 'game', args: { game: 'chess' }, error: "'game' must be one of tic_tac_toe, snake, hangman" },
  { tool: 'notify', args: { message: 'x', timeout: 0 }, error: "'timeout' must be a number above 0" },
  { tool: 'say', args: { message: 'x', title: 'T' }, error: "unknown argument 'title'" },
  { tool: 'health', args: { timeout: 60 }, error: "unknown argument 'timeout'" },
];

test('its command line: the version, the help and vesk\'s port rule', async () => {
  const version = await run(VESK_MCP, ['--version']);
  assert.equal(version.stdout, (await run(VESK, ['version'])).stdout.replace('vesk', 'vesk-mcp'));
  assert.match((await run(VESK_MCP, ['--help'])).stdout, /^vesk-mcp — [^]*\n    vesk-mcp \[--port <PORT>\]\n/);
  for (const port of ['0', '65536', '5x', '']) {
    const byVesk = await run(VESK, ['health', '--port', port]);
    assert.deepEqual(await run(VESK_MCP, ['--port', port]), { ...byVesk, status: 1 });
  }
  assert.deepEqual(await run(VESK_MCP, ['--prot', '5']), { status: 1, stdout: '',
    stderr: "error: unknown option '--prot'\n\nUsage: vesk-mcp [--port <PORT>]\n" });
});

test('every tool, listed with a valid schema, makes the request of its vesk command', async (t) => {
  const sim = await startSim('calls', calls.flatMap((row) => [...(row.script ?? []), ...(row.script ?? [])]));
  const client = await connect(sim.port);
  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((tool) => tool.name),
    ['notify', 'ask', 'listen', 'say', 'game', 'characters', 'health', 'collapse', 'clear']);
  const ajv = new Ajv2020({ strict: true });
  const fits = Object.fromEntries(tools.map((tool) => [tool.name, ajv.compile(tool.inputSchema)]));
  for (const tool of tools) if (tool.outputSchema) ajv.compile(tool.outputSchema);

  for (const row of calls) {
    await t.test(`${row.tool} ${JSON.stringify(row.args)}`, async () => {
      assert.ok(fits[row.tool](row.args));
      // The SDK checks structuredContent against the tool's output schema.
      const result = await client.callTool({ name: row.tool, arguments: row.args });
      const byVesk = await vesk(row.vesk, sim.port);
      const [sent, sentByVesk] = sim.requests().slice(-2);
      assert.deepEqual(sent, sentByVesk);
      const text = result.content[0].text;
      if (row.error) {
        assert.equal(result.isError, true);
        if (row.error instanceof RegExp) assert.match(text, row.error);
        else assert.equal(text, row.error);
        assert.equal(byVesk.stderr, `error: ${text}\n`);
        return;
      }
      assert.equal(result.isError, undefined, text);
      if (row.text) assert.equal(text, row.text);
      if (row.names) assert.deepEqual(row.names(result.structuredContent), ['Vesk', 'Soleth', 'Mirren']);
      const structured = typeof row.structured === 'function' ? row.structured(sim.port) : row.structured;
      if (structured) assert.deepEqual(result.structuredContent, structured);
    });
  }

  for (const row of brokenArguments) {
    await t.test(`${row.tool} ${JSON.stringify(row.args)} breaks the schema`, async () => {
      assert.equal(fits[row.tool](row.args), false);
      const before = sim.requests().length;
      const result = await client.callTool({ name: row.tool, arguments: row.args });
      assert.equal(result.isError, true);
      assert.equal(result.content[0].text, `invalid arguments for ${row.tool}: ${row.error}`);
      assert.equal(sim.requests().length, before);
    });
  }
});

test('a call is answered while a question waits; a cancelled question is withdrawn', async () => {
  const sim = await startSim('waiting', ['--delay', '/chat=600']);
  const client = await connect(sim.port);
  const cancel = new AbortController();
  let settled = false;
  const question = client.callTool({ name: 'ask', arguments: { message: 'Wait for me?' } }, undefined,
    { signal: cancel.signal }).finally(() => (settled = true));
  await until('the question', () => sim.requests().length === 1);

  const [health, notify] = await Promise.all([client.callTool({ name: 'health', arguments: {} }),
    client.callTool({ name: 'notify', arguments: { message: 'meanwhile' } })]);
  assert.equal(health.isError, undefined);
  assert.equal(notify.isError, undefined);
  assert.equal(settled, false);

  cancel.abort('the agent moved on');
  await assert.rejects(question);
  await until('the hang-up', () => sim.hangUps() === 1);
  await client.ping();
});

test('a call while nothing listens on the port fails with vesk\'s message', async () => {
  const listener = createServer();
  await new Promise((resolve) => listener.listen(0, '127.0.0.1', resolve));
  const { port } = listener.address();
  await new Promise((resolve) => listener.close(resolve));
  const client = await connect(port);
  const result = await client.callTool({ name: 'health', arguments: {} });
  assert.equal(result.isError, true);
  assert.equal(result.content[0].text, `cannot connect to Tarnel — is the app running? (port ${port})`);
});

test('malformed messages get protocol errors; the calls around them are served', async () => {
  const sim = await startSim('burst', ['--delay', '/chat=1']);
  const server = rawServer(sim.port);
  // Each line, and the id and error code (or protocol version) of its answer, if it has one.
  const [opening, ...burst] = [
    [initialize(0, '2025-06-18'), 0, '2025-06-18'],
    ['not json', null, -32700],
    [initialize(1, '2025-11-25'), 1, -32600],
    ['[{"jsonrpc":"2.0","id":3,"method":"ping"}]', null, -32600],
    ['"ping"', null, -32600],
    ['{"jsonrpc":"1.0","id":4,"method":"ping"}', 4, -32600],
    ['{"jsonrpc":"2.0","id":5}', 5, -32600],
    ['{"jsonrpc":"2.0","id":[6],"method":"ping"}', null, -32600],
    ['{"jsonrpc":"2.0","id":7,"method":"ping","params":[]}', 7, -32602],
    ['{"jsonrpc":"2.0","id":8,"method":"prompts/list"}', 8, -32601],
    [call(9, 'nope', {}), 9, -32602],
    [call(10, 'notify', { message: 1 }), 10, -32602],  // 2025-06-18: a protocol error
    [call(11, 'notify', []), 11, -32602],
    ['{"jsonrpc":"2.0","id":12,"result":{}}'],  // a client's answer: nothing to say to it
  ];
  server.send(opening[0], call('waiting', 'ask', { message: 'Through the noise?' }));
  await until('the question', () => sim.requests().length === 1);
  server.send(...burst.map(([line]) => line), call('after', 'notify', { message: 'still here' }));
  const called = (id) => server.messages().find((message) => message.id === id)?.result;
  // The calls are answered last: by then every line of the burst has been.
  await until('the calls', () => called('waiting') && called('after'));
  const answered = [opening, ...burst].filter((row) => row.length > 1);
  const answers = server.messages().filter(({ id }) => id !== 'waiting' && id !== 'after');
  assert.equal(answers.length, answered.length);
  answered.forEach(([line, id, expected], i) => {
    const message = answers[i];
    assert.equal(message.jsonrpc, '2.0', line);
    assert.equal(message.id, id, line);
    if (typeof expected === 'string') assert.equal(message.result.protocolVersion, expected, line);
    else assert.equal(message.error.code, expected, line);
  });
  assert.deepEqual(called('waiting').structuredContent, { dismissed: false, answer: 'ok' });
  assert.deepEqual(called('after').content, [{ type: 'text', text: 'notification sent' }]);
  assert.deepEqual(sim.requests().map(({ body }) => body),
    [{ message: 'Through the noise?' }, { message: 'still here' }]);
  assert.equal(server.stderr(), '');
});

const nested = (levels) => '['.repeat(levels) + ']'.repeat(levels);
// A ping whose line nests `levels` deep, the message and its params counting as two.
const nestedPing = (id, levels) =>
  `{"jsonrpc":"2.0","id":${id},"method":"ping","params":{"x":${nested(levels - 2)}}}`;
// The line with a million levels where it says "DEEP".
const deep = (line) => line.replace('"DEEP"', nested(1e6));
// A ping whose line is `length` bytes long.
const pingOf = (length) => `{"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":"${'x'.repeat(length - 58)}"}}`;
const opened = initialize(0, '2025-11-25');
const goodCall = call('after', 'notify', { message: 'after' });
// What an answer says: its id with the error code, the protocol version, or isError, if any.
const gist = ({ id, error, result }) => [id, error?.code ?? result.protocolVersion ??
  (result.isError ? 'isError' : undefined)].filter((part) => part !== undefined);

// Lines no host should send and outputs that fail, each to a server of its own and then end of
// input (`then` says what happens between). Each row names the answers in the order written, the
// requests the app receives, the questions withdrawn, the exit status and standard error.
const hostile = [
  { name: 'a million-level argument', lines: [opened, deep(call(1, 'notify', { message: 'x', a: 'DEEP' })), goodCall],
    answers: [[0, '2025-11-25'], [null, -32700], ['after']], cards: [{ message: 'after' }] },
  { name: 'a million-level requestId', lines: [opened, deep(JSON.stringify({ jsonrpc: '2.0',
    method: 'notifications/cancelled', params: { requestId: 'DEEP' } })), goodCall],
    answers: [[0, '2025-11-25'], [null, -32700], ['after']], cards: [{ message: 'after' }] },
  { name: 'a line one byte longer than 64 MiB', lines: [opened, pingOf(2 ** 26 + 1), goodCall],
    answers: [[0, '2025-11-25'], [null, -32700], ['after']], cards: [{ message: 'after' }] },
  { name: '512 levels, then 513', lines: [opened, nestedPing(1, 512), nestedPing(2, 513)],
    answers: [[0, '2025-11-25'], [1], [null, -32700]] },
  { name: 'requests before initialize, and initialize twice', lines: [
    '{"jsonrpc":"2.0","id":1,"method":"tools/list"}', call(2, 'notify', { message: 'too early' }),
    '{"jsonrpc":"2.0","method":"notifications/initialized"}', '{"jsonrpc":"2.0","id":3,"method":"ping"}',
    initialize(4, '2099-01-01'), initialize(5, '2025-06-18'),
    call(6, 'notify', { message: 1 }), goodCall],  // still 2025-11-25: a tool error
    answers: [[1, -32002], [2, -32002], [3], [4, '2025-11-25'], [5, -32600], [6, 'isError'], ['after']],
    cards: [{ message: 'after' }] },
  { name: 'a notify and a question, then end of input', sim: ['--delay', '/overlay=0.5', '--delay', '/chat=600'],
    lines: [opened, call(1, 'ask', { message: 'Still there?' }), call(2, 'notify', { message: 'one-shot' })],
    then: 'end once asked', answers: [[0, '2025-11-25'], [2]], cards: [{ message: 'Still there?' }, { message: 'one-shot' }], hangUps: 1 },
  { name: 'the host closes its end after end of input', sim: ['--delay', '/overlay=0.5'],
    lines: [opened, call(1, 'notify', { message: 'unread' })], then: 'close after end',
    answers: [[0, '2025-11-25']], cards: [{ message: 'unread' }] },
  { name: 'the host closes its end while input is open', sim: ['--delay', '/chat=600'],
    lines: [opened, call(1, 'ask', { message: 'Anyone?' })], then: 'close once asked',
    answers: [[0, '2025-11-25']], cards: [{ message: 'Anyone?' }], hangUps: 1, status: 1,
    stderr: 'error: cannot write to standard output: Broken pipe\n' },
  { name: 'a full output', output: '/dev/full', lines: [opened], answers: [], status: 1,
    stderr: 'error: cannot write to standard output: No space left on device\n' },
  // A tenth of a million levels is already far past what a recursion could take on any stack,
  // and a million costs seconds under the sanitizers.
  { name: 'a health answer whose games nest 100,000 levels',
    app: { '/health': `{"port":1,"games":${nested(1e5)}}` }, lines: [opened, call(1, 'health', {})],
    answers: [[0, '2025-11-25'], [1]] },
  { name: 'characters whose faces nest 100,000 levels',
    app: { '/characters': `[{"name":"Deep","faces":${nested(1e5)}}]` }, lines: [opened, call(1, 'characters', {})],
    answers: [[0, '2025-11-25'], [1]] },
];

for (const row of hostile) {
  test(`hostile: ${row.name}`, { skip: row.output && !existsSync(row.output) }, async () => {
    const sim = row.app ? await startApp(row.app) : await startSim(row.name.replace(/\W+/g, '-'), row.sim);
    const output = row.output ? openSync(row.output, 'w') : 'pipe';
    const server = rawServer(sim.port, output);
    if (row.output) closeSync(output);
    server.send(...row.lines);
    if (row.then?.endsWith('once asked')) {
      await until('the question', () => sim.requests().length === row.cards.length);
    }
    if (row.then === 'close once asked') {
      server.closeOutput();
      server.send('{"jsonrpc":"2.0","id":"unwritten","method":"ping"}');
    } else {
      server.end();
    }
    if (row.then === 'close after end') {
      await until('the first answer', () => server.messages().length === 1);
      server.closeOutput();
    }
    assert.equal(await server.exited, row.status ?? 0);
    assert.equal(server.stderr(), row.stderr ?? '');
    assert.deepEqual(server.messages().map(gist), row.answers);
    if (row.app) return;
    // Calls run side by side: the app may receive them in any order.
    const sorted = (bodies) => bodies.map((body) => JSON.stringify(body)).sort();
    assert.deepEqual(sorted(sim.requests().map(({ body }) => body)), sorted(row.cards ?? []));
    await until('the hang-ups', () => sim.hangUps() === (row.hangUps ?? 0));
  });
}
