// vesk-mcp as agent hosts drive it, through the official MCP SDK's client over stdio, against
// tarnel-sim. Each call is checked against the request and the words of the same vesk command.
// ctest runs it with VESK_MCP, VESK and TARNEL_SIM set to the built programs.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { closeSync, existsSync, openSync } from 'node:fs';
import { createServer as createHttpServer } from 'node:http';
import { createServer } from 'node:net';
import { basename } from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import Ajv2020 from 'ajv/dist/2020.js';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { VESK, VESK_MCP, call, cleanups, gist, initialize, rawServer, run, startSim, until } from './harness.mjs';

// An SDK client of vesk-mcp. `received` holds every message the server sent; a `revision` other
// than the SDK's newest is what its initialize asks for.
async function connect(port, options = [], revision = undefined) {
  const client = new Client({ name: 'vesk-mcp-test', version: '1.0.0' });
  // The whole environment, so that a sanitizer's options reach the server too.
  const transport = new StdioClientTransport({ command: VESK_MCP,
    args: ['--port', String(port), ...options], env: process.env });
  const send = transport.send.bind(transport);
  transport.send = (message, sendOptions) => send(message.method === 'initialize' && revision
    ? { ...message, params: { ...message.params, protocolVersion: revision } } : message, sendOptions);
  const received = [];
  let handler;
  Object.defineProperty(transport, 'onmessage', { get: () => handler,
    set: (given) => (handler = (message, extra) => { received.push(message); given(message, extra); }) });
  await client.connect(transport);
  cleanups.push(() => client.close());
  return Object.assign(client, { received });
}

const vesk = (args, port) => run(VESK, [...args, '--port', String(port)]);

// An app that answers each GET with the body its path is given, on a free port.
async function startApp(bodies) {
  const app = createHttpServer((request, response) => response.end(bodies[request.url]));
  await new Promise((resolve) => app.listen(0, '127.0.0.1', resolve));
  cleanups.push(() => app.close());
  return { port: app.address().port };
}

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
  { tool: 'game', args: { game: 'snake', accent: '#123456' }, vesk: ['game', 'snake', '--accent', '#123456'],
    script: ['--game', 'timeout'], error: 'game timed out' },
  { tool: 'characters', args: {}, vesk: ['characters'],
    names: (structured) => structured.characters.map((character) => character.name) },
  { tool: 'health', args: {}, vesk: ['health'],
    structured: (port) => ({ port, games: ['tic_tac_toe', 'snake', 'hangman'] }) },
  { tool: 'collapse', args: {}, vesk: ['collapse'], text: 'card collapsed' },
  { tool: 'clear', args: {}, vesk: ['clear'], text: 'state cleared' },
];

// Arguments that break a tool's schema: a tool error the model can read (protocol 2025-11-25), or
// for approve a refusal, which is a decision. `unsaid` marks what the schema cannot say: hosts
// refuse a top-level "one of these" (anyOf).
const brokenArguments = [
  { tool: 'ask', args: {}, error: "'message' is required" },
  { tool: 'ask', args: { message: 3 }, error: "'message' must be a string" },
  { tool: 'ask', args: { message: 'x', answers: 'Yes,No' }, error: "'answers' must be an array of strings" },
  { tool: 'game', args: { game: 'chess' }, error: "'game' must be one of tic_tac_toe, snake, hangman" },
  { tool: 'notify', args: { message: 'x', timeout: 0 }, error: "'timeout' must be a number above 0" },
  { tool: 'say', args: { message: 'x', title: 'T' }, error: "unknown argument 'title'" },
  { tool: 'health', args: { timeout: 60 }, error: "unknown argument 'timeout'" },
  { tool: 'game', args: { mode: 'user_guesses' }, error: "'game' is required" },
  { tool: 'game', args: { game: 'hangman', mode: 'both' },
    error: "'mode' must be one of user_guesses, agent_guesses" },
  { tool: 'approve', args: { tool_name: 'Bash', tool_use_id: 't1' },
    error: "'input' or 'tool_input' is required", unsaid: true },
  { tool: 'approve', args: { tool_name: 'Bash', tool_input: 'ls' }, error: "'tool_input' must be an object" },
  { tool: 'approve', args: { input: {} }, error: "'tool_name' is required" },
];

