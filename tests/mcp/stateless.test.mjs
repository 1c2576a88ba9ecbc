// vesk-mcp under the protocol's stateless 2026-07-28 revision: driven by the official v2 client,
// pinned to the revision and in its auto mode, with every message the server sends held to the
// revision's JSON Schema; then the lines no client sends, beside and inside a session of the
// earlier revisions.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { setTimeout as sleep } from 'node:timers/promises';
import Ajv2020 from 'ajv/dist/2020.js';
import { Client } from '@modelcontextprotocol/client';
import { StdioClientTransport } from '@modelcontextprotocol/client/stdio';
import { VESK_MCP, cleanups, gist, initialize, protocolSchema, rawServer, startSim, until } from './harness.mjs';

const revision = '2026-07-28';
const ajv = new Ajv2020({ strict: false, validateFormats: false });
ajv.addSchema(protocolSchema('DiscoverResult'), 'mcp');
const typed = (name) => ({ $ref: `mcp#/$defs/${name}` });
// What a message must be, by what it is; an answer's result by the method of the request it answers.
const schemaOf = { 'server/discover': 'DiscoverResult', 'tools/list': 'ListToolsResult',
  'tools/call': 'CallToolResult', 'subscriptions/listen': 'SubscriptionsListenResult',
  'notifications/progress': 'ProgressNotification',
  'notifications/subscriptions/acknowledged': 'SubscriptionsAcknowledgedNotification' };

// Every message from the server, checked against the schema of its kind.
function conforms(message, methods) {
  const kind = message.error ? (message.error.code === -32022 ? 'UnsupportedProtocolVersionError'
    : 'JSONRPCErrorResponse') : schemaOf[message.method ?? methods.get(message.id)];
  assert.ok(kind, `a message of no known kind: ${JSON.stringify(message)}`);
  const schema = message.result ? { allOf: [typed('JSONRPCResultResponse'), { properties: { result: typed(kind) } }] }
    : typed(kind);
  const valid = ajv.validate(schema, message);
  assert.ok(valid, `${kind}: ${ajv.errorsText()} in ${JSON.stringify(message).slice(0, 300)}`);
  if (message.result) {
    assert.equal(message.result.resultType, 'complete');
    assert.equal(message.result._meta['io.modelcontextprotocol/serverInfo'].name, 'vesk-mcp');
  }
}

// A subclass probes in place, on the transport itself, so that the probe's answer is seen too;
// the SDK's own class probes on a sibling process and starts the session's once the era is known.
class InPlace extends StdioClientTransport {}

// A v2 client of vesk-mcp that records what it sends and receives.
async function connect(port, mode, Transport, options = []) {
  const client = new Client({ name: 'vesk-mcp-test', version: '1.0.0' }, { versionNegotiation: { mode } });
  const transport = new Transport({ command: VESK_MCP, args: ['--port', String(port), ...options], env: process.env });
  const methods = new Map();
  const received = [];
  const send = transport.send.bind(transport);
  transport.send = (message, sendOptions) => {
    if (message.id !== undefined) methods.set(message.id, message.method);
    return send(message, sendOptions);
  };
  let handler;
  Object.defineProperty(transport, 'onmessage', { get: () => handler,
    set: (given) => (handler = given && ((message, extra) => { received.push(message); given(message, extra); })) });
  await client.connect(transport);
  cleanups.push(() => client.close());
  return Object.assign(client, { methods, received });
}

