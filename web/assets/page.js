'use strict';
// The page speaks the control socket's JSON over /ws, each object with
// "board" naming the board; it shows only what the boards answered.

const boardsArea = document.getElementById('boards');
const connection = document.getElementById('connection');
const boards = new Map();  // name -> {section, link, message, relays: Map(n -> row), names}
let socket = null;
let connected = false;
let retryDelay = 500;
let nextId = 1;

// A board's replies may carry names for its relays ("names":{"2":"pump"});
// a relay without one is "relay N".
function relayName(board, n) {
  return (board.names && board.names[n]) || 'relay ' + n;
}

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

function send(request) {
  if (socket && connected) socket.send(JSON.stringify(request));
}

function boardView(name) {
  let board = boards.get(name);
  if (board) return board;
  const section = element('section', 'board');
  const title = element('h2', '', name);
  title.id = 'board-' + boards.size;
  section.setAttribute('aria-labelledby', title.id);
  const link = element('p', 'link', 'link: unknown');
  link.setAttribute('aria-live', 'polite');
  const list = element('ul', 'relays');
  const message = element('p', 'message');
  message.setAttribute('role', 'status');
  section.append(title, link, list, message);
  boardsArea.append(section);
  board = {name, section, link, list, message, relays: new Map(), names: null, pulses: {}};
  boards.set(name, board);
  return board;
}

function relayRow(board, n) {
  let row = board.relays.get(n);
  if (row) return row;
  const item = element('li', 'relay');
  const state = element('p', 'state');
  state.setAttribute('aria-live', 'polite');
  state.setAttribute('aria-atomic', 'true');
  const buttons = element('div', 'buttons');
  const on = element('button', 'on', 'on');
  const off = element('button', 'off', 'off');
  on.type = off.type = 'button';
  on.addEventListener('click', () => command(board, 'on', n));
  off.addEventListener('click', () => command(board, 'off', n));
  buttons.append(on, off);
  // A relay with a configured pulse gets a third button that gives it.
  let pulse = null;
  const ms = board.pulses[n];
  if (Number.isInteger(ms)) {
    pulse = element('button', 'pulse', 'pulse');
    pulse.type = 'button';
    pulse.title = pulseWords(ms);
    pulse.addEventListener('click', () => command(board, 'pulse', n, ms));
    buttons.append(pulse);
  }
  item.append(state, buttons);
  board.list.append(item);
  row = {item, state, on, off, pulse, value: null};
  board.relays.set(n, row);
  nameRow(board, n, row);
  showRelay(board, n, 'unknown');
  return row;
}

function nameRow(board, n, row) {
  const name = relayName(board, n);
  row.on.setAttribute('aria-label', name + ' on');
  row.off.setAttribute('aria-label', name + ' off');
  if (row.pulse) row.pulse.setAttribute('aria-label', name + ' pulse');
}

function pulseWords(ms) {
  return 'on for ' + (ms % 1000 === 0 ? ms / 1000 + ' s' : ms + ' ms') + ', then off';
}

function showRelay(board, n, value) {
  const row = relayRow(board, n);
  const text = relayName(board, n) + ' state: ' + value;
  if (row.state.textContent === text) return;
  row.value = value;
  row.state.textContent = text;
  row.state.dataset.state = value;
  row.item.dataset.state = value;
  row.on.disabled = row.off.disabled = !connected;
  if (row.pulse) row.pulse.disabled = !connected;
}

function showLink(board, word) {
  const text = 'link: ' + word;
  if (board.link.textContent !== text) board.link.textContent = text;
  board.section.dataset.link = word;
}

function command(board, cmd, relay, ms) {
  board.message.textContent = '';
  const request = {board: board.name, cmd: cmd, relay: relay, id: nextId++};
  if (ms !== undefined) request.ms = ms;
  send(request);
}

function heard(message) {
  if (message.event === 'boards') {
    const pulses = (message.pulses && typeof message.pulses === 'object') ? message.pulses : {};
    for (const name of message.boards) {
      const board = boardView(name);
      if (pulses[name] && typeof pulses[name] === 'object') board.pulses = pulses[name];
      for (let n = 1; n <= 4; n++) relayRow(board, n);
      send({board: name, cmd: 'watch'});
    }
    return;
  }
  if (typeof message.board !== 'string') return;
  const board = boardView(message.board);
  if (message.names && typeof message.names === 'object') {
    board.names = message.names;
    for (const [n, row] of board.relays) nameRow(board, n, row);
  }
  if (message.relays && typeof message.relays === 'object')
    for (const [n, value] of Object.entries(message.relays)) showRelay(board, Number(n), String(value));
  if (typeof message.link === 'string') showLink(board, message.link);
  if (message.ok === false) board.message.textContent = message.error || message.code || 'refused';
}

function setConnected(now) {
  connected = now;
  connection.textContent = now ? 'connected to relayd' : 'relayd unreachable: trying again';
  document.body.dataset.connected = now ? 'yes' : 'no';
  for (const board of boards.values()) {
    if (!now) {
      // Nothing is known of a board relayd no longer tells us about.
      showLink(board, 'unknown');
      for (const n of board.relays.keys()) showRelay(board, n, 'unknown');
    }
    for (const row of board.relays.values()) {
      row.on.disabled = row.off.disabled = !now;
      if (row.pulse) row.pulse.disabled = !now;
    }
  }
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  socket = new WebSocket(scheme + location.host + '/ws');
  socket.addEventListener('open', () => {
    retryDelay = 500;
    setConnected(true);
  });
  socket.addEventListener('message', event => {
    let message;
    try {
      message = JSON.parse(event.data);
    } catch (e) {
      return;
    }
    heard(message);
  });
  socket.addEventListener('close', () => {
    socket = null;
    setConnected(false);
    // A session that has ended shows the login form again.
    fetch('/page.js', {method: 'HEAD', cache: 'no-store'}).then(reply => {
      if (reply.status === 401) location.reload();
    }).catch(() => {});
    setTimeout(connect, retryDelay);
    retryDelay = Math.min(retryDelay * 2, 5000);
  });
}

setConnected(false);
connection.textContent = 'connecting';
connect();
