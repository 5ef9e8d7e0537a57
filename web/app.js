// The page: two views over one worker that runs the engine. Plain DOM, no
// framework; nothing is fetched but the page's own files at load.
'use strict';

const $ = (id) => document.getElementById(id);
// A page opened as a file cannot start its worker: say how to open it.
let worker;
try {
  worker = new Worker('worker.js');
} catch (err) {
  document.querySelector('main').textContent =
    'This page must be opened from a web server (for example `make web-demo`), not as a file: ' +
    'the browser does not let a page opened as a file run its engine.';
  throw err;
}
// The chosen file's MD5 and SHA-1 come from a second worker running the same
// engine, so that they stay off the path to the download (and, with two
// cores or more, run beside it).
const sumsWorker = new Worker('worker.js');
let stubBytes = null;  // the dialog program "patch program for Windows" packs onto
const pending = [];   // callers waiting for the worker's answers, in order
const lastUrl = { apply: null, create: null, convert: null };
let lastApplied = null;  // the file and the result of the last good apply, for convert

// Timings of the last apply, in ms from the file's choice: to the download
// being ready, and to each set of checksums being shown (read by the
// browser benchmark once the download is ready).
window.zelpLast = null;
let applyTimes = {};
let applyStarted = 0;
const since = () => performance.now() - applyStarted;

// ---- language: the browser's, until the switch says otherwise ----
// Every explanation comes as [English, Chinese]; the program's own texts
// (the caption, the summary, its messages) are the same in both.
let lang = /^zh\b/i.test(navigator.language || '') ? 1 : 0;
const redo = [];  // what to show again in the other language
const T = (en, zh) => [en, zh];
const say = (words) => (Array.isArray(words) ? words[lang] : words || '');

function applyLanguage() {
  document.documentElement.lang = lang ? 'zh-CN' : 'en';
  $('lang-switch').textContent = lang ? 'English' : '中文';
  document.title = lang ? 'ZELP 补丁工具（浏览器版）' : 'ZELP patcher in the browser';
  for (const el of document.querySelectorAll('[data-zh]')) {
    if (el.dataset.en === undefined) el.dataset.en = el.textContent;
    el.textContent = lang ? el.dataset.zh : el.dataset.en;
  }
  for (const el of document.querySelectorAll('[data-zh-placeholder]')) {
    if (el.dataset.enPlaceholder === undefined) el.dataset.enPlaceholder = el.placeholder;
    el.placeholder = lang ? el.dataset.zhPlaceholder : el.dataset.enPlaceholder;
  }
  redo.forEach((f) => f());
}
$('lang-switch').addEventListener('click', () => {
  lang = 1 - lang;
  applyLanguage();
});

// ---- tabs (arrow keys move between them, as with any tab list) ----
const tabs = [$('tab-apply'), $('tab-create')];
function selectTab(tab) {
  for (const t of tabs) {
    const on = t === tab;
    t.setAttribute('aria-selected', on);
    t.tabIndex = on ? 0 : -1;
    $(t.getAttribute('aria-controls')).hidden = !on;
  }
  tab.focus();
}
tabs.forEach((t, i) => {
  t.addEventListener('click', () => selectTab(t));
  t.addEventListener('keydown', (e) => {
    if (e.key === 'ArrowRight' || e.key === 'ArrowLeft') {
      selectTab(tabs[(i + (e.key === 'ArrowRight' ? 1 : tabs.length - 1)) % tabs.length]);
      e.preventDefault();
    }
  });
});

// ---- drop zones: a drop fills the file input inside, as choosing would ----
// A file dropped anywhere else must not replace the page with the file.
window.addEventListener('dragover', (e) => e.preventDefault());
window.addEventListener('drop', (e) => e.preventDefault());
for (const zone of document.querySelectorAll('.drop')) {
  const input = zone.querySelector('input[type=file]');
  zone.addEventListener('dragover', (e) => {
    e.preventDefault();
    if (!input.disabled) zone.classList.add('over');
  });
  zone.addEventListener('dragleave', () => zone.classList.remove('over'));
  zone.addEventListener('drop', (e) => {
    e.preventDefault();
    zone.classList.remove('over');
    if (input.disabled || !e.dataTransfer.files.length) return;
    input.files = e.dataTransfer.files;
    input.dispatchEvent(new Event('change'));
  });
  input.addEventListener('change', () => {
    let shown = zone.querySelector('.chosen');
    if (!shown) {
      shown = document.createElement('span');
      shown.className = 'chosen';
      zone.appendChild(shown);
    }
    shown.textContent = input.files.length ? input.files[0].name : '';
  });
}

