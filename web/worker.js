// Runs the engine (zelp.js + zelp.wasm) off the page's thread: reads each
// file the page sends into the engine's memory, calls it, and posts the
// outcome back. Nothing is sent anywhere else.
'use strict';
importScripts('zelp.js');

const PHASES = { 1: 'crc', 2: 'records', 4: 'compare', 5: 'sums' };
const CHUNK = 8 << 20;  // bytes between progress reports
const PIECE = 4 << 20;  // bytes the browser reads into one buffer of ours

function start() {
  return ZelpModule({
    onProgress: (phase, done, total) =>
      postMessage({ type: 'progress', phase: PHASES[phase] || 'work', done, total }),
  });
}
const ready = start();

// A failure the page explains: its words in English and Chinese.
class PageError extends Error {
  constructor(en, zh) {
    super(en);
    this.words = [en, zh || en];
  }
}

// The engine's text `which`; the explanations (4, 5, 6) in both languages,
// [English, Chinese].
function text(M, which) {
  return M.UTF8ToString(M._zelp_text(which, 0) >>> 0);
}
function both(M, which) {
  return [0, 1].map((l) => M.UTF8ToString(M._zelp_text(which, l) >>> 0));
}

function tooLarge(M, name, size) {
  if (withString(M, name, (n) => M._zelp_too_large(size, n))) {
    const [en, zh] = both(M, 5);
    throw new PageError(en, zh);
  }
}

// The browser's pieces of a file, in order. Where the file's stream takes
// buffers of ours (a byte stream), two buffers of PIECE bytes go round: the
// browser fills one while the other is copied out, and no piece is allocated
// anew. Elsewhere, the pieces the browser allocates.
async function* pieces(file) {
  let reader;
  let ours = true;
  try {
    reader = file.stream().getReader({ mode: 'byob' });
  } catch (err) {
    reader = file.stream().getReader();
    ours = false;
  }
  try {
    if (!ours) {
      for (;;) {
        const { done, value } = await reader.read();
        if (done) return;
        yield value;
      }
    }
    // A failed read rejects both reads; the first one is awaited.
    const fill = (buffer) => {
      const read = reader.read(new Uint8Array(buffer));
      read.catch(() => {});
      return read;
    };
    let next = fill(new ArrayBuffer(PIECE));
    let after = fill(new ArrayBuffer(PIECE));
    for (;;) {
      const { done, value } = await next;
      if (done) return;
      yield value;
      // Copied out: the buffer goes back to the browser.
      next = after;
      after = fill(value.buffer);
    }
  } finally {
    reader.cancel().catch(() => {});
  }
}

// What the page calls a file in its messages, [English, Chinese].
const named = {
  patch: (n) => ["the patch '" + n + "'", "补丁“" + n + "”"],
  target: (n) => ["'" + n + "'", "“" + n + "”"],
  original: (n) => ["the original '" + n + "'", "原文件“" + n + "”"],
  modified: (n) => ["the modified file '" + n + "'", "修改后的文件“" + n + "”"],
  stub: () => ['the dialog program', '补丁程序'],
};

// Copies `file` (a File or an ArrayBuffer) into memory from zelp_alloc;
// the engine takes the buffer over. Each piece is copied once, straight to
// its place; the heap view is taken afresh for each, as growing the heap
// detaches the old one. With `hashFrom` (a byte offset: past a copier
// header), the CRC-32 of the bytes from there is taken piece by piece as
// they arrive (zelp_hash_*), while the browser reads on. `what` names
// the file, [English, Chinese].
async function readInto(M, file, what, hashFrom) {
  const size = file.size !== undefined ? file.size : file.byteLength;
  tooLarge(M, file.name || what[0], size);
  const ptr = M._zelp_alloc(size) >>> 0;
  if (!ptr) {
    throw new PageError('the browser would not give this page enough memory for ' + what[0],
                        '浏览器没有给本页足够的内存来读取' + what[1]);
  }
  if (file instanceof ArrayBuffer) {
    M.HEAPU8.set(new Uint8Array(file), ptr);
    return { ptr, size };
  }
  let at = 0;
  let hashMs = 0;
  let reported = 0;
  const hash = hashFrom !== undefined;
  if (hash) M._zelp_hash_begin(0);
  try {
    for await (const value of pieces(file)) {
      if (at + value.length > size) {
        throw new PageError(what[0] + ' changed while it was read', what[1] + '在读取时被改动了');
      }
      M.HEAPU8.set(value, ptr + at);
      const from = Math.max(at, hashFrom);
      if (hash && from < at + value.length) {
        const t = performance.now();
        M._zelp_hash_update(ptr + from, at + value.length - from);
        hashMs += performance.now() - t;
      }
      at += value.length;
      if (at - reported >= CHUNK || at === size) {
        reported = at;
        postMessage({ type: 'progress', phase: 'read', done: at, total: size });
      }
    }
    if (at !== size) throw new PageError(what[0] + ' could not be read whole', '无法完整读取' + what[1]);
  } catch (err) {
    M._zelp_free(ptr);
    throw err;
  }
  return { ptr, size, hashMs };
}