const usage = 'Usage: vesk-mcp [--hook] [--port <PORT>] [--approve-timeout <SECS>] [--approve-whole]\n' +
  '                [--agent <NAME>] [--progress-interval <SECS>]';

test('its command line: the version, the help, vesk\'s port rule and the seconds options', async () => {
  const version = await run(VESK_MCP, ['--version']);
  assert.equal(version.stdout, (await run(VESK, ['version'])).stdout.replace('vesk', 'vesk-mcp'));
  assert.match((await run(VESK_MCP, ['--help'])).stdout, /^vesk-mcp — [^]*\n    vesk-mcp \[--port <PORT>\] /);
  for (const port of ['0', '65536', '5x', '']) {
    const byVesk = await run(VESK, ['health', '--port', port]);
    assert.deepEqual(await run(VESK_MCP, ['--port', port]), { ...byVesk, status: 1 });
  }
  const refusals = [
    [['--prot', '5'], `unknown option '--prot'\n\n${usage}`],
    [['--approve-timeout', '0'], 'invalid --approve-timeout: 0'],
    [['--progress-interval', 'soon'], 'invalid --progress-interval: soon'],
    [['--progress-interval', '0.05'], 'invalid --progress-interval: 0.05'],
    [['--progress-interval'], 'invalid --progress-interval: true'],
    [['--approve-whole', 'yes'], '--approve-whole takes no value: yes'],
    [['--hook', 'now'], '--hook takes no value: now'],
  ];
  for (const [args, error] of refusals) {
    assert.deepEqual(await run(VESK_MCP, args), { status: 1, stdout: '', stderr: `error: ${error}\n` });
  }
});

// What each tool does to its surroundings, as hosts read it: readOnlyHint, destructiveHint,
// idempotentHint, openWorldHint, every one written out.
const hints = {
  notify: [false, false, false, false], ask: [false, false, false, false],
  listen: [false, false, false, false], say: [false, false, false, false],
  game: [false, false, false, false], characters: [true, false, true, false],
  health: [true, false, true, false], collapse: [false, false, true, false],
  clear: [false, true, true, false], approve: [false, false, false, false],
};

test('every tool, listed with a valid schema, makes the request of its vesk command', async (t) => {
  const sim = await startSim('calls', calls.flatMap((row) => [...(row.script ?? []), ...(row.script ?? [])]));
  const client = await connect(sim.port);
  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((tool) => tool.name),
    ['notify', 'ask', 'listen', 'say', 'game', 'characters', 'health', 'collapse', 'clear', 'approve']);
  const ajv = new Ajv2020({ strict: true });
  const fits = Object.fromEntries(tools.map((tool) => [tool.name, ajv.compile(tool.inputSchema)]));
  for (const tool of tools) if (tool.outputSchema) ajv.compile(tool.outputSchema);
  for (const tool of tools) {
    const [readOnlyHint, destructiveHint, idempotentHint, openWorldHint] = hints[tool.name];
    assert.deepEqual(tool.annotations, { readOnlyHint, destructiveHint, idempotentHint, openWorldHint },
      tool.name);
    assert.match(tool.title, /^[A-Z][^.]+$/, tool.name);
  }
  assert.equal(new Set(tools.map((tool) => tool.title)).size, tools.length);
  const schemaOf = (name) => tools.find((tool) => tool.name === name).inputSchema;
  assert.deepEqual(schemaOf('game').properties.game.enum, ['tic_tac_toe', 'snake', 'hangman']);
  assert.deepEqual(schemaOf('game').properties.mode.enum, ['user_guesses', 'agent_guesses']);
  for (const name of ['health', 'characters']) {
    assert.match(tools.find((tool) => tool.name === name).description,
      /gives up when the app has not answered within 5 seconds/i);
  }

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
      assert.equal(fits[row.tool](row.args), Boolean(row.unsaid));
      const before = sim.requests().length;
      const result = await client.callTool({ name: row.tool, arguments: row.args });
      const message = `invalid arguments for ${row.tool}: ${row.error}`;
      if (row.tool === 'approve') {
        assert.equal(result.isError, undefined);
        assert.deepEqual(JSON.parse(result.content[0].text), { behavior: 'deny', message });
      } else {
        assert.equal(result.isError, true);
        assert.equal(result.content[0].text, message);
      }
      assert.equal(sim.requests().length, before);
    });
  }
});