// ---- talking to the worker ----
function run(message, progressBox) {
  return new Promise((resolve) => {
    pending.push({ resolve, progressBox });
    worker.postMessage(message);
  });
}

const PHASE_WORDS = {
  read: T('Reading', '读取中'), crc: T('Checking the CRC-32', '校验CRC32'),
  records: T('Applying the records', '写入补丁数据'), compare: T('Comparing the files', '比较文件'),
  sums: T('Computing the checksums', '计算校验和'),
};

worker.onmessage = (e) => {
  const m = e.data;
  if (m.type === 'ready') {
    document.body.dataset.ready = 'true';
    return;
  }
  if (m.type === 'progress' && m.phase === 'read' && m.done === m.total) startSums();
  if (m.type === 'progress') {
    const box = pending.length && pending[0].progressBox;
    // Small files finish before a bar would mean anything.
    if (!box || m.total < (4 << 20)) return;
    box.hidden = false;
    box.dataset.seen = 'true';
    box.querySelector('progress').value = m.total ? m.done / m.total : 1;
    box.querySelector('span').textContent =
      say(PHASE_WORDS[m.phase] || T('Working', '处理中')) + ' ' +
      Math.floor((100 * m.done) / (m.total || 1)) + '%';
    return;
  }
  if (m.type === 'sums') {
    if (m.id === applyId) {
      showSums(sums['file-sums'], m.resultSums);
      Object.assign(applyTimes, { resultSumsAt: since(), resultSumsMs: m.ms });
    }
    return;
  }
  if (m.type === 'error' && m.op === 'load') {
    showStatus($('patch-status'), 'bad', '', m.error);
    return;
  }
  const p = pending.shift();
  if (p) {
    if (p.progressBox) p.progressBox.hidden = true;
    p.resolve(m);
  }
};

// ---- showing outcomes ----
// `report` is the program's own text (as its message box shows it), `words`
// the explanation ([English, Chinese]); either may be empty. Shown again in
// the other language when the switch is used.
function showStatus(box, kind, report, words) {
  box.className = 'status ' + kind;
  box.dataset.outcome = kind;
  box.show = () => {
    box.textContent = '';
    if (report) {
      const span = document.createElement('span');
      span.className = 'zh';
      span.lang = 'zh';
      span.textContent = report;
      box.appendChild(span);
    }
    const text = say(words);
    if (text) box.appendChild(document.createTextNode(text));
  };
  box.show();
}
for (const id of ['patch-status', 'apply-status', 'create-status']) {
  redo.push(() => $(id).show && $(id).show());
}
// Explanation lines joined, in both languages.
const joined = (...parts) =>
  [0, 1].map((l) => parts.map((p) => (Array.isArray(p) ? p[l] : p)).filter(Boolean).join('\n'));

function offer(link, which, blob, name) {
  if (lastUrl[which]) URL.revokeObjectURL(lastUrl[which]);
  lastUrl[which] = URL.createObjectURL(blob);
  link.href = lastUrl[which];
  link.download = name;
  link.show = () => {
    link.textContent = lang ? '下载“' + name + '”（' + blob.size.toLocaleString('en') + ' 字节）'
                            : 'Download “' + name + '” (' + blob.size.toLocaleString('en') + ' bytes)';
  };
  link.show();
  link.hidden = false;
}

for (const id of ['download', 'create-download']) redo.push(() => $(id).show && $(id).show());

function withdraw(link, which) {
  link.hidden = true;
  link.removeAttribute('href');
  if (lastUrl[which]) URL.revokeObjectURL(lastUrl[which]);
  lastUrl[which] = null;
}

// "game.sfc" -> "game (patched).sfc"; a name without extension gets the words
// at its end.
function patchedName(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) + ' (patched)' + name.slice(dot) : name + ' (patched)';
}

function baseName(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
}

// The checksums of the chosen file and of the result, [English, Chinese]
// each (from the engine); empty hides them. Each apply has its number,
// applyId; checksums for an older one are ignored. The file's CRC-32 comes
// with the apply's answer, all three from the second worker whenever they
// are done (before or after that answer); the result's in a message of
// their own after the download is offered.
let applyId = 0;
let fileSumsWanted = false;  // the second worker's checksums for applyId are still to show
const sums = { 'file-sums': ['', ''], 'result-sums': ['', ''] };
function showSums(fileSums, resultSums) {
  sums['file-sums'] = fileSums || ['', ''];
  sums['result-sums'] = resultSums || ['', ''];
  for (const id in sums) {
    $(id).textContent = say(sums[id]);
    $(id).hidden = !say(sums[id]);
  }
}
redo.push(() => showSums(sums['file-sums'], sums['result-sums']));

