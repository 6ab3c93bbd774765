// matrixd's page: the switcher's state from GET /api/v1/state and the events WebSocket, and
// each press sent to the API. A press shows as pending until the switcher has confirmed it;
// what the buttons show otherwise is always what matrixd last said.
'use strict';

const api = '/api/v1';
const firstRetryMs = 1000;
const longestRetryMs = 30000;

let state = null;
let built = false;
let socket = null;
let retryMs = firstRetryMs;
let retryTimer = null;
let passwordAsked = false;
const pending = new Map(); // 'output B' -> input number, 'edid' -> mode

const $ = (id) => document.getElementById(id);

async function call(method, path, body) {
  const init = { method, credentials: 'same-origin', cache: 'no-store', headers: {} };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(api + path, init);
  } catch (error) {
    return { ok: false, status: 0, detail: 'matrixd cannot be reached' };
  }
  const text = await response.text();
  let json = null;
  try {
    json = text ? JSON.parse(text) : null;
  } catch (error) {
    json = null;
  }
  if (response.ok) return { ok: true, status: response.status, json };
  return { ok: false, status: response.status, detail: (json && json.detail) || response.statusText };
}

function setBadge(kind, text) {
  const badge = $('badge');
  badge.dataset.kind = kind;
  badge.textContent = text;
}

function say(element, text, kind) {
  element.textContent = text;
  element.dataset.kind = kind || '';
}

function showLogin(detail) {
  passwordAsked = true;
  closeSocket();
  $('panel').hidden = true;
  $('login').hidden = false;
  setBadge('lost', 'Password needed');
  say($('login-message'), detail || '', detail ? 'error' : '');
  $('password').focus();
}

function showPanel() {
  $('login').hidden = true;
  $('panel').hidden = false;
  $('logout').hidden = !passwordAsked;
}

function closeSocket() {
  clearTimeout(retryTimer);
  if (socket) {
    socket.onclose = null;
    socket.close();
    socket = null;
  }
}

async function start() {
  const answer = await call('GET', '/state');
  if (answer.status === 401) return showLogin();
  if (!answer.ok) return lost();
  showPanel();
  render(answer.json);
  connect();
}

function lost() {
  setBadge('lost', `No connection to matrixd: retrying in ${Math.round(retryMs / 1000)} s`);
  clearTimeout(retryTimer);
  retryTimer = setTimeout(start, retryMs);
  retryMs = Math.min(retryMs * 2, longestRetryMs);
}

function connect() {
  closeSocket();
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  socket = new WebSocket(scheme + location.host + api + '/events');
  socket.onmessage = (event) => {
    const message = JSON.parse(event.data);
    if (message.type !== 'state') return;
    retryMs = firstRetryMs;
    render(message.state);
  };
  socket.onclose = () => {
    socket = null;
    lost();
  };
}

function build(next) {
  const outputs = $('outputs');
  const template = $('output-template');
  for (const output of next.outputs) {
    const card = template.content.firstElementChild.cloneNode(true);
    const plain = output.name === `Output ${output.output}`;
    const label = plain ? output.name : `${output.name} (output ${output.output})`;
    card.dataset.output = output.output;
    card.querySelector('.output-name').textContent = label;
    const group = card.querySelector('.routing');
    group.setAttribute('aria-label', label);
    const inputs = card.querySelector('.inputs');
    for (const input of next.inputs) {
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.input = input.input;
      button.textContent = input.name;
      button.setAttribute('aria-pressed', 'false');
      button.addEventListener('click', () => route(output.output, input.input));
      inputs.append(button);
    }
    const previous = card.querySelector('.previous');
    const nextButton = card.querySelector('.next');
    previous.setAttribute('aria-label', `${output.name}: previous input`);
    nextButton.setAttribute('aria-label', `${output.name}: next input`);
    previous.addEventListener('click', () => step(output.output, -1));
    nextButton.addEventListener('click', () => step(output.output, +1));
    outputs.append(card);
  }
  const select = $('edid');
  const unknown = document.createElement('option');
  unknown.value = '';
  unknown.textContent = 'unknown';
  unknown.disabled = true;
  select.append(unknown);
  for (const mode of next.edidModes) {
    const option = document.createElement('option');
    option.value = String(mode.mode);
    option.textContent = mode.caption;
    select.append(option);
  }
  select.addEventListener('change', () => selectEdid(Number(select.value)));
  const presets = $('presets');
  for (const name of next.presets) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = name;
    button.addEventListener('click', () => applyPreset(name, button));
    presets.append(button);
  }
  $('presets-card').hidden = next.presets.length === 0;
  built = true;
}

