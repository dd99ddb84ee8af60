// The sysop console page: draws the UI runtime's windows from its snapshots and sends the
// sysop's input back as events, in order, over one queue.
'use strict';

(() => {
  const H = 1.5;   // pixels per horizontal dialog unit
  const V = 1.625; // pixels per vertical dialog unit

  const KIND = { 1: 'static', 2: 'groupbox', 3: 'button', 4: 'defbutton', 5: 'checkbox', 6: 'edit',
    7: 'listbox', 8: 'combobox', 9: 'treeview', 10: 'listview', 11: 'bitmap', 12: 'icon' };
  const ST = { disabled: 0x1, readonly: 0x2, number: 0x4, uppercase: 0x8, lowercase: 0x10,
    password: 0x20, sort: 0x40, notify: 0x80, tabstop: 0x100, hidden: 0x200, hasbuttons: 0x400,
    haslines: 0x800, linesatroot: 0x1000, singlesel: 0x2000, nosortheader: 0x4000,
    multiline: 0x8000, center: 0x10000, right: 0x20000 };
  const DS = { caption: 0x1, sysmenu: 0x2, minimizebox: 0x4, maximizebox: 0x8, center: 0x10,
    modalframe: 0x20, hidden: 0x40 };
  const MF = { grayed: 0x1, disabled: 0x2, checked: 0x8, popup: 0x10, separator: 0x800 };
  const IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7;

  const params = new URLSearchParams(location.search);
  const token = params.get('token') || '';
  const q = token ? '?token=' + encodeURIComponent(token) : '';
  // The cookie set with the page carries the token from here on; keep it off the address bar.
  if (token) history.replaceState(null, '', location.pathname);

  const desktop = document.getElementById('desktop');
  const views = new Map();     // window id -> view
  const placed = new Map();    // window id -> {x, y} once the sysop dragged it
  let current = null;          // last state message {version, state}
  let lastTop = null;
  let connected = false;

  // ---------------------------------------------------------------- helpers
  const el = (tag, cls, text) => {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  };
  const svg = (markup, w, h) => {
    const t = document.createElement('template');
    t.innerHTML = `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${w} ${h}" width="${w}" height="${h}">${markup}</svg>`;
    return t.content.firstChild;
  };
  const num = (v, d = 0) => (typeof v === 'number' && isFinite(v) ? v : d);
  const str = (v) => (typeof v === 'string' ? v : v == null ? '' : String(v));

  // Text with '&' mnemonics: "&&" is an ampersand, "&x" underlines x.
  function mnemonic(text) {
    const frag = document.createDocumentFragment();
    let buf = '';
    for (let i = 0; i < text.length; i++) {
      const ch = text[i];
      if (ch === '&' && i + 1 < text.length) {
        if (text[i + 1] === '&') { buf += '&'; i++; continue; }
        if (buf) frag.appendChild(document.createTextNode(buf));
        buf = '';
        frag.appendChild(el('u', null, text[++i]));
        continue;
      }
      buf += ch;
    }
    if (buf) frag.appendChild(document.createTextNode(buf));
    return frag;
  }
  function setMnemonic(node, text) {
    if (node._text === text) return;
    node._text = text;
    node.replaceChildren(mnemonic(text));
  }
  function setText(node, text) { if (node.textContent !== text) node.textContent = text; }
  function toggle(node, cls, on) { node.classList.toggle(cls, !!on); }

  // Styles arrive as a number of bits, a list of names or an object of flags.
  function flagsOf(v, table) {
    if (typeof v === 'number') return v;
    let bits = 0;
    const add = (name) => { const b = table[String(name).toLowerCase()]; if (b) bits |= b; };
    if (Array.isArray(v)) v.forEach(add);
    else if (v && typeof v === 'object') Object.keys(v).forEach((k) => { if (v[k]) add(k); });
    return bits;
  }

  // ---------------------------------------------------------------- pictures
  function meterSvg(level, size) {
    level = Math.max(0, Math.min(5, num(level)));
    const colour = level >= 5 ? '#e02020' : level >= 4 ? '#e0c000' : '#20c020';
    let bars = '';
    for (let i = 0; i < 5; i++) {
      const h = 3 + i * 2, x = 2 + i * 2.6;
      bars += `<rect x="${x}" y="${14 - h}" width="2" height="${h}" fill="${i < level ? colour : '#3a4a3a'}"/>`;
    }
    const m = `<rect x="0.5" y="0.5" width="15" height="15" rx="2" fill="#102030" stroke="#000"/>${bars}`;
    return svg(m, 16, 16, size);
  }
  function meterDataUri(level) {
    return 'data:image/svg+xml,' + encodeURIComponent(meterSvg(level).outerHTML);
  }
  const ICONS = {
    // modem line: a small box with lights and a handset
    112: '<rect x="1" y="6" width="14" height="7" rx="1" fill="#d8d8c8" stroke="#404040"/><rect x="3" y="10" width="2" height="1.5" fill="#0c0"/><rect x="6" y="10" width="2" height="1.5" fill="#0c0"/><rect x="9" y="10" width="2" height="1.5" fill="#c00"/><path d="M3 5 Q8 0 13 5" fill="none" stroke="#202020" stroke-width="2"/>',
    // network: two linked screens
    113: '<rect x="0.5" y="1.5" width="8" height="6" fill="#c0c0c0" stroke="#000"/><rect x="2" y="3" width="5" height="3" fill="#008080"/><rect x="7.5" y="8.5" width="8" height="6" fill="#c0c0c0" stroke="#000"/><rect x="9" y="10" width="5" height="3" fill="#008080"/><path d="M4.5 8 V12 H7.5" fill="none" stroke="#000080"/>',
  };
  function imageSvg(resource) {
    const m = ICONS[resource] || '<rect x="2" y="2" width="12" height="12" fill="#ffffe0" stroke="#404040"/>';
    return svg(m, 16, 16);
  }
  function bitmapSvg(resource) {
    // The product picture (also on the splash): a night sky over a calm sea.
    return svg(`<defs><linearGradient id="sky${resource}" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#000040"/><stop offset="0.7" stop-color="#1a3a8a"/><stop offset="1" stop-color="#0b1a3a"/></linearGradient></defs>
      <rect width="272" height="58" fill="url(#sky${resource})"/>
      <path d="M0 46 Q40 40 80 45 T160 43 T272 45 V58 H0Z" fill="#08204a"/>
      <circle cx="236" cy="16" r="8" fill="#f0f0c0"/>
      <circle cx="40" cy="10" r="0.8" fill="#fff"/><circle cx="150" cy="7" r="0.8" fill="#fff"/><circle cx="200" cy="22" r="0.7" fill="#fff"/>
      <text x="12" y="33" font-family="Georgia, 'Times New Roman', serif" font-size="26" font-style="italic" fill="#ffffff">Ossivane</text>
      <text x="126" y="33" font-family="Arial, sans-serif" font-size="22" font-weight="bold" fill="#ffd040">BBS</text>
      <rect y="58" width="272" height="19" fill="#ffffff"/><rect y="58" width="272" height="1" fill="#808080"/>`, 272, 77);
  }
  function msgIconSvg(type) {
    const icon = type & 0xf0;
    if (icon === 0x10) return svg('<circle cx="16" cy="16" r="14" fill="#e02020" stroke="#800000"/><path d="M10 10 L22 22 M22 10 L10 22" stroke="#fff" stroke-width="3.5"/>', 32, 32);
    if (icon === 0x30) return svg('<path d="M16 2 L30 29 H2 Z" fill="#ffe000" stroke="#000"/><rect x="14.5" y="10" width="3" height="11" fill="#000"/><rect x="14.5" y="23" width="3" height="3" fill="#000"/>', 32, 32);
    if (icon === 0x20) return svg('<circle cx="16" cy="16" r="14" fill="#fff" stroke="#000080"/><text x="16" y="23" text-anchor="middle" font-family="Arial" font-weight="bold" font-size="20" fill="#000080">?</text>', 32, 32);
    if (icon === 0x40) return svg('<circle cx="16" cy="16" r="14" fill="#fff" stroke="#000080"/><text x="16" y="24" text-anchor="middle" font-family="Georgia, serif" font-weight="bold" font-size="21" fill="#000080">i</text>', 32, 32);
    return null;
  }
  const checkMark = () => svg('<path d="M1 4 L3 6 L7 1 L7 3 L3 8 L1 6Z" fill="currentColor"/>', 8, 9);
  const folderSvg = () => svg('<path d="M1 4 H6 L7 5 H15 V14 H1Z" fill="#f0d060" stroke="#806000"/>', 16, 16);
  const fileSvg = () => svg('<path d="M3 1 H10 L13 4 V15 H3Z" fill="#fff" stroke="#404040"/><path d="M5 7 H11 M5 9 H11 M5 11 H11" stroke="#8080c0"/>', 16, 16);

  // ---------------------------------------------------------------- input queue
  // Events go out one request at a time, in the order the sysop made them, so typed text
  // always reaches the server before a click that follows it.
  const queue = [];
  let sending = false;
  function post(ev) {
    const last = queue[queue.length - 1];
    if (last && (ev.type === 'typeText' || ev.type === 'comboType') && last.type === ev.type &&
        last.window === ev.window && last.control === ev.control) {
      last.text = ev.text;
    } else {
      queue.push(ev);
    }
    pump();
  }
  async function pump() {
    if (sending) return;
    sending = true;
    while (queue.length) {
      const batch = queue.splice(0, 64);
      try {
        const r = await fetch('/input' + q, {
          method: 'POST', headers: { 'Content-Type': 'application/json' },
          body: JSON.stringify(batch), credentials: 'same-origin', cache: 'no-store',
        });
        if (!r.ok && r.status !== 400) setConnected(false);
      } catch (e) {
        setConnected(false); // the events are dropped: replaying clicks later would surprise
      }
    }
    sending = false;
  }
  const pending = (w, id) => queue.some((e) => e.window === w && e.control === id &&
    (e.type === 'typeText' || e.type === 'comboType'));

  // ---------------------------------------------------------------- connection
  let source = null;
  let retry = null;
  let openedSent = false;
  function setConnected(on) {
    connected = on;
    document.body.classList.toggle('disconnected', !on);
    setText(document.getElementById('status-text'), on ? 'Connected' : 'Disconnected - reconnecting...');
    if (!on && !retry) retry = setInterval(refetch, 1500);
    if (on && retry) { clearInterval(retry); retry = null; }
  }
  async function refetch() {
    try {
      const r = await fetch('/state' + q, { credentials: 'same-origin', cache: 'no-store' });
      if (r.status === 403) { setText(document.getElementById('status-text'), 'Access denied: open the address with its token'); return; }
      if (!r.ok) return;
      const msg = await r.json();
      setConnected(true);
      apply(msg, true);
      if (!source || source.readyState === EventSource.CLOSED) listen();
    } catch (e) { /* still away */ }
  }
  function listen() {
    if (source) source.close();
    source = new EventSource('/events' + q);
    source.onopen = () => {
      setConnected(true);
      if (!openedSent) { openedSent = true; post({ type: 'pageOpened' }); }
    };
    source.onmessage = (e) => {
      let msg;
      try { msg = JSON.parse(e.data); } catch (x) { return; }
      setConnected(true);
      apply(msg, false);
    };
    source.onerror = () => {
      setConnected(false);
      if (source.readyState === EventSource.CLOSED) { source.close(); source = null; }
    };
  }

  // ---------------------------------------------------------------- state
  function windowsOf(state) {
    const list = Array.isArray(state.windows) ? state.windows.slice() : [];
    list.sort((a, b) => num(a.z) - num(b.z));
    return list;
  }
  const idOf = (w) => num(w.id, num(w.handle, num(w.hwnd)));
  const kindOf = (w) => str(w.kind || 'dialog').toLowerCase().replace(/[^a-z]/g, '');

  function apply(msg, fromPoll) {
    if (!msg || typeof msg !== 'object') return;
    if (current && !fromPoll && num(msg.version) < num(current.version)) return;
    current = msg;
    render();
  }

  function render() {
    const state = (current && current.state) || {};
    const all = windowsOf(state).filter((w) => w.visible !== false && !w.minimized);
    const seen = new Set();
    let depth = 0;
    let top = null;
    for (const w of all) {
      const id = idOf(w);
      seen.add(id);
      let view = views.get(id);
      const kind = kindOf(w);
      if (!view || view.kind !== kind) {
        if (view) view.root.remove();
        view = makeView(id, kind);
        views.set(id, view);
      }
      // Keep the z order without moving nodes that are in place: a moved node loses the focus.
      const at = desktop.children[depth];
      if (at !== view.root) desktop.insertBefore(view.root, at || null);
      updateView(view, w, depth++);
      top = w;
    }
    for (const [id, view] of views) {
      if (!seen.has(id)) { view.root.remove(); views.delete(id); placed.delete(id); }
    }
    renderSplash(state);
    renderTray(state, all.length === 0 && !splashShown(state));
    // A window that came to the top gets the keyboard.
    const topId = top ? idOf(top) : null;
    if (topId !== lastTop) {
      lastTop = topId;
      if (top) focusWindow(views.get(topId), top);
    }
  }

  function focusWindow(view, w) {
    if (!view) return;
    let target = null;
    if (w.focus && view.controls) {
      const c = view.controls.get(String(w.focus));
      if (c) target = c.focusEl || c.root;
    }
    if (!target) target = view.root.querySelector('button.default:not(:disabled)') ||
      view.root.querySelector('.client [tabindex="0"], .client input:not(:disabled), .client button:not(:disabled), .body button, .buttons button, textarea');
    if (target && target.focus) target.focus({ preventScroll: true });
  }

  // ---------------------------------------------------------------- windows
  function makeView(id, kind) {
    const root = el('div', 'window shadowed ' + kind);
    root.dataset.window = id;
    root.tabIndex = -1;
    const bar = el('div', 'titlebar');
    const icon = el('span', 'app-icon');
    const title = el('span', 'title');
    const minBtn = el('button', 'capbtn min');
    minBtn.tabIndex = -1;
    minBtn.title = 'Minimize';
    minBtn.appendChild(svg('<rect x="1" y="5" width="6" height="2" fill="#000"/>', 8, 7));
    const closeBtn = el('button', 'capbtn close');
    closeBtn.tabIndex = -1;
    closeBtn.title = 'Close';
    closeBtn.appendChild(svg('<path d="M0.5 0.5 L7.5 6.5 M7.5 0.5 L0.5 6.5" stroke="#000" stroke-width="1.6"/>', 8, 7));
    bar.append(icon, title, minBtn, closeBtn);
    root.appendChild(bar);
    const view = { id, kind, root, bar, title, icon, minBtn, closeBtn, controls: new Map() };
    minBtn.addEventListener('click', () => post({ type: 'minimize', window: id }));
    closeBtn.addEventListener('click', () => post({ type: 'closeBox', window: id }));
    makeDraggable(view);
    root.addEventListener('keydown', (e) => onWindowKey(view, e));
    if (kind === 'messagebox') makeMessageBox(view);
    else if (kind === 'openfile') makeOpenFile(view);
    else if (kind === 'editor') makeEditor(view);
    else {
      view.menubar = el('div', 'menubar');
      view.client = el('div', 'client');
      root.append(view.menubar, view.client);
    }
    return view;
  }

  function makeDraggable(view) {
    view.bar.addEventListener('mousedown', (e) => {
      if (e.button !== 0 || e.target.closest('.capbtn')) return;
      const start = { x: e.clientX, y: e.clientY, left: view.root.offsetLeft, top: view.root.offsetTop };
      const move = (m) => {
        const p = { x: start.left + m.clientX - start.x, y: Math.max(0, start.top + m.clientY - start.y) };
        placed.set(view.id, p);
        view.root.style.left = p.x + 'px';
        view.root.style.top = p.y + 'px';
      };
      const up = () => { removeEventListener('mousemove', move); removeEventListener('mouseup', up); };
      addEventListener('mousemove', move);
      addEventListener('mouseup', up);
      e.preventDefault();
    });
  }

  function updateView(view, w, depth) {
    const style = flagsOf(w.style, DS);
    const flag = (name, bit) => (w[name] !== undefined ? !!w[name] : !!(style & bit));
    const accepts = w.acceptsInput !== undefined ? !!w.acceptsInput : w.enabled !== false;
    view.w = w;
    toggle(view.root, 'inactive', !accepts);
    view.root.inert = !accepts || !connected;
    const title = str(w.title);
    setText(view.title, title);
    const hasCaption = view.kind !== 'dialog' || flag('caption', DS.caption);
    view.bar.hidden = !hasCaption;
    toggle(view.root, 'captionless', !hasCaption);
    view.minBtn.hidden = view.kind !== 'dialog' || !flag('minimizeBox', DS.minimizebox);
    view.closeBtn.hidden = view.kind === 'messagebox' || !(view.kind !== 'dialog' || flag('closeBox', DS.sysmenu));
    if (view.kind === 'dialog' && !view.icon.firstChild && w.menu) view.icon.appendChild(meterSvg(0));
    if (view.kind === 'messagebox') updateMessageBox(view, w);
    else if (view.kind === 'openfile') updateOpenFile(view, w);
    else if (view.kind === 'editor') updateEditor(view, w);
    else updateDialog(view, w);
    place(view, depth);
  }

  function place(view, depth) {
    const p = placed.get(view.id);
    const dw = desktop.clientWidth, dh = desktop.clientHeight;
    const ww = view.root.offsetWidth, wh = view.root.offsetHeight;
    let x, y;
    if (p) { x = p.x; y = p.y; } else {
      x = Math.max(0, Math.round((dw - ww) / 2) + depth * 12);
      y = Math.max(0, Math.round((dh - wh) / 2) + depth * 12);
    }
    view.root.style.left = x + 'px';
    view.root.style.top = y + 'px';
  }

  function onWindowKey(view, e) {
    if (openMenu) { menuKey(view, e); return; }
    if (e.altKey && !e.ctrlKey && !e.metaKey && altMnemonic(view, e)) { e.preventDefault(); return; }
    const t = e.target;
    if (e.key === 'Enter') {
      if (t.tagName === 'BUTTON' || t.tagName === 'TEXTAREA' || t.closest('.combolist')) return;
      if (t.classList && t.classList.contains('check')) return;
      e.preventDefault();
      if (view.kind === 'messagebox') { const b = view.root.querySelector('.buttons button'); if (b) b.click(); return; }
      if (view.kind === 'openfile') { view.ok.click(); return; }
      if (view.kind !== 'dialog') return;
      // The runtime would press the button it last saw focused; the sysop means the default one.
      const def = view.root.querySelector('.client button.default:not(:disabled)');
      if (def) def.click();
      else post({ type: 'key', window: view.id, text: 'enter' });
    } else if (e.key === 'Escape') {
      e.preventDefault();
      if (view.kind === 'messagebox') { answerCancel(view); return; }
      if (view.kind === 'openfile') { post({ type: 'openFileCancel', window: view.id }); return; }
      if (view.kind === 'dialog') post({ type: 'key', window: view.id, text: 'escape' });
    } else if (e.key === 'F4' && e.altKey) {
      e.preventDefault();
      post({ type: 'closeBox', window: view.id });
    }
  }

  // ---------------------------------------------------------------- menus
  let openMenu = null; // {view, index}
  function closeMenus() {
    if (!openMenu) return false;
    document.querySelectorAll('.popup').forEach((p) => p.remove());
    document.querySelectorAll('.menubar .mitem.open').forEach((m) => m.classList.remove('open'));
    openMenu = null;
    return true;
  }
  addEventListener('mousedown', (e) => {
    if (!e.target.closest('.popup, .menubar')) closeMenus();
    if (!e.target.closest('.combolist, .combo')) document.querySelectorAll('.combolist').forEach((c) => c.remove());
  });
  const menuItems = (m) => (Array.isArray(m) ? m : m && Array.isArray(m.items) ? m.items : []);
  function itemFlags(it) {
    let f = num(it.flags);
    if (it.checked) f |= MF.checked;
    if (it.grayed) f |= MF.grayed;
    if (it.disabled) f |= MF.disabled;
    if (it.separator || (it.text == null && !it.popup && !it.items && !it.id)) f |= MF.separator;
    return f;
  }
  const subOf = (it) => (it.popup && typeof it.popup === 'object' ? menuItems(it.popup) : Array.isArray(it.items) ? it.items : null);

  function updateMenuBar(view, w) {
    const items = menuItems(w.menu);
    const key = JSON.stringify(items);
    view.menubar.hidden = items.length === 0;
    if (view.menuKey === key) return;
    view.menuKey = key;
    view.menuItems = items;
    view.menubar.replaceChildren();
    items.forEach((it, i) => {
      const m = el('div', 'mitem');
      m.dataset.index = i;
      setMnemonic(m, str(it.text));
      if (itemFlags(it) & (MF.grayed | MF.disabled)) m.classList.add('grayed');
      m.addEventListener('mousedown', (e) => {
        e.preventDefault();
        if (openMenu && openMenu.view === view && openMenu.index === i) { closeMenus(); return; }
        openTop(view, i);
      });
      m.addEventListener('mouseenter', () => { if (openMenu && openMenu.view === view && openMenu.index !== i) openTop(view, i); });
      view.menubar.appendChild(m);
    });
    if (openMenu && openMenu.view === view) { const i = openMenu.index; closeMenus(); if (items[i]) openTop(view, i); }
  }
  function openTop(view, i) {
    closeMenus();
    const it = view.menuItems[i];
    const m = view.menubar.children[i];
    if (!it || !m) return;
    const sub = subOf(it);
    if (!sub) { // a command straight on the bar
      if (!(itemFlags(it) & (MF.grayed | MF.disabled))) post({ type: 'menuCommand', window: view.id, control: num(it.id) });
      return;
    }
    m.classList.add('open');
    openMenu = { view, index: i };
    const r = m.getBoundingClientRect();
    showPopup(view, sub, r.left, r.bottom, 0);
  }
  function showPopup(view, items, x, y, level) {
    const p = el('div', 'popup');
    p.dataset.level = level;
    p.view = view;
    for (const it of items) {
      const f = itemFlags(it);
      if (f & MF.separator) { p.appendChild(el('div', 'sep')); continue; }
      const row = el('div', 'mi');
      row.item = it;
      const text = str(it.text);
      const tab = text.indexOf('\t');
      const check = el('span', 'check');
      if (f & MF.checked) check.appendChild(checkMark());
      const label = el('span', 'lbl');
      setMnemonic(label, tab >= 0 ? text.slice(0, tab) : text);
      const acc = el('span', 'acc', tab >= 0 ? text.slice(tab + 1) : '');
      const sub = subOf(it);
      const arrow = el('span', sub ? 'arrow' : '');
      row.append(check, label, acc, arrow);
      if (f & (MF.grayed | MF.disabled)) row.classList.add('grayed');
      if (f & MF.checked) row.classList.add('checked');
      row.dataset.command = num(it.id);
      row.addEventListener('mouseenter', () => { setHot(row); openSub(row); });
      row.addEventListener('mouseup', () => { if (!sub) choose(row); });
      p.appendChild(row);
    }
    document.body.appendChild(p);
    const maxX = innerWidth - p.offsetWidth - 2;
    p.style.left = Math.max(0, Math.min(x, maxX)) + 'px';
    p.style.top = Math.max(0, Math.min(y, innerHeight - p.offsetHeight - 2)) + 'px';
    return p;
  }

  // Menu rows, for the mouse and the keyboard alike.
  const levelOf = (p) => num(+p.dataset.level);
  const rowGrayed = (row) => row.classList.contains('grayed');
  function setHot(row) {
    row.parentElement.querySelectorAll('.mi.hot').forEach((h) => h.classList.remove('hot'));
    row.classList.add('hot');
  }
  // Closes the pop-ups below the row's own and opens the row's sub-menu, if it has one.
  function openSub(row) {
    const p = row.parentElement;
    document.querySelectorAll('.popup').forEach((o) => { if (levelOf(o) > levelOf(p)) o.remove(); });
    const sub = subOf(row.item);
    if (!sub || rowGrayed(row)) return null;
    const r = row.getBoundingClientRect();
    return showPopup(p.view, sub, r.right - 3, r.top - 3, levelOf(p) + 1);
  }
  function choose(row) {
    if (rowGrayed(row)) return;
    if (subOf(row.item)) {
      const sub = openSub(row);
      const first = sub && sub.querySelector('.mi');
      if (first) setHot(first);
      return;
    }
    const view = row.parentElement.view;
    closeMenus();
    post({ type: 'menuCommand', window: view.id, control: num(row.item.id) });
  }
  // The letter after a single '&', lower case; '' when the text has none.
  function mnemonicKey(text) {
    const m = /(?:^|[^&])(?:&&)*&([^&])/.exec(str(text));
    return m ? m[1].toLowerCase() : '';
  }
  const letterOf = (e) => (e.key && e.key.length === 1 ? e.key.toLowerCase() : e.code && /^Key[A-Z]$/.test(e.code) ? e.code.slice(3).toLowerCase() : '');
  function openTopByKey(view, i) {
    openTop(view, i);
    const p = document.querySelector('.popup[data-level="0"]');
    const first = p && p.querySelector('.mi');
    if (first) setHot(first);
  }

  // Keys while a menu is open: arrows walk it, Enter or an item's letter chooses, Escape backs out.
  function menuKey(view, e) {
    e.preventDefault();
    const popups = [...document.querySelectorAll('.popup')].sort((a, b) => levelOf(a) - levelOf(b));
    const p = popups[popups.length - 1];
    const top = openMenu.view;
    const count = top.menuItems.length;
    if (!p) { closeMenus(); return; }
    const rows = [...p.querySelectorAll('.mi')];
    const hot = p.querySelector('.mi.hot');
    const at = rows.indexOf(hot);
    const letter = letterOf(e);
    if (e.key === 'Escape') {
      if (levelOf(p) > 0) p.remove(); else closeMenus();
    } else if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
      if (rows.length) setHot(rows[(at + (e.key === 'ArrowDown' ? 1 : rows.length - (at < 0 ? 0 : 1))) % rows.length]);
    } else if (e.key === 'ArrowRight') {
      if (hot && subOf(hot.item) && !rowGrayed(hot)) choose(hot);
      else if (count) openTopByKey(top, (openMenu.index + 1) % count);
    } else if (e.key === 'ArrowLeft') {
      if (levelOf(p) > 0) p.remove();
      else if (count) openTopByKey(top, (openMenu.index + count - 1) % count);
    } else if (e.key === 'Enter' || e.key === ' ') {
      if (hot) choose(hot);
    } else if (e.altKey && letter) {
      const i = top.menuItems.findIndex((it) => mnemonicKey(it.text) === letter);
      if (i >= 0) openTopByKey(top, i); else closeMenus();
    } else if (letter && !e.ctrlKey && !e.metaKey) {
      const row = rows.find((r) => mnemonicKey(r.item.text) === letter);
      if (row) { setHot(row); choose(row); }
    } else if (e.key === 'Tab') {
      closeMenus();
    }
  }

  // Alt and a letter: the menu with that letter, else the control whose label has it.
  function altMnemonic(view, e) {
    const letter = letterOf(e);
    if (!letter) return false;
    if (view.menuItems && view.kind === 'dialog' && !view.menubar.hidden) {
      const i = view.menuItems.findIndex((it) => mnemonicKey(it.text) === letter);
      if (i >= 0) { openTopByKey(view, i); return true; }
    }
    const marked = [...view.root.querySelectorAll('u')].filter((u) => u.textContent.toLowerCase() === letter && !u.closest('.menubar'));
    for (const u of marked) {
      const host = u.closest('button, .check, .ctl.static, label');
      if (!host || host.closest('[hidden]') || host.disabled || host.classList.contains('disabled')) continue;
      if (host.tagName === 'BUTTON' || host.classList.contains('check')) { host.focus(); host.click(); return true; }
      // A label gives the focus to the control that follows it.
      let next = host.nextElementSibling;
      while (next && (next.matches('.static, .group, label') || next.hidden || next.classList.contains('disabled'))) next = next.nextElementSibling;
      const target = next && (next.matches('input, .files, [tabindex="0"]') ? next : next.querySelector('input, textarea, [tabindex="0"]'));
      if (target) { target.focus(); return true; }
    }
    return false;
  }

  // ---------------------------------------------------------------- dialogs
  function updateDialog(view, w) {
    updateMenuBar(view, w);
    view.client.style.width = Math.round(num(w.cx) * H) + 'px';
    view.client.style.height = Math.round(num(w.cy) * V) + 'px';
    const controls = Array.isArray(w.controls) ? w.controls : [];
    const seen = new Set();
    controls.forEach((c, i) => {
      const kind = typeof c.kind === 'number' ? KIND[c.kind] : str(c.kind).toLowerCase();
      const id = num(c.id, -1);
      const key = id >= 0 && id !== 0xffff ? String(id) : 'n' + i;
      seen.add(key);
      let cv = view.controls.get(key);
      if (!cv || cv.kind !== kind) {
        if (cv) cv.root.remove();
        cv = makeControl(view, kind, id);
        view.controls.set(key, cv);
        view.client.appendChild(cv.root);
      }
      updateControl(view, cv, c);
    });
    for (const [key, cv] of view.controls) if (!seen.has(key)) { cv.root.remove(); view.controls.delete(key); }
  }

  function makeControl(view, kind, id) {
    const wid = view.id;
    const cv = { kind, id, root: null, focusEl: null };
    switch (kind) {
      case 'groupbox': {
        cv.root = el('div', 'ctl group');
        cv.legend = el('span', 'legend');
        cv.root.appendChild(cv.legend);
        break;
      }
      case 'button': case 'defbutton': {
        cv.root = el('button', 'ctl push' + (kind === 'defbutton' ? ' default' : ''));
        cv.label = el('span', 'lbl');
        cv.root.appendChild(cv.label);
        cv.root.addEventListener('click', () => post({ type: 'click', window: wid, control: id }));
        cv.focusEl = cv.root;
        break;
      }
      case 'checkbox': {
        cv.root = el('div', 'ctl check');
        cv.root.tabIndex = 0;
        cv.root.setAttribute('role', 'checkbox');
        cv.box = el('span', 'box');
        cv.label = el('span', 'text');
        cv.root.append(cv.box, cv.label);
        const hit = () => {
          if (cv.root.classList.contains('disabled')) return;
          cv.checked = !cv.checked; // shown at once; the next snapshot confirms it
          drawCheck(cv);
          post({ type: 'click', window: wid, control: id });
        };
        cv.root.addEventListener('click', hit);
        cv.root.addEventListener('keydown', (e) => { if (e.key === ' ') { e.preventDefault(); hit(); } });
        cv.focusEl = cv.root;
        break;
      }
      case 'edit': {
        cv.root = el('div', 'ctl');
        cv.input = null; // made on first update, once multiline is known
        break;
      }
      case 'listbox': {
        cv.root = el('div', 'ctl listbox sunken');
        cv.root.tabIndex = 0;
        cv.root.setAttribute('role', 'listbox');
        cv.root.addEventListener('mousedown', (e) => {
          const item = e.target.closest('.item');
          if (!item || cv.root.classList.contains('disabled')) return;
          const index = +item.dataset.index;
          markSel(cv.root, '.item', index);
          post({ type: 'select', window: wid, control: id, index });
        });
        cv.root.addEventListener('dblclick', (e) => {
          const item = e.target.closest('.item');
          if (item) post({ type: 'doubleClick', window: wid, control: id, index: +item.dataset.index });
        });
        cv.root.addEventListener('keydown', (e) => arrowSelect(e, cv, (index) => post({ type: 'select', window: wid, control: id, index })));
        cv.focusEl = cv.root;
        break;
      }
      case 'combobox': {
        cv.root = el('div', 'ctl combo sunken');
        cv.input = el('input', 'edit');
        cv.input.type = 'text';
        cv.input.spellcheck = false;
        cv.drop = el('button', 'drop');
        cv.drop.tabIndex = -1;
        cv.root.append(cv.input, cv.drop);
        cv.input.addEventListener('input', () => {
          cv.typed = true;
          applyRules(cv.input, cv.style);
          post({ type: 'comboType', window: wid, control: id, text: cv.input.value });
        });
        cv.input.addEventListener('blur', () => { cv.typed = false; });
        cv.input.addEventListener('keydown', (e) => {
          if (e.key === 'ArrowDown' && e.altKey) { e.preventDefault(); openComboList(view, cv); }
        });
        cv.drop.addEventListener('mousedown', (e) => { e.preventDefault(); openComboList(view, cv); });
        cv.focusEl = cv.input;
        break;
      }
      case 'treeview': {
        cv.root = el('div', 'ctl tree sunken');
        cv.root.tabIndex = 0;
        cv.root.setAttribute('role', 'tree');
        cv.list = el('ul');
        cv.root.appendChild(cv.list);
        cv.root.addEventListener('mousedown', (e) => {
          if (cv.root.classList.contains('disabled')) return;
          const exp = e.target.closest('.exp');
          const li = e.target.closest('li');
          if (!li) return;
          const item = +li.dataset.item;
          if (exp) {
            const expand = li.classList.contains('collapsed');
            toggle(li, 'collapsed', !expand);
            post({ type: 'treeExpand', window: wid, control: id, index: item, flag: expand });
          } else if (e.target.closest('.label')) {
            cv.root.querySelectorAll('.label.sel').forEach((s) => s.classList.remove('sel'));
            li.querySelector(':scope > .row > .label').classList.add('sel');
            post({ type: 'treeSelect', window: wid, control: id, index: item });
          }
        });
        cv.root.addEventListener('dblclick', (e) => {
          const li = e.target.closest('li');
          if (!li || e.target.closest('.exp') || !li.querySelector(':scope > ul')) return;
          const expand = li.classList.contains('collapsed');
          post({ type: 'treeExpand', window: wid, control: id, index: +li.dataset.item, flag: expand });
        });
        cv.root.addEventListener('keydown', (e) => treeKey(e, view, cv));
        cv.focusEl = cv.root;
        break;
      }
      case 'listview': {
        cv.root = el('div', 'ctl listview sunken');
        cv.root.tabIndex = 0;
        cv.table = el('table');
        cv.head = el('tr');
        const thead = el('thead');
        thead.appendChild(cv.head);
        cv.body = el('tbody');
        cv.table.append(thead, cv.body);
        cv.root.appendChild(cv.table);
        cv.root.addEventListener('mousedown', (e) => {
          const tr = e.target.closest('tbody tr');
          if (!tr || cv.root.classList.contains('disabled')) return;
          const index = +tr.dataset.index;
          markSel(cv.body, 'tr', index);
          post({ type: 'listViewSelect', window: wid, control: id, index });
        });
        cv.root.addEventListener('dblclick', (e) => {
          const tr = e.target.closest('tbody tr');
          if (tr) post({ type: 'doubleClick', window: wid, control: id, index: +tr.dataset.index });
        });
        cv.root.addEventListener('keydown', (e) => arrowSelect(e, cv, (index) => post({ type: 'listViewSelect', window: wid, control: id, index })));
        cv.focusEl = cv.root;
        break;
      }
      case 'bitmap': case 'icon': {
        cv.root = el('div', 'ctl picture');
        break;
      }
      default: {
        cv.root = el('div', 'ctl static');
        cv.root.addEventListener('click', () => {
          if (cv.style & ST.notify) post({ type: 'click', window: wid, control: id });
        });
      }
    }
    return cv;
  }

  function markSel(container, selector, index) {
    container.querySelectorAll(selector).forEach((n) => toggle(n, 'sel', +n.dataset.index === index));
  }
  function arrowSelect(e, cv, send) {
    if (e.key !== 'ArrowDown' && e.key !== 'ArrowUp' && e.key !== 'Home' && e.key !== 'End') return;
    e.preventDefault();
    const count = cv.count || 0;
    if (!count) return;
    let i = cv.sel == null ? -1 : cv.sel;
    if (e.key === 'ArrowDown') i = Math.min(count - 1, i + 1);
    else if (e.key === 'ArrowUp') i = Math.max(0, i - 1);
    else if (e.key === 'Home') i = 0;
    else i = count - 1;
    if (i !== cv.sel) { cv.sel = i; send(i); }
  }

  function applyRules(input, style) {
    let v = input.value;
    const start = input.selectionStart;
    if (style & ST.number) v = v.replace(/[^0-9]/g, '');
    if (style & ST.uppercase) v = v.toUpperCase();
    if (style & ST.lowercase) v = v.toLowerCase();
    if (v !== input.value) {
      const cut = input.value.length - v.length;
      input.value = v;
      const pos = Math.max(0, (start || 0) - cut);
      try { input.setSelectionRange(pos, pos); } catch (x) { /* not a text input */ }
    }
  }

  function makeEditInput(view, cv, multiline) {
    const input = el(multiline ? 'textarea' : 'input', 'edit sunken');
    if (!multiline) input.type = 'text';
    input.spellcheck = false;
    input.autocomplete = 'off';
    input.style.width = '100%';
    input.style.height = '100%';
    input.addEventListener('input', () => {
      cv.typed = true;
      applyRules(input, cv.style);
      post({ type: 'typeText', window: view.id, control: cv.id, text: input.value });
    });
    input.addEventListener('focus', () => { if (cv.style & ST.password) input.select(); });
    input.addEventListener('blur', () => { cv.typed = false; if (current) setTimeout(render, 0); });
    cv.root.replaceChildren(input);
    cv.input = input;
    cv.focusEl = input;
    cv.multiline = multiline;
  }

  function syncValue(view, cv, input, text) {
    // Text the sysop is typing stays until the field loses the focus.
    if (document.activeElement === input && (cv.typed || pending(view.id, cv.id))) return;
    if (input.value !== text) input.value = text;
  }

  // A password box is write-only: the page never gets its text, only whether it holds any, so
  // what it shows is only ever what the sysop typed here. The box empties when the program
  // empties it (another account shown, say).
  function syncPassword(view, cv, input, filled) {
    if (filled || input.value === '' || cv.typed || pending(view.id, cv.id)) return;
    input.value = '';
  }

  function updateControl(view, cv, c) {
    const style = flagsOf(c.styles !== undefined ? c.styles : c.style, ST);
    cv.style = style;
    const enabled = c.enabled !== undefined ? !!c.enabled : !(style & ST.disabled);
    const visible = c.visible !== undefined ? !!c.visible : !(style & ST.hidden);
    const s = cv.root.style;
    const x = Math.round(num(c.x) * H), y = Math.round(num(c.y) * V);
    let w = Math.round(num(c.cx) * H), h = Math.round(num(c.cy) * V);
    if (cv.kind === 'combobox') h = Math.round(12 * V) + 1; // the closed box; the list drops below
    s.left = x + 'px'; s.top = y + 'px'; s.width = w + 'px'; s.height = h + 'px';
    if (cv.kind === 'groupbox') s.height = Math.max(0, h - 6) + 'px';
    cv.root.hidden = !visible;
    toggle(cv.root, 'disabled', !enabled);
    cv.root.dataset.control = cv.id;
    const text = str(c.text);
    switch (cv.kind) {
      case 'groupbox': setMnemonic(cv.legend, text); cv.legend.hidden = !text; break;
      case 'button': case 'defbutton':
        setMnemonic(cv.label, text); cv.root.disabled = !enabled; break;
      case 'checkbox': {
        setMnemonic(cv.label, text);
        cv.checked = num(c.checked) === 1 || c.checked === true;
        cv.root.tabIndex = enabled ? 0 : -1;
        drawCheck(cv);
        break;
      }
      case 'edit': {
        const multiline = !!(style & ST.multiline);
        if (!cv.input || cv.multiline !== multiline) makeEditInput(view, cv, multiline);
        const input = cv.input;
        if (!multiline) input.type = style & ST.password ? 'password' : 'text';
        input.readOnly = !!(style & ST.readonly);
        input.disabled = !enabled;
        input.inputMode = style & ST.number ? 'numeric' : 'text';
        const limit = num(c.maxLength, num(c.limit));
        if (limit > 0) input.maxLength = limit; else input.removeAttribute('maxlength');
        if (style & ST.password) syncPassword(view, cv, input, c.filled !== false);
        else syncValue(view, cv, input, text);
        break;
      }
      case 'listbox': {
        const items = (Array.isArray(c.items) ? c.items : []).map((i) => (typeof i === 'string' ? i : str(i && i.text)));
        const sel = num(c.selected, num(c.curSel, -1));
        cv.count = items.length;
        cv.sel = sel;
        cv.root.tabIndex = enabled ? 0 : -1;
        syncRows(cv.root, items.length, () => el('div', 'item'), (row, i) => {
          setText(row, items[i]);
          row.dataset.index = i;
          toggle(row, 'sel', i === sel);
        });
        break;
      }
      case 'combobox': {
        cv.items = (Array.isArray(c.items) ? c.items : []).map((i) => (typeof i === 'string' ? i : str(i && i.text)));
        cv.sel = num(c.selected, num(c.curSel, -1));
        cv.input.disabled = !enabled;
        cv.drop.disabled = !enabled;
        const limit = num(c.maxLength, num(c.limit));
        if (limit > 0) cv.input.maxLength = limit; else cv.input.removeAttribute('maxlength');
        syncValue(view, cv, cv.input, text);
        break;
      }
      case 'treeview': updateTree(cv, c, enabled, style, c.styles !== undefined || c.style !== undefined); break;
      case 'listview': updateListView(cv, c, enabled, style); break;
      case 'bitmap': case 'icon': {
        const res = num(c.resource);
        if (cv.res !== res) { cv.res = res; cv.root.replaceChildren(cv.kind === 'bitmap' ? bitmapSvg(res) : meterSvg(0)); }
        break;
      }
      default: {
        setMnemonic(cv.root, text);
        toggle(cv.root, 'oneline', h < 24 && !text.includes('\n'));
        toggle(cv.root, 'center', style & ST.center);
        toggle(cv.root, 'right', style & ST.right);
      }
    }
  }

  function drawCheck(cv) {
    cv.root.setAttribute('aria-checked', cv.checked ? 'true' : 'false');
    const has = !!cv.box.firstChild;
    if (cv.checked && !has) cv.box.appendChild(checkMark());
    if (!cv.checked && has) cv.box.replaceChildren();
  }

  function syncRows(container, count, make, update) {
    while (container.children.length > count) container.lastChild.remove();
    while (container.children.length < count) container.appendChild(make());
    for (let i = 0; i < count; i++) update(container.children[i], i);
  }

  function openComboList(view, cv) {
    document.querySelectorAll('.combolist').forEach((c) => c.remove());
    if (cv.input.disabled || !cv.items) return;
    const list = el('div', 'combolist');
    cv.items.forEach((text, index) => {
      const row = el('div', 'item', text);
      toggle(row, 'sel', index === cv.sel);
      row.addEventListener('mousedown', (e) => {
        e.preventDefault();
        list.remove();
        cv.input.value = text;
        cv.typed = false;
        post({ type: 'comboSelect', window: view.id, control: cv.id, index });
        cv.input.focus();
      });
      list.appendChild(row);
    });
    list.style.left = cv.root.offsetLeft + 'px';
    list.style.top = (cv.root.offsetTop + cv.root.offsetHeight) + 'px';
    list.style.width = cv.root.offsetWidth + 'px';
    view.client.appendChild(list);
  }

  // Tree nodes arrive as nested objects; the item handle is what input names.
  const nodeId = (n) => num(n.item, num(n.handle, num(n.id)));
  const nodeKids = (n) => (Array.isArray(n.children) ? n.children : []);
  function updateTree(cv, c, enabled, style, styled) {
    const roots = Array.isArray(c.tree) ? c.tree : Array.isArray(c.roots) ? c.roots : Array.isArray(c.nodes) ? c.nodes : Array.isArray(c.items) ? c.items : [];
    const sel = num(c.selected, num(c.selection, num(c.treeSel, 0)));
    cv.sel = sel;
    cv.root.tabIndex = enabled ? 0 : -1;
    toggle(cv.root, 'lines', style & ST.haslines || !styled);
    toggle(cv.root, 'nolinesatroot', styled && !(style & ST.linesatroot));
    const buttons = !!(style & ST.hasbuttons) || !styled;
    const fill = (ul, nodes) => {
      syncRows(ul, nodes.length, () => {
        const li = el('li');
        const row = el('div', 'row');
        row.appendChild(el('span', 'label'));
        li.appendChild(row);
        return li;
      }, (li, i) => {
        const n = nodes[i];
        const kids = nodeKids(n);
        li.dataset.item = nodeId(n);
        const label = li.querySelector(':scope > .row > .label');
        setText(label, str(n.text));
        toggle(label, 'sel', nodeId(n) === sel && sel !== 0);
        toggle(li, 'collapsed', kids.length > 0 && !n.expanded);
        let exp = li.querySelector(':scope > .exp');
        if (kids.length && buttons) {
          if (!exp) { exp = el('span', 'exp'); li.insertBefore(exp, li.firstChild); }
          toggle(exp, 'plus', !n.expanded);
        } else if (exp) exp.remove();
        let sub = li.querySelector(':scope > ul');
        if (kids.length) {
          if (!sub) { sub = el('ul'); li.appendChild(sub); }
          fill(sub, kids);
        } else if (sub) sub.remove();
      });
    };
    fill(cv.list, roots);
  }
  function treeKey(e, view, cv) {
    const labels = [...cv.root.querySelectorAll('li')].filter((li) => !li.parentElement.closest('li.collapsed'));
    const cur = labels.findIndex((li) => +li.dataset.item === cv.sel);
    const send = (li) => { if (li) { cv.sel = +li.dataset.item; post({ type: 'treeSelect', window: view.id, control: cv.id, index: cv.sel }); } };
    const li = labels[cur];
    if (e.key === 'ArrowDown') { e.preventDefault(); send(labels[Math.min(labels.length - 1, cur + 1)]); }
    else if (e.key === 'ArrowUp') { e.preventDefault(); send(labels[Math.max(0, cur - 1)]); }
    else if ((e.key === 'ArrowRight' || e.key === 'ArrowLeft') && li && li.querySelector(':scope > ul')) {
      e.preventDefault();
      const expand = e.key === 'ArrowRight';
      if (expand === li.classList.contains('collapsed')) post({ type: 'treeExpand', window: view.id, control: cv.id, index: +li.dataset.item, flag: expand });
    }
  }

  function updateListView(cv, c, enabled, style) {
    const columns = Array.isArray(c.columns) ? c.columns : [];
    const rows = Array.isArray(c.rows) ? c.rows : [];
    const images = Array.isArray(c.images) ? c.images : [];
    const sel = num(c.selected, num(c.rowSel, -1));
    cv.count = rows.length;
    cv.sel = sel;
    cv.root.tabIndex = enabled ? 0 : -1;
    const colKey = JSON.stringify(columns);
    if (cv.colKey !== colKey) {
      cv.colKey = colKey;
      cv.head.replaceChildren();
      let total = 0;
      for (const col of columns) {
        const th = el('th', null, str(col.header != null ? col.header : col.text));
        const wpx = num(col.width, num(col.widthPx, 60));
        th.style.width = wpx + 'px';
        total += wpx;
        cv.head.appendChild(th);
      }
      cv.table.style.width = total + 'px';
    }
    cv.root.classList.toggle('nosortheader', !!(style & ST.nosortheader));
    syncRows(cv.body, rows.length, () => el('tr'), (tr, i) => {
      const r = rows[i];
      const cells = Array.isArray(r.cells) ? r.cells : [str(r.text)];
      const image = num(r.image, -1);
      const key = JSON.stringify([cells, image]);
      tr.dataset.index = i;
      toggle(tr, 'sel', i === sel);
      if (tr._key === key) return;
      tr._key = key;
      tr.replaceChildren();
      for (let k = 0; k < Math.max(columns.length, 1); k++) {
        const td = el('td', k === 0 ? 'txt img' : 'txt');
        if (k === 0 && image >= 0) {
          const wrap = el('div');
          wrap.style.display = 'flex';
          wrap.style.gap = '2px';
          wrap.appendChild(imageSvg(num(r.imageResource, num(images[image], image))));
          if (cells[0]) wrap.appendChild(el('span', null, str(cells[0])));
          td.appendChild(wrap);
        } else {
          td.appendChild(el('span', null, str(cells[k])));
          if (cells[k]) td.title = str(cells[k]); // the whole text where the column cuts it
        }
        tr.appendChild(td);
      }
    });
  }

  // ---------------------------------------------------------------- message box
  function makeMessageBox(view) {
    view.body = el('div', 'body');
    view.iconBox = el('div', 'icon');
    view.text = el('div', 'text');
    view.body.append(view.iconBox, view.text);
    view.buttons = el('div', 'buttons');
    view.root.append(view.body, view.buttons);
  }
  function mbButtons(type) {
    switch (type & 0xf) {
      case 1: return [['OK', IDOK], ['Cancel', IDCANCEL]];
      case 3: return [['&Yes', IDYES], ['&No', IDNO], ['Cancel', IDCANCEL]];
      case 4: return [['&Yes', IDYES], ['&No', IDNO]];
      default: return [['OK', IDOK]];
    }
  }
  const ICON_BITS = { error: 0x10, question: 0x20, warning: 0x30, information: 0x40 };
  function boxButtons(w) {
    const mb = w.messageBox || {};
    if (Array.isArray(mb.buttons) && mb.buttons.length) return mb.buttons.map((b) => [str(b.text), num(b.id)]);
    return mbButtons(num(w.type, num(w.mbType)));
  }
  function answerCancel(view) {
    const b = boxButtons(view.w);
    if (b.some(([, v]) => v === IDCANCEL)) post({ type: 'messageBoxAnswer', window: view.id, control: IDCANCEL });
    else if (b.length === 1) post({ type: 'messageBoxAnswer', window: view.id, control: b[0][1] });
  }
  function updateMessageBox(view, w) {
    const mb = w.messageBox || {};
    const type = mb.icon !== undefined ? ICON_BITS[mb.icon] || 0 : num(w.type, num(w.mbType));
    setText(view.text, str(mb.text !== undefined ? mb.text : w.text));
    const buttons = boxButtons(w);
    const key = JSON.stringify([type, buttons]);
    if (view.type !== key) {
      view.type = key;
      const icon = msgIconSvg(type);
      view.iconBox.replaceChildren(...(icon ? [icon] : []));
      view.iconBox.hidden = !icon;
      view.buttons.replaceChildren();
      for (const [label, value] of buttons) {
        const b = el('button');
        const l = el('span', 'lbl');
        setMnemonic(l, label);
        b.appendChild(l);
        b.dataset.answer = value;
        b.addEventListener('click', () => post({ type: 'messageBoxAnswer', window: view.id, control: value }));
        view.buttons.appendChild(b);
      }
    }
  }

  // ---------------------------------------------------------------- open-file dialog
  function joinPath(dir, name) {
    if (name.startsWith('/')) return name;
    return (dir.endsWith('/') ? dir : dir + '/') + name;
  }
  function makeOpenFile(view) {
    const pane = el('div', 'pane');
    view.lookin = el('div', 'lookin sunken');
    view.files = el('div', 'files sunken');
    view.files.tabIndex = 0;
    view.name = el('input', 'edit sunken');
    view.name.spellcheck = false;
    view.filter = el('div', 'lookin sunken');
    view.error = el('div', 'error');
    const l1 = el('label', null); setMnemonic(l1, 'Look &in:');
    const l2 = el('label', null); setMnemonic(l2, 'File &name:');
    const l3 = el('label', null); setMnemonic(l3, 'Files of &type:');
    pane.append(l1, view.lookin, view.files, l2, view.name, l3, view.filter, view.error);
    view.buttons = el('div', 'buttons');
    view.ok = el('button', 'default'); view.ok.appendChild(mnemonic('&Open'));
    view.cancel = el('button', null, 'Cancel');
    view.buttons.append(view.ok, view.cancel);
    view.root.append(pane, view.buttons);
    const open = (entry) => {
      if (entry.isDir) post({ type: 'openFileBrowse', window: view.id, text: joinPath(view.dir, entry.name) });
      else post({ type: 'openFileChoose', window: view.id, text: entry.name });
    };
    view.files.addEventListener('mousedown', (e) => {
      const row = e.target.closest('.item');
      if (!row) return;
      const entry = view.entries[+row.dataset.index];
      markSel(view.files, '.item', +row.dataset.index);
      if (!entry.isDir) view.name.value = entry.name;
    });
    view.files.addEventListener('dblclick', (e) => {
      const row = e.target.closest('.item');
      if (row) open(view.entries[+row.dataset.index]);
    });
    view.ok.addEventListener('click', () => {
      const name = view.name.value.trim();
      if (!name) {
        const sel = view.files.querySelector('.item.sel');
        if (sel) open(view.entries[+sel.dataset.index]);
        return;
      }
      const entry = view.entries.find((en) => en.name === name);
      if (entry) open(entry);
      else post({ type: 'openFileChoose', window: view.id, text: name });
    });
    view.cancel.addEventListener('click', () => post({ type: 'openFileCancel', window: view.id }));
  }
  function updateOpenFile(view, w) {
    const of = w.openFile || w;
    view.dir = str(of.dir);
    view.entries = (Array.isArray(of.entries) ? of.entries : []).map((e) => ({ name: str(e.name), isDir: !!(e.isDir || e.dir) }));
    if (view.dir !== '/' && !view.entries.some((e) => e.name === '..')) view.entries.unshift({ name: '..', isDir: true });
    setText(view.lookin, view.dir);
    const desc = str(of.filterDescription), pat = str(of.filterPattern);
    setText(view.filter, desc ? `${desc} (${pat})` : pat || 'All files');
    setText(view.error, str(of.error));
    view.error.hidden = !of.error;
    const key = JSON.stringify([view.dir, view.entries]);
    if (view.key !== key) {
      view.key = key;
      syncRows(view.files, view.entries.length, () => el('div', 'item'), (row, i) => {
        const e = view.entries[i];
        row.replaceChildren(e.isDir ? folderSvg() : fileSvg(), el('span', null, e.name));
        row.dataset.index = i;
        row.classList.remove('sel');
      });
      view.files.scrollTop = 0;
    }
  }

  // ---------------------------------------------------------------- text editor
  function makeEditor(view) {
    view.area = el('textarea', 'edit sunken');
    view.area.spellcheck = false;
    view.area.addEventListener('input', () => { view.dirty = true; });
    view.error = el('div', 'error');
    view.buttons = el('div', 'buttons');
    view.save = el('button'); view.save.appendChild(mnemonic('&Save'));
    view.close = el('button'); view.close.appendChild(mnemonic('&Close'));
    view.buttons.append(view.save, view.close);
    view.root.append(view.area, view.error, view.buttons);
    view.save.addEventListener('click', () => {
      view.dirty = false;
      post({ type: 'editorSave', window: view.id, text: view.area.value });
    });
    view.close.addEventListener('click', () => post({ type: 'editorClose', window: view.id }));
    view.area.addEventListener('keydown', (e) => {
      if (e.key === 's' && e.ctrlKey) { e.preventDefault(); view.save.click(); }
    });
  }
  function updateEditor(view, w) {
    const ed = w.editor || w;
    // A text area holds its line ends as LF; the file's CR LF are not a change.
    const text = str(ed.text != null ? ed.text : ed.saved).replace(/\r\n?/g, '\n');
    if (!view.dirty && view.area.value !== text) view.area.value = text;
    setText(view.error, str(ed.error));
    view.error.hidden = !ed.error;
    if (!w.title) setText(view.title, str(ed.file).split('/').pop() + ' - Notepad');
  }

  // ---------------------------------------------------------------- splash and tray
  let splashView = null;
  const splashShown = (state) => !!(state.splash && (state.splash.visible !== false) && state.splash.text != null);
  function renderSplash(state) {
    if (!splashShown(state)) { if (splashView) { splashView.remove(); splashView = null; } return; }
    if (!splashView) {
      splashView = el('div', 'window shadowed splash');
      const pic = el('div', 'pic');
      pic.appendChild(bitmapSvg(106));
      pic.appendChild(el('div', 'line'));
      splashView.appendChild(pic);
      desktop.appendChild(splashView);
    }
    setText(splashView.querySelector('.line'), str(state.splash.text));
    splashView.style.left = Math.max(0, (desktop.clientWidth - splashView.offsetWidth) / 2) + 'px';
    splashView.style.top = Math.max(0, (desktop.clientHeight - splashView.offsetHeight) / 2) + 'px';
  }

  let trayLevel = null;
  let trayBig = null;
  function renderTray(state, onlyTray) {
    const tray = state.tray || {};
    const present = tray.present !== false && (tray.present || tray.tip != null || tray.level != null);
    const level = num(tray.level, num(tray.iconLevel));
    const tip = str(tray.tip);
    const trayEl = document.getElementById('tray');
    trayEl.hidden = !present;
    trayEl.title = tip;
    setText(document.getElementById('tray-tip'), tip);
    if (trayLevel !== level || !document.getElementById('tray-icon').firstChild) {
      trayLevel = level;
      document.getElementById('tray-icon').replaceChildren(meterSvg(level));
      document.getElementById('favicon').href = meterDataUri(level);
      if (trayBig) trayBig.querySelector('.pic').replaceChildren(meterSvg(level));
    }
    const main = windowsOf(state).find((w) => w.menu);
    document.title = present && tip ? tip : main ? str(main.title) : 'Ossivane BBS';
    if (onlyTray && present) {
      if (!trayBig) {
        trayBig = el('div');
        trayBig.id = 'traybig';
        const pic = el('div', 'pic');
        pic.appendChild(meterSvg(level));
        trayBig.append(pic, el('div', 'tip'));
        trayBig.title = 'Double-click to show the window';
        trayBig.addEventListener('dblclick', () => post({ type: 'trayDoubleClick' }));
        desktop.appendChild(trayBig);
      }
      setText(trayBig.querySelector('.tip'), tip);
    } else if (trayBig) { trayBig.remove(); trayBig = null; }
  }
  // Keys pressed while nothing has the focus go to the top window.
  document.addEventListener('keydown', (e) => {
    const view = lastTop != null ? views.get(lastTop) : null;
    if (view && (e.target === document.body || e.target === document.documentElement) && !view.root.inert) onWindowKey(view, e);
  });
  document.getElementById('tray').addEventListener('dblclick', () => post({ type: 'trayDoubleClick' }));
  addEventListener('resize', () => { if (current) render(); });

  setConnected(false);
  setText(document.getElementById('status-text'), 'Connecting...');
  listen();
  refetch();
})();
