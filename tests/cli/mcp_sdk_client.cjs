// Drives `tamrik mcp` with the MCP SDK's own client, as agent harnesses do:
// connects, lists the tools, calls a tool with a wrong argument, then starts
// a sync against a platform that accepts connections and never answers,
// pings while the sync waits and cancels it. Prints what it saw as one JSON
// object. Arguments: the SDK's install directory and the tamrik executable;
// runs in the repository, with TAMRIK_API_KEY set.
'use strict';
const net = require('node:net');
const path = require('node:path');
const { createRequire } = require('node:module');

const [sdkDir, tamrik] = process.argv.slice(2);
const sdk = createRequire(path.join(sdkDir, 'package.json'));
const { Client } = sdk('@modelcontextprotocol/sdk/client/index.js');
const { StdioClientTransport } = sdk('@modelcontextprotocol/sdk/client/stdio.js');

// Accepts, reads and never answers; resolves `reached` on the first request.
function silentPlatform() {
  const sockets = new Set();
  let reached;
  const firstRequest = new Promise((resolve) => { reached = resolve; });
  const server = net.createServer((socket) => {
    sockets.add(socket);
    socket.on('data', () => reached());
    socket.on('error', () => {});
  });
  const close = () => {
    for (const socket of sockets) socket.destroy();
    server.close();
  };
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ port: server.address().port, firstRequest, close })));
}

async function main() {
  const platform = await silentPlatform();
  const transport = new StdioClientTransport({
    command: tamrik,
    args: ['mcp'],
    cwd: process.cwd(),
    env: { ...process.env, TAMRIK_API_URL: `http://127.0.0.1:${platform.port}` },
    stderr: 'ignore',
  });
  const client = new Client({ name: 'tamrik-conformance', version: '1.0.0' });
  const seen = {};
  try {
    await client.connect(transport);
    seen.server = client.getServerVersion().name;
    seen.tools = (await client.listTools()).tools.map((tool) => tool.name);
    const wrong = await client.callTool({ name: 'sync', arguments: { team_id: 'seven' } });
    seen.wrongArgumentIsError = wrong.isError === true;

    const cancel = new AbortController();
    let syncEnded = false;
    const sync = client.callTool({ name: 'sync', arguments: {} }, undefined, { signal: cancel.signal, timeout: 120000 })
      .then(() => 'answered', () => 'cancelled')
      .finally(() => { syncEnded = true; });
    // A sync that ends before it reaches the platform has nothing to show here.
    if (await Promise.race([platform.firstRequest.then(() => 'waiting'), sync]) !== 'waiting') {
      throw new Error('the sync ended without asking the platform');
    }
    await client.ping();
    seen.pongWhileSyncWaits = !syncEnded;
    cancel.abort('the test stops waiting');
    seen.sync = await sync;
  } catch (error) {
    seen.error = String(error);
  } finally {
    await client.close();
    platform.close();
  }
  process.stdout.write(JSON.stringify(seen) + '\n');
}

// A stuck exchange fails the test rather than hang it.
setTimeout(() => {
  process.stdout.write(JSON.stringify({ error: 'no progress for 60 s' }) + '\n');
  process.exit(1);
}, 60000).unref();
main();