function render(next) {
  state = next;
  if (!built) build(next);
  document.title = next.name;
  $('title').textContent = next.name;
  if (next.answering) setBadge('answering', 'Switcher answering');
  else setBadge('silent', 'Switcher not answering');
  for (const output of next.outputs) {
    const card = document.querySelector(`.output[data-output="${output.output}"]`);
    const wanted = pending.get(`output ${output.output}`);
    for (const button of card.querySelectorAll('.inputs button')) {
      const input = Number(button.dataset.input);
      button.setAttribute('aria-pressed', String(output.input === input));
      button.classList.toggle('pending', wanted === input);
      if (wanted === input) button.setAttribute('aria-busy', 'true');
      else button.removeAttribute('aria-busy');
    }
    for (const arrow of card.querySelectorAll('.arrow')) arrow.disabled = output.input === null;
  }
  if (!pending.has('edid')) $('edid').value = next.edid ? String(next.edid.mode) : '';
}

function messageOf(output) {
  return document.querySelector(`.output[data-output="${output}"] .message`);
}

async function route(output, input) {
  const message = messageOf(output);
  const name = state.inputs[input - 1].name;
  pending.set(`output ${output}`, input);
  say(message, `Switching to ${name}…`);
  render(state);
  const answer = await call('PUT', `/outputs/${encodeURIComponent(output)}`, { input });
  if (pending.get(`output ${output}`) === input) pending.delete(`output ${output}`);
  if (answer.ok) {
    say(message, '');
    return render(answer.json);
  }
  if (answer.status === 401) return showLogin();
  say(message, `${name} not switched: ${answer.detail}`, 'error');
  render(state);
}

function step(output, by) {
  const current = state.outputs.find((o) => o.output === output).input;
  if (current === null) return;
  const count = state.inputs.length;
  route(output, ((current - 1 + by + count) % count) + 1);
}

async function selectEdid(mode) {
  const message = $('edid-message');
  pending.set('edid', mode);
  say(message, 'Setting the EDID mode…');
  const answer = await call('PUT', '/edid', { mode });
  pending.delete('edid');
  if (answer.ok) {
    say(message, '');
    return render(answer.json);
  }
  if (answer.status === 401) return showLogin();
  say(message, `EDID mode not set: ${answer.detail}`, 'error');
  render(state);
}

async function applyPreset(name, button) {
  const message = $('presets-message');
  button.classList.add('pending');
  button.setAttribute('aria-busy', 'true');
  say(message, `Applying ${name}…`);
  const answer = await call('POST', `/presets/${encodeURIComponent(name)}`);
  button.classList.remove('pending');
  button.removeAttribute('aria-busy');
  if (answer.ok) {
    say(message, `${name} applied`);
    return render(answer.json);
  }
  if (answer.status === 401) return showLogin();
  say(message, `${name} not applied: ${answer.detail}`, 'error');
}

async function refresh() {
  const message = $('refresh-message');
  say(message, 'Asking the switcher…');
  const answer = await call('POST', '/refresh');
  if (answer.ok) {
    say(message, 'Read from the switcher');
    return render(answer.json);
  }
  if (answer.status === 401) return showLogin();
  say(message, `Not refreshed: ${answer.detail}`, 'error');
}

async function logIn(event) {
  event.preventDefault();
  const field = $('password');
  const answer = await call('POST', '/session', { password: field.value });
  field.value = '';
  if (!answer.ok) return say($('login-message'), answer.detail, 'error');
  say($('login-message'), '');
  retryMs = firstRetryMs;
  start();
}

async function logOut() {
  await call('DELETE', '/session');
  showLogin();
}

$('login-form').addEventListener('submit', logIn);
$('refresh').addEventListener('click', refresh);
$('logout').addEventListener('click', logOut);
start();
