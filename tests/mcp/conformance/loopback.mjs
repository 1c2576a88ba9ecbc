// Loaded into the bridge before it starts (node --import): every server it opens listens on
// 127.0.0.1 alone, whatever it asks for, and the port it gets is written to $BRIDGE_PORT_FILE, so
// that it can be asked for port 0 and nothing outside this machine can reach vesk-mcp.
import { writeFileSync } from 'node:fs';
import { Server } from 'node:net';

const listen = Server.prototype.listen;
Server.prototype.listen = function (port, ...rest) {
  if (typeof port !== 'number' && typeof port !== 'string') return listen.call(this, port, ...rest);
  this.once('listening', () => {
    if (process.env.BRIDGE_PORT_FILE) writeFileSync(process.env.BRIDGE_PORT_FILE, `${this.address().port}\n`);
  });
  return listen.call(this, Number(port), '127.0.0.1', ...rest.filter((arg) => typeof arg === 'function'));
};