// health's data is typed where the app's answer is; else each member is the text vesk prints.
const healthAnswers = [
  { body: '{"port":"47037","games":"tic_tac_toe"}', structured: { port: '47037', games: 'tic_tac_toe' },
    text: 'Tarnel is running on port 47037, games: tic_tac_toe' },
  { body: '{"port":47037.5,"games":[1,"snake"]}', structured: { port: '47037.5', games: '[1,"snake"]' },
    text: 'Tarnel is running on port 47037.5, games: [1,"snake"]' },
  { body: '{"port":1,"games":[]}', structured: { port: 1, games: [] }, text: 'Tarnel is running on port 1, games: []' },
  { body: '[]', structured: {}, text: 'Tarnel is running on port ?, games: []' },
];

test('health\'s data as the app typed it', async () => {
  for (const row of healthAnswers) {
    const sim = await startSim(`health-${healthAnswers.indexOf(row)}`, ['--force', `/health=200:${row.body}`]);
    const result = await (await connect(sim.port)).callTool({ name: 'health', arguments: {} });
    assert.deepEqual(result.structuredContent, row.structured, row.body);
    assert.equal(result.content[0].text, row.text);
  }
});

// Approvals: the host's call, the card the app must get (none when it is refused unasked), how
// the user acts, and the decision. The card's title is the folder vesk-mcp runs in, or --agent.
const longCommand = `printf '%s' ${'ä'.repeat(250)}`;
const folder = basename(process.cwd());
const approvals = [
  { args: { tool_name: 'Bash', input: { command: longCommand, description: 'print' }, tool_use_id: 'toolu_1',
    session: 'the host\'s own' },
  question: `Allow Bash: ${longCommand}\ndescription (the agent's own words): print`, script: 'pick:1',
  decision: { behavior: 'allow', updatedInput: { command: longCommand, description: 'print' } } },
  { options: ['--agent', 'agent \u202e2'], args: { tool_name: 'Write', tool_input: { file_path: '/tmp/notes.md', content: 'x' } },
    question: 'Allow Write: /tmp/notes.md\ncontent: x', title: 'agent \\u{202E}2', script: 'pick:2',
    decision: { behavior: 'deny', message: 'the user denied Write in the notch' } },
  { args: { tool_name: 'Bash', input: { command: 'ls\n\tcat\r\u0085\u007f.' }, tool_input: { command: 'rm' } },
    question: 'Allow Bash: ls\\u{A}\\u{9}cat\\u{D}\\u{85}\\u{7F}.', script: 'dismiss',
    decision: { behavior: 'deny', message: 'the user dismissed the request in the notch' } },
  { args: { tool_name: 'WebFetch', input: { prompt: 'sum', url: 'https://example.invalid/' } },
    question: 'Allow WebFetch: https://example.invalid/\nprompt: sum', script: 'answer:Later',
    decision: { behavior: 'deny', message: 'the user answered "Later" in the notch' } },
  { args: { tool_name: 'Bash', input: { command: 'make' } }, question: 'Allow Bash: make', script: 'timeout',
    decision: { behavior: 'deny', message: 'request timed out — the user did not answer in time' } },
  { args: { tool_name: 'Bash', input: { command: 'make' }, timeout: 0.5 }, question: 'Allow Bash: make',
    script: 'timeout:30', decision: { behavior: 'deny', message: 'request timed out after 0s' } },
  // Hosts send no timeout: --approve-timeout sets it.
  { options: ['--approve-timeout', '0.5'], args: { tool_name: 'Read', input: { file_path: '/etc/hosts' } },
    question: 'Allow Read: /etc/hosts', script: 'timeout:30',
    decision: { behavior: 'deny', message: 'request timed out after 0s' } },
  { options: ['--approve-whole'], args: { tool_name: 'Bash', input: { command: 'x'.repeat(501) } },
    decision: { behavior: 'deny', message: 'denied without asking: this Bash call is longer than the card in ' +
      'the notch can show whole, and vesk-mcp runs with --approve-whole. Do it in smaller steps the user can ' +
      'read whole' } },
  { args: { tool_name: 'Bash', input: { command: 'ls', command2: 'x' }, tool_input: 'not an object' },
    decision: { behavior: 'deny', message: 'invalid arguments for approve: \'tool_input\' must be an object' } },
];