// Copies the engine's result into a Blob (the download) and, unless asked
// to keep it, frees it.
function takeResult(M, keep) {
  const ptr = M._zelp_result_data() >>> 0;
  const size = M._zelp_result_size();
  const blob = new Blob([M.HEAPU8.subarray(ptr, ptr + size)], { type: 'application/octet-stream' });
  if (!keep) M._zelp_result_free();
  return blob;
}

function withString(M, s, fn) {
  const ptr = M._malloc(M.lengthBytesUTF8(s) + 1) >>> 0;
  M.stringToUTF8(s, ptr, M.lengthBytesUTF8(s) + 1);
  try {
    return fn(ptr);
  } finally {
    M._free(ptr);
  }
}

const ops = {
  async patch(M, msg) {
    const f = await readInto(M, msg.file, named.patch(msg.file.name));
    const code = withString(M, msg.file.name, (name) => M._zelp_load_patch(f.ptr, f.size, name));
    return {
      type: 'patch', code, caption: text(M, 0), summary: text(M, 1), description: text(M, 2),
      message: text(M, 3), explanation: both(M, 4), error: both(M, 5), summaryLine: both(M, 6),
    };
  },

  async apply(M, msg) {
    const t0 = performance.now();
    const f = await readInto(M, msg.file, named.target(msg.file.name), msg.header ? 512 : 0);
    const t1 = performance.now();
    const code = withString(M, msg.file.name,
                            (name) => M._zelp_apply(f.ptr, f.size, name, msg.header ? 1 : 0));
    const t2 = performance.now();
    const out = {
      type: 'applied', code, message: text(M, 3), explanation: both(M, 4), error: both(M, 5),
      fileSums: both(M, 7), id: msg.id,
    };
    if (code === 0) {
      out.blob = takeResult(M, true);
      // The result's checksums once the download is offered.
      out.after = () => {
        M._zelp_result_sums(msg.header ? 1 : 0);
        const resultSums = both(M, 8);
        M._zelp_result_free();
        postMessage({ type: 'sums', id: msg.id, resultSums, ms: M._zelp_timing(2) });
      };
    }
    const t3 = performance.now();
    out.timings = {
      read: t1 - t0 - f.hashMs, crc: M._zelp_timing(0), records: M._zelp_timing(1),
      download: t3 - t2,
    };
    return out;
  },

  // In the page's second worker: the three checksums of the chosen file
  // past `skip` bytes, off the path to the download. The file is read in
  // pieces through one buffer of PIECE bytes in the engine's memory, so a
  // file of any size costs no more. A newer request stops it: nothing is
  // answered for a file no longer chosen.
  async sums(M, msg) {
    const t0 = performance.now();
    const buffer = M._zelp_alloc(PIECE) >>> 0;
    if (!buffer) {
      throw new PageError('the browser would not give this page the memory for the checksums',
                          '浏览器没有给本页计算校验和所需的内存');
    }
    const out = { type: 'sums', id: msg.id, fileSums: ['', ''] };
    let at = 0;
    let failed = null;  // the browser's reason, when it could not read the file
    M._zelp_hash_begin(1);
    try {
      for await (const value of pieces(msg.file)) {
        if (msg.id !== latestSums) return null;
        // The browser's own pieces may be larger than ours.
        for (let i = 0; i < value.length; i += PIECE) {
          const part = value.subarray(i, i + PIECE);
          const from = Math.max(at, msg.skip) - at;
          if (from < part.length) {
            M.HEAPU8.set(part.subarray(from), buffer);
            M._zelp_hash_update(buffer, part.length - from);
          }
          at += part.length;
        }
      }
    } catch (err) {
      failed = String(err);
    } finally {
      M._zelp_free(buffer);
    }
    if (!failed && at < msg.skip) return out;  // shorter than its header: the apply says why
    if (!failed && at === msg.file.size && M._zelp_hash_sums(msg.skip ? 1 : 0)) {
      out.fileSums = both(M, 7);
    } else {
      const why = failed ? ' (' + failed + ')' : '';
      out.fileSums = ['The MD5 and SHA-1 of this file could not be computed' + why + '.',
                      '无法计算这个文件的 MD5 和 SHA-1' + why + '。'];
    }
    out.ms = performance.now() - t0;
    out.hashMs = M._zelp_timing(2);
    return out;
  },

  // Stops the second worker's checksums (the apply failed).
  stop() {
    return null;
  },

  async create(M, msg) {
    tooLarge(M, msg.original.name, msg.original.size);
    tooLarge(M, msg.modified.name || 'patched', msg.modified.size);
    // Until the engine takes them over, the buffers are ours to free.
    const held = [];
    let original, modified, stub = { ptr: 0, size: 0 };
    let description = 0;
    let descriptionSize = 0;
    try {
      original = await readInto(M, msg.original, named.original(msg.original.name));
      held.push(original.ptr);
      modified = await readInto(M, msg.modified, named.modified(msg.modified.name || 'patched'));
      held.push(modified.ptr);
      if (msg.stub) {
        stub = await readInto(M, msg.stub, named.stub());
        held.push(stub.ptr);
      }
      if (msg.description !== null) {
        const bytes = typeof msg.description === 'string'
          ? new TextEncoder().encode(msg.description) : new Uint8Array(msg.description);
        descriptionSize = bytes.length;
        description = M._zelp_alloc(bytes.length) >>> 0;
        if (!description) {
          throw new PageError('the browser would not give this page enough memory',
                              '浏览器没有给本页足够的内存');
        }
        M.HEAPU8.set(bytes, description);
      }
    } catch (err) {
      held.forEach((p) => M._zelp_free(p));
      throw err;
    }
    const code = withString(M, msg.descriptionName || '', (name) =>
      M._zelp_create(original.ptr, original.size, modified.ptr, modified.size, description,
                     descriptionSize, name, stub.ptr, stub.size, 1, msg.format || 1));
    if (description) M._zelp_free(description);
    const out = { type: 'created', code, explanation: both(M, 4), error: both(M, 5) };
    if (code === 0) out.blob = takeResult(M);
    return out;
  },
};

