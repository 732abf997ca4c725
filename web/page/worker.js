// The page's worker: it holds the core (compiled to WebAssembly, its binary inlined as WASM_BASE64
// before this script) and answers the page's requests one at a time, so that hashing never stops
// the page. A build is hashed piece by piece, with the worker's messages read between pieces: a
// cancel is heard within one hash.
"use strict";

const encoder = new TextEncoder();
let core = null;
const queue = [];
let busy = false;
let cancelRequested = false;
let texts = {};  // the core's texts that the page words itself, by their names

function decodeBase64(text) {
  const bytes = atob(text);
  const out = new Uint8Array(bytes.length);
  for (let i = 0; i < bytes.length; ++i) out[i] = bytes.charCodeAt(i);
  return out;
}

const ready = VasteloCore({
  wasmBinary: decodeBase64(WASM_BASE64),
  print: () => {},
  printErr: () => {},
}).then((module) => {
  core = module;
  texts = answer(core._vw_texts());
});

// Runs `fn` with each of `values` (strings or bytes) copied into the core's memory as (pointer,
// length) pairs.
function withBytes(values, fn) {
  const pointers = [];
  const args = [];
  try {
    for (const value of values) {
      const bytes = typeof value === "string" ? encoder.encode(value) : value;
      const pointer = core._malloc(Math.max(bytes.length, 1));
      pointers.push(pointer);
      core.HEAPU8.set(bytes, pointer);
      args.push(pointer, bytes.length);
    }
    return fn(...args);
  } finally {
    for (const pointer of pointers) core._free(pointer);
  }
}

const answer = (pointer) => JSON.parse(core.UTF8ToString(pointer));

const operations = {
  texts: () => texts,
  settings: ({ format, cost, rounds, utf8 }) => answer(core._vw_set_settings(format, cost, rounds, utf8 ? 1 : 0)),
  auth: ({ userFile, name }) => withBytes([userFile, name], (a, b, c, d) => answer(core._vw_set_auth(a, b, c, d))),
  load: ({ name, bytes, append }) =>
    withBytes([name, bytes], (a, b, c, d) => answer(core._vw_load(a, b, c, d, append ? 1 : 0))),
  open: ({ name, bytes, htaccess }) =>
    withBytes([name, bytes, htaccess || new Uint8Array()], (a, b, c, d, e, f) =>
      answer(core._vw_open(a, b, c, d, e, htaccess ? f : -1))),
  rows: () => answer(core._vw_rows()),
  setCell: ({ row, column, text }) => withBytes([text], (a, b) => answer(core._vw_set_cell(row, column, a, b))),
  addRow: () => answer(core._vw_add_row()),
  removeRow: ({ row }) => answer(core._vw_remove_row(row)),
  check: ({ user, password }) => withBytes([user, password], (a, b, c, d) => answer(core._vw_check(a, b, c, d))),
  planSave: () => {
    const plan = answer(core._vw_plan_save());
    if (!plan.ok) return plan;
    plan.files = plan.files.map((name, i) => {
      const pointer = core._vw_file_data(i);
      return { name, bytes: core.HEAPU8.slice(pointer, pointer + core._vw_file_size(i)) };
    });
    return plan;
  },
  saved: () => answer(core._vw_saved()),
  build: (request, reply) => {
    const started = answer(core._vw_build_start());
    if (!started.ok) return reply(started);
    const startTime = performance.now();
    cancelRequested = false;
    const channel = new MessageChannel();
    const step = () => {
      const sliceStart = performance.now();
      let done = 0;
      do {
        done = core._vw_build_step();
      } while (done >= 0 && !cancelRequested && performance.now() - sliceStart < 40);
      if (cancelRequested) {
        core._vw_build_cancel();
        channel.port1.close();
        return reply({ ok: false, cancelled: true });
      }
      if (done >= 0) {
        postMessage({ progress: done, total: started.total });
        channel.port2.postMessage(0);
        return undefined;
      }
      channel.port1.close();
      const result = answer(core._vw_build_finish());
      result.milliseconds = performance.now() - startTime;
      return reply(result);
    };
    channel.port1.onmessage = step;
    postMessage({ progress: 0, total: started.total });
    channel.port2.postMessage(0);
    return undefined;
  },
};

function next() {
  if (busy || queue.length === 0) return;
  busy = true;
  const { id, op, args } = queue.shift();
  const reply = (result) => {
    postMessage({ id, result });
    busy = false;
    next();
  };
  try {
    const result = operations[op](args || {}, reply);
    if (result !== undefined) reply(result);
  } catch (error) {
    reply({ ok: false, error: texts.SInternalError.replace("%s", () => String(error)) });
  }
}

onmessage = (event) => {
  if (event.data === "cancel") {
    cancelRequested = true;
    return;
  }
  ready.then(() => {
    queue.push(event.data);
    next();
  });
};