test('approve asks in the notch and fails closed', async (t) => {
  const sim = await startSim('approve', approvals.filter((row) => row.script).flatMap((row) => ['--chat', row.script]));
  for (const row of approvals) {
    await t.test(`${row.script} ${JSON.stringify(row.args).slice(0, 60)}`, async () => {
      const client = await connect(sim.port, row.options);
      const before = sim.requests().length;
      const result = await client.callTool({ name: 'approve', arguments: row.args });
      assert.deepEqual(sim.requests().slice(before), row.question ? [{ method: 'POST', path: '/chat',
        body: { message: row.question, proposed_answers: ['Allow', 'Deny'], title: row.title ?? folder } }] : []);
      // The host refuses a decision with structured content, and reads an error as a refusal.
      assert.equal(result.structuredContent, undefined);
      assert.equal(result.isError, undefined);
      assert.equal(result.content.length, 1);
      assert.equal(result.content[0].type, 'text');
      assert.deepEqual(JSON.parse(result.content[0].text), row.decision);
    });
  }
});

test('Allow hands back the input as the host wrote it, in a line of its own or in a batch', async () => {
  const sim = await startSim('approve-raw', Array(6).fill(['--chat', 'pick:1']).flat());
  const short = '{"z" : 1e2,"command":"ls","n":123456789012345678901234567890,"s":"\\u00e9\\/", "o":{"b":[]}}';
  // Longer than a text the server decodes apart, in a line that comes in many reads.
  const long = `{"command":"ls","content":"\\u00e9${'x'.repeat(2 ** 21)}"}`;
  for (const input of [short, long]) {
    const approval = (id) => `{"jsonrpc":"2.0","id":${id},"method":"tools/call","params":{"name":"approve",` +
      `"arguments":{"tool_name":"Bash","tool_input":{"command":"rm"},"input":${input}}}}`;
    for (const [revision, line] of [['2025-11-25', approval(1)], ['2025-03-26', `[${approval(1)}, ${approval(2)}]`]]) {
      const server = rawServer(sim.port);
      server.send(initialize(0, revision), line);
      const answers = () => server.messages().flat().filter((message) => message.id !== 0);
      await until('the decisions', () => answers().length === (line.startsWith('[') ? 2 : 1));
      for (const answer of answers()) {
        assert.equal(answer.result.content[0].text, `{"behavior":"allow","updatedInput":${input}}`);
      }
      server.end();
      assert.equal(await server.exited, 0);
    }
  }
  assert.deepEqual(sim.requests()[0].body.message,
    'Allow Bash: ls\nz: 1e2\nn: 123456789012345678901234567890\ns: é/\no: {"b":[]}');
  // The longest text outside the input is read from the document: here the tool's name.
  const server = rawServer(sim.port);
  server.send(initialize(0, '2025-11-25'), `{"jsonrpc":"2.0","id":1,"method":"tools/call","params":` +
    `{"name":"approve","arguments":{"tool_name":"B${'x'.repeat(2 ** 21)}","input":${short}}}}`);
  await until('the decision', () => server.messages().flat().some((message) => message.id === 1));
  server.end();
  assert.equal(await server.exited, 0);
  assert.match(sim.requests().at(-1).body.message, /^Allow Bx+ … 2,097,\d+ characters not shown … x+: ls\n/);
});

test('approvals have room of their own beside the calls that wait for a person', async () => {
  const sim = await startSim('approve-room', ['--delay', '/chat=600']);
  const server = rawServer(sim.port);
  const asks = Array.from({ length: 17 }, (_, i) => call(`ask${i}`, 'ask', { message: 'Wait?' }));
  const approvals = Array.from({ length: 17 }, (_, i) =>
    call(`approve${i}`, 'approve', { tool_name: 'Bash', input: { command: 'make' } }));
  server.send(initialize(0, '2025-11-25'), ...asks, ...approvals);
  await until('the 32 cards', () => sim.requests().length === 32);
  await until('the two refusals', () => server.messages().length === 3);
  const [, ask, approval] = server.messages();
  assert.deepEqual([ask.id, ask.result.isError, ask.result.content[0].text],
    ['ask16', true, 'too many calls in flight: at most 16 at once']);
  assert.deepEqual([approval.id, approval.result.isError, JSON.parse(approval.result.content[0].text)],
    ['approve16', undefined, { behavior: 'deny', message: 'too many approvals in flight: at most 16 at once' }]);
  server.end();
  assert.equal(await server.exited, 0);
  await until('the hang-ups', () => sim.hangUps() === 32);
});