let sumsDown = null;  // why the second worker could not start, [English, Chinese]
// The second worker is asked once the first has read the file in: reading
// it at the same time, the two would share the disk and the browser's file
// reading, which delayed the download more than it sped up the checksums.
let sumsAsked = null;
function startSums() {
  if (sumsAsked) sumsWorker.postMessage(sumsAsked);
  sumsAsked = null;
}
sumsWorker.onmessage = (e) => {
  const m = e.data;
  if (m.type === 'error' && m.op === 'load') sumsDown = m.error;
  if (!fileSumsWanted || (m.id !== applyId && m.op !== 'load')) return;
  fileSumsWanted = false;
  showSums(m.type === 'error' ? m.error : m.fileSums, sums['result-sums']);
  Object.assign(applyTimes, { fileSumsAt: since(), fileSumsMs: m.ms, fileHashMs: m.hashMs });
};

// The summary as one line, in the page's language (from the engine).
let summaryLine = ['', ''];
redo.push(() => { $('summary-en').textContent = say(summaryLine); });

// ---- Apply ----
// The worker lost the patch (it started afresh): it must be chosen again.
function forgetPatch() {
  $('patch-info').hidden = true;
  $('patch-file').value = '';
  $('target-file').disabled = true;
  $('drop-target').setAttribute('aria-disabled', 'true');
}

$('patch-file').addEventListener('change', async () => {
  const file = $('patch-file').files[0];
  if (!file) return;
  const status = $('patch-status');
  $('patch-info').hidden = true;
  $('target-file').disabled = true;
  $('drop-target').setAttribute('aria-disabled', 'true');
  withdraw($('download'), 'apply');
  showStatus($('apply-status'), '', '', '');
  showStatus(status, '', '', T('Reading the patch…', '正在读取补丁…'));
  const m = await run({ op: 'patch', file });
  // 1: shown and ready; 2: shown, but damaged; anything else: not a patch.
  if (m.type === 'error' || (m.code !== 1 && m.code !== 2)) {
    showStatus(status, 'bad', m.message, say(m.error) ? m.error : m.explanation);
    return;
  }
  $('caption').textContent = m.caption;
  $('description').value = m.description;
  $('summary').textContent = m.summary;
  $('summary').hidden = !m.summary;  // IPS, UPS and BPS have no program's summary
  summaryLine = m.summaryLine;
  $('summary-en').textContent = say(summaryLine);
  $('patch-info').hidden = false;
  if (m.code === 2) {
    showStatus(status, 'bad', '', m.error);
    return;
  }
  showStatus(status, '', '', '');
  $('target-file').disabled = false;
  $('drop-target').removeAttribute('aria-disabled');
});

$('target-file').addEventListener('change', async () => {
  const file = $('target-file').files[0];
  if (!file) return;
  applyStarted = performance.now();
  applyTimes = {};
  const id = ++applyId;
  const status = $('apply-status');
  const link = $('download');
  withdraw(link, 'apply');
  showSums();
  showStatus(status, '', '', T('Patching a copy of “' + file.name + '” in memory…',
                              '正在内存中给“' + file.name + '”的副本打补丁…'));
  lastApplied = null;
  $('convert-offer').hidden = true;
  withdraw($('convert-download'), 'convert');
  showStatus($('convert-status'), '', '', '');
  const header = $('header-skip').checked;
  fileSumsWanted = !sumsDown;
  if (sumsDown) showSums(sumsDown);
  sumsAsked = sumsDown ? null : { op: 'sums', id, file, skip: header ? 512 : 0 };
  const m = await run({ op: 'apply', file, header, id }, $('apply-progress'));
  if (id !== applyId) return;  // a newer choice answers for itself
  if (m.type === 'error') {
    fileSumsWanted = false;
    sumsAsked = null;
    sumsWorker.postMessage({ op: 'stop', id });
    showSums();
    showStatus(status, 'bad', '', m.error);
    if (m.restarted) forgetPatch();
    return;
  }
  startSums();  // unless the last progress of its reading asked already
  // The file's CRC-32 until all three come, unless they came first.
  showSums(fileSumsWanted ? m.fileSums : sums['file-sums'],
           m.code === 0 ? T('The result: computing its checksums…', '结果：正在计算校验和…') : null);
  if (m.code !== 0) {
    // The page only ever works on a copy in memory.
    showStatus(status, 'bad', m.message,
               joined(m.explanation, m.error, T('Your file was not changed.', '你的文件没有被改动。')));
    return;
  }
  offer(link, 'apply', m.blob, patchedName(file.name));
  // A program is made of the file without a header (what the patch was made for).
  if (!header && stubBytes) {
    lastApplied = { file, blob: m.blob };
    $('convert-offer').hidden = false;
  }
  window.zelpLast = Object.assign(applyTimes, { total: since() }, m.timings);
  showStatus(status, 'good', m.message,
             T('Patching succeeded. Your file was not changed; download the patched copy below.',
               '补丁已打上。你的文件没有被改动；请在下面下载打好补丁的副本。'));
});