// One call of each tool: its arguments, the sim's scripted answer, the app's path it must reach,
// and what it returns.
const calls = [
  { tool: 'notify', args: { message: 'Build done', title: 'main' }, path: '/overlay', text: 'notification sent' },
  { tool: 'ask', args: { message: 'Deploy?', answers: ['Yes', 'No'] }, script: ['--chat', 'pick:2'], path: '/chat',
    text: 'No', structured: { dismissed: false, answer: 'No' }, progress: true },
  { tool: 'listen', args: {}, script: ['--listen', 'message:ship it'], path: '/listen', text: 'ship it',
    structured: { cancelled: false, message: 'ship it' } },
  { tool: 'say', args: { message: 'hi' }, path: '/overlay', text: 'message sent' },
  { tool: 'game', args: { game: 'snake' }, script: ['--game', 'result:user won'], path: '/game', text: 'user won',
    structured: { result: 'user won' } },
  { tool: 'characters', args: {}, path: '/characters' },
  { tool: 'health', args: {}, path: '/health' },
  { tool: 'collapse', args: {}, path: '/collapse', text: 'card collapsed' },
  { tool: 'clear', args: {}, path: '/clear', text: 'state cleared' },
  { tool: 'approve', args: { tool_name: 'Bash', input: { command: 'make' } }, script: ['--chat', 'pick:1'],
    path: '/chat', text: JSON.stringify({ behavior: 'allow', updatedInput: { command: 'make' } }) },
];

const sessions = [
  { mode: { pin: revision }, Transport: InPlace, name: 'pinned to 2026-07-28, probing in place' },
  { mode: 'auto', Transport: StdioClientTransport, name: 'in auto mode, probing on a sibling process' },
];

for (const session of sessions) {
  test(`the v2 client ${session.name}: every tool, with no fallback to initialize`, async () => {
    const sim = await startSim(`v2-${sessions.indexOf(session)}`,
      ['--delay', '/chat=0.5', ...calls.flatMap((row) => row.script ?? [])]);
    const client = await connect(sim.port, session.mode, session.Transport, ['--progress-interval', '0.2']);
    assert.equal(client.getNegotiatedProtocolVersion(), revision);
    assert.equal(client.getServerVersion().name, 'vesk-mcp');
    assert.equal([...client.methods.values()].includes('initialize'), false);

    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => tool.name), calls.map((row) => row.tool));
    for (const row of calls) {
      const before = sim.requests().length;
      const progress = [];
      const result = await client.callTool({ name: row.tool, arguments: row.args },
        row.progress ? { onprogress: (params) => progress.push(params) } : undefined);
      assert.equal(result.isError, undefined, `${row.tool}: ${JSON.stringify(result.content)}`);
      if (row.text) assert.deepEqual(result.content, [{ type: 'text', text: row.text }]);
      assert.deepEqual(result.structuredContent, row.structured ?? result.structuredContent);
      assert.deepEqual(sim.requests().slice(before).map(({ path }) => path), [row.path]);
      if (row.progress) assert.deepEqual(progress[0], { progress: 1, message: 'waiting for the user in the notch' });
    }
    const subscription = await client.listen({ toolsListChanged: true });
    assert.deepEqual(subscription.honoredFilter, {});
    await subscription.close();

    assert.ok(client.received.length >= calls.length + 2);
    if (session.Transport === InPlace) assert.equal(client.received[0].result.supportedVersions[0], revision);
    for (const message of client.received) conforms(message, client.methods);
  });
}

// 2026-07-28 requests need their _meta: `meta` is a good one, which `without` and `withVersion` change;
// a request with _meta null has none.
const meta = { 'io.modelcontextprotocol/protocolVersion': revision, 'io.modelcontextprotocol/clientCapabilities': {} };
const request = (id, method, params = {}, metaOf = meta) => JSON.stringify({ jsonrpc: '2.0', id, method,
  params: metaOf === null ? params : { ...params, _meta: metaOf } });
const without = (key) => Object.fromEntries(Object.entries(meta).filter(([name]) => !name.endsWith(key)));
const withVersion = (version) => ({ ...meta, 'io.modelcontextprotocol/protocolVersion': version });