// The PermissionRequest hook: the host's request on standard input, the card the app gets, how
// the user acts, and what the host reads: a decision, or nothing, which leaves its dialog to ask.
const hookInput = (toolInput, more = {}) => JSON.stringify({ session_id: 's', transcript_path: '/t.jsonl',
  cwd: '/home/ada/shop', permission_mode: 'default', hook_event_name: 'PermissionRequest', tool_name: 'Bash',
  tool_input: toolInput, permission_suggestions: [], ...more });
const decided = (decision) =>
  `${JSON.stringify({ hookSpecificOutput: { hookEventName: 'PermissionRequest', decision } })}\n`;
const asksInstead = (why) => `warning: ${why} — the host's own dialog asks instead\n`;
const hooks = [
  { input: hookInput({ command: 'rm -rf build', description: 'clean' }), script: 'pick:1',
    card: { message: 'Allow Bash: rm -rf build\ndescription (the agent\'s own words): clean', title: 'shop' },
    stdout: decided({ behavior: 'allow' }) },
  { input: hookInput({ command: 'make' }, { cwd: 7 }), options: ['--agent', 'ci'], script: 'pick:2',
    card: { message: 'Allow Bash: make', title: 'ci' },
    stdout: decided({ behavior: 'deny', message: 'the user denied Bash in the notch' }) },
  { input: hookInput({ command: 'make' }), script: 'answer:use ninja',
    card: { message: 'Allow Bash: make', title: 'shop' },
    stdout: decided({ behavior: 'deny', message: 'the user answered "use ninja" in the notch' }) },
  { input: hookInput({ command: 'make' }), script: 'dismiss', card: { message: 'Allow Bash: make', title: 'shop' } },
  { input: hookInput({ command: 'make' }), script: 'timeout', card: { message: 'Allow Bash: make', title: 'shop' },
    stderr: asksInstead('request timed out — the user did not answer in time') },
  { input: hookInput({ command: 'make' }), noApp: true, stderr: /^warning: cannot connect to Tarnel/ },
  { input: hookInput({ command: 'x'.repeat(600) }), options: ['--approve-whole'], stdout: decided({
    behavior: 'deny', message: 'denied without asking: this Bash call is longer than the card in the notch can ' +
    'show whole, and vesk-mcp runs with --approve-whole. Do it in smaller steps the user can read whole' }) },
  { input: hookInput({ command: 'make' }, { hook_event_name: 'PreToolUse' }),
    stderr: asksInstead('the hook\'s input is not a PermissionRequest with a tool_name and a tool_input') },
  { input: `${hookInput({ command: 'make' })}\0`, stderr: asksInstead('the hook\'s input is not a PermissionRequest') },
  { input: hookInput({ command: 'ls', command_: 1 }).replace('command_', 'command'),
    stderr: asksInstead('the input names command twice, and hosts differ on which one counts') },
];

function runHook(port, input, options = []) {
  const hook = spawn(VESK_MCP, ['--hook', '--port', String(port), ...options], { stdio: ['pipe', 'pipe', 'pipe'] });
  cleanups.push(() => hook.kill());
  let stdout = '';
  let stderr = '';
  hook.stdout.on('data', (chunk) => (stdout += chunk));
  hook.stderr.on('data', (chunk) => (stderr += chunk));
  hook.stdin.end(input);
  const exited = new Promise((resolve) => hook.on('close', (status) => resolve({ status, stdout, stderr })));
  return { exited, kill: (signal) => hook.kill(signal) };
}