// Makes the memory for the file to patch ready (see zelp_prepare_begin in
// glue.cpp) a step at a time, off the queue: an operation asked meanwhile
// stops it and goes first.
const PREPARE_STEP = 16 << 20;
let preparing = 0;  // the latest run's number: a run goes on while it is the latest
async function prepareMemory(M) {
  const run = ++preparing;
  if (!M._zelp_prepare_begin()) return;
  while (run === preparing && M._zelp_prepare_step(PREPARE_STEP)) {
    await new Promise((resume) => setTimeout(resume, 0));
  }
  if (run === preparing) stopPreparing(M);
}
function stopPreparing(M) {
  preparing++;
  M._zelp_prepare_end();
}

// One operation at a time, in the order asked: they share the engine's state.
// After an unexpected failure (the engine out of memory) it starts afresh.
let queue = ready;
let latestSums = 0;  // the latest checksums asked for: older ones stop
onmessage = (e) => {
  if (e.data.op === 'sums' || e.data.op === 'stop') latestSums = e.data.id;
  queue = queue.then(async (M) => {
    try {
      stopPreparing(M);
      const out = await ops[e.data.op](M, e.data);
      if (!out) return M;
      const after = out.after;
      delete out.after;
      postMessage(out);
      if (after) {
        try {
          after();
        } catch (err) {
          // Answered already: this failure is the checksums' alone, and the engine starts afresh.
          postMessage({ type: 'sums', id: e.data.id,
                        resultSums: ["The result's checksums could not be computed (" + err + ').',
                                     '无法计算结果的校验和（' + err + '）。'] });
          return start();
        }
      }
      // The page is answered; the file to patch comes next.
      if (out.type === 'patch' && out.code === 1) prepareMemory(M).catch(() => {});
      return M;
    } catch (err) {
      if (err instanceof PageError) {
        postMessage({ type: 'error', op: e.data.op, id: e.data.id, error: err.words });
        return M;
      }
      postMessage({ type: 'error', op: e.data.op, id: e.data.id, restarted: true,
                    error: ['the page failed unexpectedly (' + err + '); it has started afresh: ' +
                            'choose the patch again. A file this large may need the zelp command.',
                            '本页意外出错（' + err + '），已重新开始：请重新选择补丁。' +
                            '这么大的文件可能需要用 zelp 命令。'] });
      return start();
    }
  });
};

ready.then(() => postMessage({ type: 'ready' }),
           (err) => postMessage({ type: 'error', op: 'load',
                                  error: ['the page could not start its engine: ' + err,
                                          '本页无法启动打补丁引擎：' + err] }));