// Each line, and the gist of its answer. Lines before initialize, then in a 2024-11-05 session: the 2026-07-28 requests are
// answered alike in both, and the session's are answered by its rules.
const lines = [
  [request(1, 'server/discover', {}, null), 1, -32602],
  [request(2, 'server/discover', {}, without('protocolVersion')), 2, -32602],
  [request(3, 'tools/list', {}, without('clientCapabilities')), 3, -32602],
  [request(4, 'tools/list', {}, { ...meta, 'io.modelcontextprotocol/clientCapabilities': [] }), 4, -32602],
  [request(5, 'tools/list', {}, withVersion(20260728)), 5, -32602],
  [request(6, 'server/discover', {}, withVersion('1900-01-01')), 6, -32022],
  [request(7, 'tools/list', {}, withVersion('2025-11-25')), 7, -32022],
  [request(8, 'subscriptions/listen', { notifications: {} }, { 'io.modelcontextprotocol/clientInfo': {} }), 8, -32602],
  ...['initialize', 'ping', 'logging/setLevel', 'resources/subscribe', 'resources/unsubscribe', 'prompts/list',
    'completion/complete', 'tasks/get'].map((method, i) => [request(10 + i, method), 10 + i, -32601]),
  [request(20, 'tools/call', { name: 'nope', arguments: {} }), 20, -32602],
  [request(21, 'tools/call', { name: 'notify', arguments: { message: 1 } }), 21, 'isError'],
  [request(22.5, 'server/discover'), -32600],
  ['{"jsonrpc":"2.0","id":23,"method":"tools/list"}', 23, -32002],
  [request(24, 'tools/list'), 24, 'complete'],
  [`[${request(25, 'server/discover')}]`, -32600],
  ['not json', -32700],
  [initialize(26, '2024-11-05'), 26, '2024-11-05'],
  [request(27, 'server/discover'), 27, 'complete'],
  [request(28, 'tools/list'), 28, 'complete'],
  ['{"jsonrpc":"2.0","id":29,"method":"tools/list"}', 29],
  [request(30, 'initialize', { protocolVersion: '2025-06-18' }), 30, -32601],
  [request(31, 'tools/list', {}, withVersion('1900-01-01')), 31, -32022],
  [request(32.5, 'server/discover'), null, -32600],
  ['not json', null, -32700],
];

test('2026-07-28 requests beside a session: their _meta checked, the removed methods unknown', async () => {
  const server = rawServer(1);
  server.send(...lines.map(([line]) => line));
  await until('the answers', () => server.messages().length === lines.length);
  server.end();
  assert.equal(await server.exited, 0);
  const answers = server.messages();
  const methods = new Map(lines.map(([line]) => JSON.parse(line.startsWith('{') ? line : '{}'))
    .map(({ id, method }) => [id, method]));
  lines.forEach(([line, ...expected], i) => {
    const message = answers[i];
    assert.deepEqual(gist(message), expected, line);
    // A 2024-11-05 session answers a line whose id it cannot read in its own way, with id null.
    if ((line.includes(revision) || line.includes('server/discover')) && message.id !== null) {
      conforms(message, methods);
    }
  });
  const [discovered, unsupported] = [answers[lines.findIndex(([, id]) => id === 27)], answers[5]];
  assert.deepEqual(discovered.result.supportedVersions, [revision, '2025-11-25', '2025-06-18', '2025-03-26', '2024-11-05']);
  assert.deepEqual(discovered.result.capabilities, { tools: { listChanged: false } });
  assert.deepEqual(unsupported.error.data, { supported: discovered.result.supportedVersions, requested: '1900-01-01' });
  // The session's list is the 2024-11-05 one, the stateless list its own, the same in every state.
  const [before, stateless, legacy] = [24, 28, 29].map((id) => answers.find((message) => message.id === id).result);
  assert.deepEqual(before, stateless);
  assert.deepEqual({ ...stateless, tools: undefined }, { _meta: stateless._meta, resultType: 'complete',
    ttlMs: 3600000, cacheScope: 'public', tools: undefined });
  assert.equal(stateless.tools.find((tool) => tool.name === 'ask').title, 'Ask the user');
  assert.deepEqual(legacy.tools.map((tool) => tool.name), stateless.tools.map((tool) => tool.name));
  assert.equal(legacy.tools.find((tool) => tool.name === 'ask').title, undefined);
});