test('the PermissionRequest hook decides on the same card, or leaves it to the host', async (t) => {
  const sim = await startSim('hook', hooks.filter((row) => row.script).flatMap((row) => ['--chat', row.script]));
  const listener = createServer();
  await new Promise((resolve) => listener.listen(0, '127.0.0.1', resolve));
  const nothing = listener.address().port;  // closed again: nothing listens there
  await new Promise((resolve) => listener.close(resolve));
  for (const row of hooks) {
    await t.test(`${row.script ?? ''} ${row.input.slice(0, 80)}`, async () => {
      const before = sim.requests().length;
      const { status, stdout, stderr } = await runHook(row.noApp ? nothing : sim.port, row.input, row.options).exited;
      assert.equal(status, 0);
      assert.equal(stdout, row.stdout ?? '');
      if (row.stderr instanceof RegExp) assert.match(stderr, row.stderr);
      else assert.equal(stderr, row.stderr ?? '');
      assert.deepEqual(sim.requests().slice(before).map(({ body }) => body),
        row.card ? [{ ...row.card, proposed_answers: ['Allow', 'Deny'] }] : []);
    });
  }
  await t.test('SIGTERM withdraws the card and leaves the dialog', async () => {
    const held = await startSim('hook-held', ['--delay', '/chat=600']);
    const hook = runHook(held.port, hookInput({ command: 'make' }));
    await until('the card', () => held.requests().length === 1);
    hook.kill('SIGTERM');
    assert.deepEqual(await hook.exited, { status: 0, stdout: '', stderr: '' });
    await until('the hang-up', () => held.hangUps() === 1);
  });
});

// What a session in each revision shows: where ask's title goes, whether it has annotations, an
// output schema and structured content, how arguments that break the schema are answered, and
// whether progress has a message.
const revisions = [
  { revision: '2024-11-05', title: undefined, annotations: undefined, structured: false,
    broken: -32602, message: undefined },
  { revision: '2025-03-26', title: undefined,
    annotations: { title: 'Ask the user', readOnlyHint: false, destructiveHint: false, idempotentHint: false,
      openWorldHint: false }, structured: false, broken: -32602, message: 'waiting for the user in the notch' },
  { revision: '2025-06-18', title: 'Ask the user',
    annotations: { readOnlyHint: false, destructiveHint: false, idempotentHint: false, openWorldHint: false },
    structured: true, broken: -32602, message: 'waiting for the user in the notch' },
  { revision: '2025-11-25', title: 'Ask the user',
    annotations: { readOnlyHint: false, destructiveHint: false, idempotentHint: false, openWorldHint: false },
    structured: true, broken: 'isError', message: 'waiting for the user in the notch' },
];

test('every published revision, answered in kind', async (t) => {
  const sim = await startSim('revisions', ['--delay', '/chat=0.5']);
  for (const row of revisions) {
    await t.test(row.revision, async () => {
      const client = await connect(sim.port, ['--progress-interval', '0.2'], row.revision);
      assert.equal(client.received[0].result.protocolVersion, row.revision);
      const ask = (await client.listTools()).tools.find((tool) => tool.name === 'ask');
      assert.equal(ask.title, row.title);
      assert.deepEqual(ask.annotations, row.annotations);
      assert.equal('outputSchema' in ask, row.structured);

      const progress = [];
      const result = await client.callTool({ name: 'ask', arguments: { message: 'Which?' } }, undefined,
        { onprogress: (params) => progress.push(params) });
      assert.deepEqual(result.content, [{ type: 'text', text: 'ok' }]);
      assert.deepEqual(result.structuredContent, row.structured ? { dismissed: false, answer: 'ok' } : undefined);
      assert.deepEqual(progress[0], { progress: 1, ...(row.message && { message: row.message }) });

      const broken = client.callTool({ name: 'ask', arguments: {} });
      if (row.broken === 'isError') assert.equal((await broken).isError, true);
      else await assert.rejects(broken, { code: row.broken });
    });
  }
});

test('a question held past the client\'s timer: progress keeps it alive, and none follows its end', async () => {
  const sim = await startSim('progress', ['--delay', '/chat=1.5', '--delay', '/listen=600']);
  const client = await connect(sim.port, ['--progress-interval', '0.2']);
  const errors = [];
  client.onerror = (error) => errors.push(error.message);
  const progress = [];
  const result = await client.callTool({ name: 'ask', arguments: { message: 'Take your time?' } }, undefined,
    { timeout: 700, resetTimeoutOnProgress: true, onprogress: ({ progress: count }) => progress.push(count) });
  assert.deepEqual(result.content, [{ type: 'text', text: 'ok' }]);
  assert.ok(progress.length >= 3, `${progress.length} notifications`);
  assert.deepEqual(progress, progress.map((_, i) => i + 1));

  // A cancelled call's progress ends with the cancellation.
  const cancel = new AbortController();
  const cancelled = client.callTool({ name: 'listen', arguments: {} }, undefined,
    { signal: cancel.signal, onprogress: () => cancel.abort('moved on') });
  await assert.rejects(cancelled);
  await client.ping();  // its answer comes once the cancellation has been read
  const seen = client.received.length;
  await sleep(500);  // two and a half intervals
  assert.equal(client.received.length, seen);
  // A progress for a call that has ended, or been cancelled, would have been an error here.
  assert.deepEqual(errors, []);
});

