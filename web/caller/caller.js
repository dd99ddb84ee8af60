// The caller's terminal: xterm.js on one WebSocket to the board. The board sends UTF-8 and
// reads what is typed as UTF-8; Enter goes out as CR, Backspace as BS.
(() => {
  'use strict';
  const Cols = 80;
  const Rows = 25;
  // A paste leaves in pieces far below the board's message limit, each of whole characters.
  const PieceChars = 256;

  const screen = document.getElementById('screen');
  const status = document.getElementById('status');
  const closed = document.getElementById('closed');
  const again = document.getElementById('again');

  // The IBM PC's sixteen colours, as the board's ANSI screens were drawn for.
  const term = new Terminal({
    cols: Cols,
    rows: Rows,
    fontFamily: '"DejaVu Sans Mono", monospace',
    fontSize: 16,
    fontWeightBold: 'normal',
    drawBoldTextInBrightColors: true,
    cursorBlink: true,
    scrollback: 1000,
    theme: {
      background: '#000000', foreground: '#aaaaaa', cursor: '#aaaaaa',
      black: '#000000', red: '#aa0000', green: '#00aa00', yellow: '#aa5500',
      blue: '#0000aa', magenta: '#aa00aa', cyan: '#00aaaa', white: '#aaaaaa',
      brightBlack: '#555555', brightRed: '#ff5555', brightGreen: '#55ff55',
      brightYellow: '#ffff55', brightBlue: '#5555ff', brightMagenta: '#ff55ff',
      brightCyan: '#55ffff', brightWhite: '#ffffff',
    },
  });
  const fit = new FitAddon.FitAddon();
  term.loadAddon(fit);
  window.callerTerminal = term; // the buffer API, for whoever needs to read the screen

  let socket = null;
  const encoder = new TextEncoder();

  function setStatus(text, isClosed) {
    status.textContent = text;
    status.classList.toggle('closed', !!isClosed);
  }

  // Keys and pastes. xterm.js already turns Enter into CR and a pasted line end into CR.
  term.onData((data) => {
    if (!socket || socket.readyState !== WebSocket.OPEN) return;
    const chars = Array.from(data.replace(/\x7f/g, '\b'));
    for (let at = 0; at < chars.length; at += PieceChars) {
      socket.send(encoder.encode(chars.slice(at, at + PieceChars).join('')));
    }
  });

  // The board's screens are 80 by 25: the font grows or shrinks until that fills the window.
  function fitFont() {
    for (let i = 0; i < 3; ++i) {
      const room = fit.proposeDimensions();
      if (!room || !room.cols || !room.rows) break;
      const scale = Math.min(room.cols / Cols, room.rows / Rows);
      const size = Math.max(8, Math.min(40, Math.floor(term.options.fontSize * scale)));
      if (size === term.options.fontSize) break;
      term.options.fontSize = size;
    }
    if (term.cols !== Cols || term.rows !== Rows) term.resize(Cols, Rows);
  }

  function call() {
    closed.hidden = true;
    term.reset();
    setStatus('Connecting...');
    const url = new URL('ws', location.href);
    url.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const ws = new WebSocket(url);
    ws.binaryType = 'arraybuffer';
    ws.onopen = () => {
      setStatus('Connected');
      term.focus();
    };
    ws.onmessage = (e) => {
      if (e.data instanceof ArrayBuffer) term.write(new Uint8Array(e.data));
      else term.write(e.data);
    };
    ws.onclose = () => {
      if (socket === ws) socket = null;
      setStatus('Connection closed', true);
      closed.hidden = false;
      again.focus();
    };
    socket = ws;
  }

  again.addEventListener('click', call);
  window.addEventListener('resize', fitFont);

  // The font must be there before xterm.js measures its cells.
  document.fonts.load('16px "DejaVu Sans Mono"').catch(() => {}).then(() => {
    term.open(screen);
    fitFont();
    call();
  });
})();