// ---- Convert: the loaded patch, applied, as a patch program ----
$('convert').addEventListener('click', async () => {
  if (!lastApplied) return;
  const { file, blob } = lastApplied;
  const status = $('convert-status');
  const link = $('convert-download');
  withdraw(link, 'convert');
  const text = $('description').value;
  showStatus(status, '', '', T('Making the patch program…', '正在制作补丁程序…'));
  const m = await run({
    op: 'create', original: file, modified: blob, description: text === '' ? null : text,
    descriptionName: '', stub: stubBytes.slice(0), format: 1,
  }, $('apply-progress'));
  if (m.type === 'error' || m.code !== 0) {
    showStatus(status, 'bad', '', m.error);
    return;
  }
  offer(link, 'convert', m.blob, baseName(file.name) + '-patch.exe');
  showStatus(status, 'good', '', m.explanation);
});

// ---- Create ----
// The dialog program is fetched with the page, so that nothing goes out later.
fetch('zelp-stub.exe').then((r) => (r.ok ? r.arrayBuffer() : null)).catch(() => null)
  .then((bytes) => {
    stubBytes = bytes;
    if (!bytes) {
      $('kind-exe').disabled = true;
      $('kind-bare').checked = true;
    }
  });

// A description file goes to the engine as it is (UTF-8, or UTF-16 with a
// byte order mark, as zelp create reads it); the box shows its text until
// the user types in it, which makes the typed text the description.
let descriptionFile = null;
$('description-file').addEventListener('change', async () => {
  const file = $('description-file').files[0];
  if (!file) return;
  const bytes = await file.arrayBuffer();
  descriptionFile = { name: file.name, bytes };
  const head = new Uint8Array(bytes.slice(0, 2));
  const encoding = head[0] === 0xFF && head[1] === 0xFE ? 'utf-16le'
                 : head[0] === 0xFE && head[1] === 0xFF ? 'utf-16be' : 'utf-8';
  $('create-description').value = new TextDecoder(encoding).decode(bytes);
});
$('create-description').addEventListener('input', () => {
  descriptionFile = null;
  $('description-file').value = '';
});

$('create').addEventListener('click', async () => {
  const original = $('original-file').files[0];
  const modified = $('modified-file').files[0];
  const status = $('create-status');
  const link = $('create-download');
  withdraw(link, 'create');
  if (!original || !modified) {
    showStatus(status, 'bad', '', T('Choose the original file and the modified file first.',
                                    '请先选择原文件和修改后的文件。'));
    return;
  }
  const exe = $('kind-exe').checked;
  // The engine's kinds: 1 ZELP, 2 IPS, 3 UPS, 4 BPS.
  const kind = document.querySelector('input[name="kind"]:checked').value;
  const format = { exe: 1, bare: 1, ips: 2, ups: 3, bps: 4 }[kind];
  if (exe && !stubBytes) {
    showStatus(status, 'bad', '', T('The dialog program beside this page (zelp-stub.exe) could ' +
                                    'not be loaded; choose "bare patch", or reload the page.',
                                    '无法载入本页旁边的补丁程序（zelp-stub.exe）；请选择“补丁文件”，或重新载入本页。'));
    return;
  }
  const text = $('create-description').value;
  const button = $('create');
  button.disabled = true;
  showStatus(status, '', '', T('Comparing the files…', '正在比较文件…'));
  const m = await run({
    op: 'create', original, modified,
    description: descriptionFile ? descriptionFile.bytes : text === '' ? null : text,
    descriptionName: descriptionFile ? descriptionFile.name : '',
    stub: exe ? stubBytes.slice(0) : null, format,
  }, $('create-progress'));
  button.disabled = false;
  if (m.type === 'error' || m.code !== 0) {
    showStatus(status, 'bad', '', m.error);
    return;
  }
  const name = baseName(original.name) +
    { exe: '-patch.exe', bare: '.zelp', ips: '.ips', ups: '.ups', bps: '.bps' }[kind];
  offer(link, 'create', m.blob, name);
  showStatus(status, 'good', '', m.explanation);
});

applyLanguage();