// Batches under 2025-03-26, each sent once the one before is answered: the members, the
// answer's entries in any order (id, and the error code or isError), or null for no answer.
const ping = (id) => JSON.stringify({ jsonrpc: '2.0', id, method: 'ping' });
const initialized = JSON.stringify({ jsonrpc: '2.0', method: 'notifications/initialized' });
const batches = [
  { members: [ping(1), call(2, 'notify', { message: 'in a batch' }), initialized, '7', initialize(3, '2025-03-26')],
    answer: [[1], [2], [null, -32600], [3, -32600]] },
  { members: [initialized], answer: null },
  { members: [], answer: [null, -32600] },
  { members: Array.from({ length: 17 }, (_, i) => call(`n${i}`, 'notify', { message: `n${i}` })),
    answer: [...Array.from({ length: 16 }, (_, i) => [`n${i}`]), ['n16', 'isError']] },
  // Cancelled once asked, with its progress: the answer has the ping alone.
  { members: [JSON.stringify({ jsonrpc: '2.0', id: 'q', method: 'tools/call',
    params: { name: 'ask', arguments: { message: 'In a batch?' }, _meta: { progressToken: 'q' } } }), ping(4)],
  cancel: 'q', answer: [[4]] },
];

test('batches under 2025-03-26: one answer once every request has one', async () => {
  const sim = await startSim('batches', ['--delay', '/overlay=0.5', '--delay', '/chat=600']);
  const server = rawServer(sim.port, 'pipe', ['--progress-interval', '0.2']);
  server.send(initialize(0, '2025-03-26'));
  await until('the session', () => server.messages().length === 1);
  const sorted = (entries) => entries.map((entry) => JSON.stringify(entry)).sort();
  let sync = 0;
  for (const row of batches) {
    const before = server.messages().length;
    server.send(`[${row.members.join(',')}]`);
    if (row.cancel) {
      await until('progress', () => server.messages().some(({ params }) => params?.progressToken === row.cancel));
      server.send(JSON.stringify({ jsonrpc: '2.0', method: 'notifications/cancelled',
        params: { requestId: row.cancel } }));
    }
    // A ping after the batch: its answer comes once the lines before it have been read.
    server.send(ping(`sync${++sync}`));
    await until('the answers', () => server.messages().some(({ id }) => id === `sync${sync}`) &&
      (row.answer === null || server.messages().slice(before).some((m) => Array.isArray(m) || m.id === null)));
    const answers = server.messages().slice(before)
      .filter((message) => message.id !== `sync${sync}` && message.method !== 'notifications/progress');
    if (row.answer === null) assert.deepEqual(answers, []);
    else if (!Array.isArray(row.answer[0])) assert.deepEqual(answers.map(gist), [row.answer]);
    else assert.deepEqual(sorted(answers[0].map(gist)), sorted(row.answer));
  }
  // No progress once the cancellation has been read, which it was before the last sync ping.
  await sleep(500);  // two and a half intervals
  const synced = server.messages().findIndex(({ id }) => id === `sync${sync}`);
  assert.deepEqual(server.messages().slice(synced).filter(({ method }) => method), []);
  await until('the hang-up', () => sim.hangUps() === 1);
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

test('a call while nothing listens on the port fails with vesk\'s message; an approval denies', async () => {
  const listener = createServer();
  await new Promise((resolve) => listener.listen(0, '127.0.0.1', resolve));
  const { port } = listener.address();
  await new Promise((resolve) => listener.close(resolve));
  const client = await connect(port);
  const message = `cannot connect to Tarnel — is the app running? (port ${port})`;
  const result = await client.callTool({ name: 'health', arguments: {} });
  assert.equal(result.isError, true);
  assert.equal(result.content[0].text, message);
  const approval = await client.callTool({ name: 'approve', arguments: { tool_name: 'Bash', input: {} } });
  assert.equal(approval.isError, undefined);
  assert.deepEqual(approval.content, [{ type: 'text', text: JSON.stringify({ behavior: 'deny', message }) }]);
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
// A notify whose line is `length` bytes long, with an escape at the start of its image.
const notifyOf = (length) => `{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"notify",` +
  `"arguments":{"message":"m","image_base64":"\\u00e9${'A'.repeat(Math.max(0, length - 125))}"}}}`;
const goodCall = call('after', 'notify', { message: 'after' });

// Lines no host should send and outputs that fail, each to a server of its own and then end of
// input (`then` says what happens between). Each row names the answers in the order written, the
// requests the app receives, the questions withdrawn, the exit status and standard error.
const hostile = [
  { name: 'a million-level argument', lines: [opened, deep(call(1, 'notify', { message: 'x', a: 'DEEP' })), goodCall],
    answers: [[0, '2025-11-25'], [-32700], ['after']], cards: [{ message: 'after' }] },
  { name: 'a million-level requestId', lines: [opened, deep(JSON.stringify({ jsonrpc: '2.0',
    method: 'notifications/cancelled', params: { requestId: 'DEEP' } })), goodCall],
    answers: [[0, '2025-11-25'], [-32700], ['after']], cards: [{ message: 'after' }] },
  { name: 'a line one byte longer than 64 MiB', lines: [opened, pingOf(2 ** 26 + 1), goodCall],
    answers: [[0, '2025-11-25'], [-32700], ['after']], cards: [{ message: 'after' }] },
  // Mostly one image, decoded straight into the card: the line is held about once.
  { name: 'a line of exactly 64 MiB', lines: [opened, notifyOf(2 ** 26)], answers: [[0, '2025-11-25'], [1]],
    cards: [{ message: 'm', image_base64: `é${'A'.repeat(2 ** 26 - notifyOf(0).length)}` }] },
  { name: '512 levels, then 513', lines: [opened, nestedPing(1, 512), nestedPing(2, 513)],
    answers: [[0, '2025-11-25'], [1], [-32700]] },
  { name: 'a NUL byte in a line', lines: [opened, '{"jsonrpc":"2.0","id":2,"method":"ping"}\0 junk', goodCall],
    answers: [[0, '2025-11-25'], [-32700], ['after']], cards: [{ message: 'after' }] },
  { name: 'ids that are neither strings nor integers', lines: [opened, ...['6.5', '7.0', '1e3', 'null', 'true', '{}']
    .map((id) => `{"jsonrpc":"2.0","id":${id},"method":"ping"}`)],
  answers: [[0, '2025-11-25'], [-32600], [7], [1000], [-32600], [-32600], [-32600]] },
  { name: 'initialize without what it requires, then with it', lines: [
    '{"jsonrpc":"2.0","id":1,"method":"initialize"}',
    '{"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{}}}',
    '{"jsonrpc":"2.0","id":3,"method":"initialize","params":{"protocolVersion":1,"capabilities":{},"clientInfo":{}}}',
    '{"jsonrpc":"2.0","id":4,"method":"initialize","params":{"protocolVersion":"2025-11-25","capabilities":{},' +
      '"clientInfo":{"name":1,"version":"0"}}}',
    initialize(5, '2025-06-18'), goodCall],
  answers: [[1, -32602], [2, -32602], [3, -32602], [4, -32602], [5, '2025-06-18'], ['after']],
  cards: [{ message: 'after' }] },
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
  { name: 'an approval, then end of input: it waits for a person', sim: ['--delay', '/chat=600'],
    lines: [opened, call(1, 'approve', { tool_name: 'Bash', input: { command: 'make' } })], then: 'end once asked',
    answers: [[0, '2025-11-25']], cards: [{ message: 'Allow Bash: make', title: basename(process.cwd()),
      proposed_answers: ['Allow', 'Deny'] }], hangUps: 1 },
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

// Started without descriptor 0 or 1: the input reads as ended, and a write fails as it would.
const unopened = [
  { shell: 'exec "$0" --port 1 <&-', status: 0, stderr: '' },
  { shell: 'echo \'{"jsonrpc":"2.0","id":1,"method":"ping"}\' | "$0" --port 1 >&-', status: 1,
    stderr: 'error: cannot write to standard output: Bad file descriptor\n' },
];

test('started with a standard descriptor closed', async () => {
  for (const row of unopened) {
    assert.deepEqual(await run('/bin/sh', ['-c', row.shell, VESK_MCP]), { status: row.status, stdout: '', stderr: row.stderr }, row.shell);
  }
});

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