test('2026-07-28 subscriptions: acknowledged with nothing honoured, held until cancelled or the input ends', async () => {
  const server = rawServer(1);
  const listen = (id) => request(id, 'subscriptions/listen', { notifications: { toolsListChanged: true } });
  const cancel = (id) => JSON.stringify({ jsonrpc: '2.0', method: 'notifications/cancelled', params: { requestId: id } });
  server.send(listen('kept'), listen('kept'), listen(7), cancel(7),
    ...Array.from({ length: 16 }, (_, i) => listen(`more${i}`)));
  await until('the acknowledgements', () => server.messages().length === 19);
  const [first, taken, seventh] = server.messages();
  assert.deepEqual(first.params, { _meta: { 'io.modelcontextprotocol/subscriptionId': 'kept' }, notifications: {} });
  assert.deepEqual(gist(taken), ['kept', -32600]);
  assert.equal(seventh.params._meta['io.modelcontextprotocol/subscriptionId'], 7);
  // 'kept' and fifteen more are open, the last refused: at most 16 at once.
  assert.deepEqual(gist(server.messages().at(-1)), ['more15', -32600]);
  server.end();
  assert.equal(await server.exited, 0);
  const closed = server.messages().slice(19);
  assert.deepEqual(closed.map(({ id }) => id).sort(), ['kept', ...Array.from({ length: 15 }, (_, i) => `more${i}`)].sort());
  const methods = new Map([...closed.map(({ id }) => [id, 'subscriptions/listen']), [7, 'subscriptions/listen']]);
  for (const message of server.messages().slice(2)) conforms(message, methods);
  assert.equal(closed[0].result._meta['io.modelcontextprotocol/subscriptionId'], closed[0].id);
});

test('a 2026-07-28 question: progress, then a cancellation with none after', async () => {
  const sim = await startSim('stateless-cancel', ['--delay', '/chat=600']);
  const server = rawServer(sim.port, 'pipe', ['--progress-interval', '0.2']);
  const ask = (id) => request(id, 'tools/call', { name: 'ask', arguments: { message: `q${id}` } },
    { ...meta, progressToken: `p${id}` });
  server.send(initialize(0, '2025-11-25'), ask(1));
  await until('progress', () => server.messages().some(({ params }) => params?.progressToken === 'p1'));
  server.send(JSON.stringify({ jsonrpc: '2.0', method: 'notifications/cancelled', params: { requestId: 1 } }),
    request('sync', 'tools/list'));
  await until('the sync', () => server.messages().some(({ id }) => id === 'sync'));
  await until('the hang-up', () => sim.hangUps() === 1);
  const seen = server.messages().length;
  await sleep(500);  // two and a half intervals
  assert.equal(server.messages().length, seen);
  server.end();
  assert.equal(await server.exited, 0);
});

test('the 16 calls in flight are shared by both eras', async () => {
  const sim = await startSim('stateless-limit', ['--delay', '/overlay=1']);
  const server = rawServer(sim.port);
  server.send(initialize(0, '2025-11-25'));
  // Fifteen legacy calls and one stateless one fill the sixteen; the next of either era is refused.
  const notify = (id, line) => line(id, 'tools/call', { name: 'notify', arguments: { message: String(id) } });
  const legacy = (id, method, params) => request(id, method, params, null);
  server.send(...Array.from({ length: 15 }, (_, i) => notify(100 + i, legacy)), notify(200, request),
    notify(201, request), notify(202, legacy));
  await until('the calls', () => server.messages().filter(({ id }) => id >= 100).length === 18);
  const refused = server.messages().filter(({ result }) => result?.isError).map(({ id, result }) =>
    [id, result.resultType ?? 'session']);
  assert.deepEqual(refused.sort(), [[201, 'complete'], [202, 'session']]);
  server.end();
  assert.equal(await server.exited, 0);
});
