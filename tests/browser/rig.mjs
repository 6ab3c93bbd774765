// The switcher simulator and matrixd as child processes of a browser or API test, each in a
// fresh temporary folder, on a free loopback port; stopped whatever the test did.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const matrixdPath = process.env.MATRIXD_PATH;
export const simPath = process.env.MATRIX_SIM_PATH;
export const artifacts = process.env.MATRIX_ARTIFACTS || os.tmpdir();
export const password = 'correct horse battery';

// A frame as the panel sends it: button B, input 3 and the others, by their code bytes.
export const buttonFrame = (code) => Buffer.from([0x05, 0x55, 0x19, code, 0x77]);
export const codes = { B3: 0x59, C4: 0x03 };

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

class Child {
  constructor(program, args, stream) {
    this.output = '';
    this.process = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'] });
    this.process[stream].on('data', (chunk) => { this.output += chunk; });
    this.exited = new Promise((resolve) => this.process.on('exit', resolve));
  }

  async waitFor(text, timeoutMs = 8000) {
    const until = Date.now() + timeoutMs;
    while (!this.output.includes(text)) {
      if (Date.now() > until) throw new Error(`no "${text}" in:\n${this.output}`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  count(text) {
    return this.output.split(text).length - 1;
  }

  async stop() {
    if (this.process.exitCode === null && this.process.signalCode === null) {
      this.process.kill('SIGTERM');
      await this.exited;
    }
  }
}

export class Rig {
  constructor() {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'matrixd-browser-'));
    this.share = path.join(this.dir, 'COM2');
    this.config = path.join(this.dir, 'hall.conf');
  }

  async start({ routes = '1111', withPassword = false, extra = '' } = {}) {
    this.sim = new Child(simPath, ['--dir', this.dir, '--port', '1', '--routes', routes], 'stdout');
    await this.sim.waitFor('COM1 ->');
    this.port = await freePort();
    this.origin = `http://127.0.0.1:${this.port}`;
    let http = `[http]\nlisten = 127.0.0.1:${this.port}\n${extra}`;
    if (withPassword) {
      const file = path.join(this.dir, 'web.password');
      fs.writeFileSync(file, password + '\n', { mode: 0o600 });
      http += `password_file = ${file}\n`;
    }
    fs.writeFileSync(this.config,
      `[switcher]\nname = Hall matrix\nport = ${path.join(this.dir, 'COM1')}\nshare = ${this.share}\n` +
      'poll = 0\n[inputs]\n1 = Blu-ray\n3 = Laptop\n[outputs]\nB = Projector\n' +
      '[preset Movie night]\nA = 2\nB = Laptop\n' + http);
    await this.startDaemon();
  }

  async startDaemon() {
    this.daemon = new Child(matrixdPath, ['--config', this.config], 'stderr');
    await this.daemon.waitFor('http: serving');
    await this.daemon.waitFor('switcher answering');
  }

  // One control line to the simulator, and its answer in the log.
  async control(line, logged) {
    const before = this.sim.output.length;
    this.sim.process.stdin.write(line + '\n');
    const until = Date.now() + 5000;
    while (!this.sim.output.slice(before).includes(logged)) {
      if (Date.now() > until) throw new Error(`simulator: no "${logged}" after "${line}"`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  // The frames the simulator read off its line, as hex.
  frames() {
    return [...this.sim.output.matchAll(/^\S+ <- ([0-9A-F ]+?)  /gm)].map((m) => m[1]);
  }

  // Writes a frame into the share as a program on it would.
  writeToShare(bytes) {
    const fd = fs.openSync(this.share, fs.constants.O_RDWR | fs.constants.O_NOCTTY);
    fs.writeSync(fd, bytes);
    return fd;
  }

  async stop() {
    await this.daemon?.stop();
    await this.sim?.stop();
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}
