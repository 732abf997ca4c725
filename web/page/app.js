// The page: the window's controls over the core, which runs in a worker of its own. Everything
// stays in this browser: files are read with the File API and saved as downloads or into a folder
// the user picks; the page's Content-Security-Policy forbids every request to anywhere.
"use strict";

const $ = (id) => document.getElementById(id);
const workerUrl = URL.createObjectURL(new Blob([$("WorkerSource").textContent], { type: "text/javascript" }));
const worker = new Worker(workerUrl);
const pending = new Map();
let nextId = 1;
let onProgress = null;

// The texts the page words itself, from the core's message table by their names, and one of them
// with its "%s" filled in order, as the core fills its messages.
const texts = {};
const said = (name, ...args) => texts[name].replace(/%[sd]/g, () => (args.length ? String(args.shift()) : ""));

// A failure inside the worker ends the requests under way, with the message it gave. Worded here:
// the worker that holds the core's texts is what failed.
worker.onerror = (event) => {
  event.preventDefault();
  showMessage(`内部エラー: ${event.message}`);
  for (const [id, resolve] of pending) {
    pending.delete(id);
    resolve({ ok: false });
  }
};

worker.onmessage = (event) => {
  const data = event.data;
  if (data.progress !== undefined) {
    if (onProgress) onProgress(data.progress, data.total);
    return;
  }
  const resolve = pending.get(data.id);
  pending.delete(data.id);
  resolve(data.result);
};

// Requests still unanswered, on the page for whoever waits for it to settle (the tests).
function call(op, args) {
  return new Promise((resolve) => {
    const id = nextId++;
    pending.set(id, (result) => {
      document.body.dataset.busy = String(pending.size);
      resolve(result);
    });
    document.body.dataset.busy = String(pending.size);
    worker.postMessage({ id, op, args });
  });
}

const PAGE_ROWS = 500;
const state = { rows: [], opened: false, canSave: false, built: false, first: 0, building: false };

function showMessage(text, info) {
  const box = $("Message");
  box.className = info ? "info" : "";
  box.textContent = text || "";
}

// Runs a request; a refusal is shown as the window shows its message box. True when it succeeded.
async function run(op, args) {
  const result = await call(op, args);
  if (!result.ok && result.error) showMessage(result.error);
  return result;
}

// The default strengths, as the core has them.
const strengthDefaults = {};

function settings() {
  return {
    format: Number($("HashFormat").value),
    cost: Number($("BcryptCost").value) || strengthDefaults.BcryptCost,
    rounds: Number($("Sha512Rounds").value) || strengthDefaults.Sha512Rounds,
    utf8: $("EncodingUtf8").checked,
  };
}

// The choices of 設定 are remembered between visits, as the window remembers them, in this
// browser's own storage (where it offers any).
const SETTINGS_KEY = "vastelo.settings";

function restoreSettings() {
  try {
    const saved = JSON.parse(localStorage.getItem(SETTINGS_KEY) || "null");
    if (!saved) return;
    $("HashFormat").value = String(saved.format);
    $("BcryptCost").value = String(saved.cost);
    $("Sha512Rounds").value = String(saved.rounds);
    $(saved.utf8 ? "EncodingUtf8" : "EncodingSjis").checked = true;
  } catch (error) {
    // No storage here, or something else in it: the defaults stand.
  }
}

async function applySettings() {
  try {
    localStorage.setItem(SETTINGS_KEY, JSON.stringify(settings()));
  } catch (error) {
    // Not remembered, but in force.
  }
  await call("settings", settings());
  await applyAuth();
  await refresh();
}

async function applyAuth() {
  const name = $("AuthName").value;
  $("AuthNameWarning").hidden = !($("EncodingUtf8").checked && /[^\x00-\x7f]/.test(name));
  const result = await run("auth", { userFile: $("AuthUserFile").value, name });
  if (result.ok) await refresh();
  return result.ok;
}

// --- The table ---

function cellInput(row, column, value, held, label) {
  const input = document.createElement("input");
  input.type = "text";
  input.autocomplete = "off";
  input.spellcheck = false;
  input.dataset.row = row;
  input.dataset.column = column;
  input.value = value;
  input.dataset.saved = value;
  input.setAttribute("aria-label", label);
  if (held) {
    input.placeholder = said("SHeldPlaceholder");
    input.classList.add("held");
  }
  return input;
}

function renderRows() {
  const body = $("Rows");
  const focused = document.activeElement;
  // The cell being typed in is drawn again as it stands: its text, typed but not yet handed over,
  // and the caret stay.
  const focus = focused && focused.dataset && focused.dataset.row
    ? { row: focused.dataset.row, column: focused.dataset.column, value: focused.value,
        typed: focused.value !== focused.dataset.saved, caret: focused.selectionStart } : null;
  const rows = state.rows;
  if (state.first >= rows.length) state.first = Math.max(0, Math.floor((rows.length - 1) / PAGE_ROWS) * PAGE_ROWS);
  const last = Math.min(rows.length, state.first + PAGE_ROWS);
  const fragment = document.createDocumentFragment();
  for (let i = state.first; i < last; ++i) {
    const [key, value, held, keyMark, valueMark] = rows[i];
    const r = i + 1;
    const tr = document.createElement("tr");
    const num = document.createElement("td");
    num.className = "num";
    num.textContent = r;
    tr.append(num);
    const cells = [[0, key, keyMark, said("SUserNameHeader")], [1, value, valueMark, said("SPasswordHeader")]];
    for (const [column, text, mark, caption] of cells) {
      const td = document.createElement("td");
      const input = cellInput(r, column, text, column === 1 && held, said("SCellCaption", r, caption));
      td.append(input);
      if (mark) {
        const note = document.createElement("span");
        note.className = "mark";
        note.id = `mark-${r}-${column}`;
        note.textContent = mark;
        input.setAttribute("aria-describedby", note.id);
        input.setAttribute("aria-invalid", "true");
        td.append(note);
      }
      tr.append(td);
    }
    const act = document.createElement("td");
    act.className = "act";
    const remove = document.createElement("button");
    remove.type = "button";
    remove.textContent = said("SRemoveRowButton");
    remove.dataset.remove = r;
    remove.setAttribute("aria-label", said("SRemoveRowCaption", r, key));
    act.append(remove);
    tr.append(act);
    fragment.append(tr);
  }
  if (rows.length === 0) {
    const tr = document.createElement("tr");
    const num = document.createElement("td");
    num.className = "num";
    num.textContent = "1";
    tr.append(num, ...[[0, said("SUserNameHeader")], [1, said("SPasswordHeader")]].map(([column, caption]) => {
      const td = document.createElement("td");
      td.append(cellInput(1, column, "", false, said("SCellCaption", 1, caption)));
      return td;
    }), document.createElement("td"));
    fragment.append(tr);
  }
  body.replaceChildren(fragment);
  $("Pager").hidden = rows.length <= PAGE_ROWS;
  $("PrevPage").disabled = state.first === 0;
  $("NextPage").disabled = last >= rows.length;
  // Not from the message table: its wave dash (U+301C) would come back from code page 932 as another
  // character.
  $("PageInfo").textContent = `${state.first + 1}〜${last} 行目 / ${rows.length} 行`;
  $("RowCount").textContent = rows.length ? said("SUserCount", rows.length) : "";
  if (focus) {
    const again = body.querySelector(`input[data-row="${focus.row}"][data-column="${focus.column}"]`);
    if (again) {
      if (focus.typed) again.value = focus.value;
      again.focus();
      if (focus.caret !== null) again.setSelectionRange(focus.caret, focus.caret);
    }
  }
}

async function refresh() {
  const result = await call("rows");
  state.rows = result.rows;
  state.opened = result.opened;
  state.canSave = result.canSave;
  renderRows();
  updateButtons();
}

function updateButtons() {
  const idle = !state.building;
  for (const id of ["LoadFile", "AppendFile", "OpenHtpasswd", "AddRow", "CheckButton", "HashFormat", "BcryptCost",
    "Sha512Rounds", "EncodingSjis", "EncodingUtf8", "AuthUserFile", "AuthName"]) $(id).disabled = !idle;
  $("CreateEnc").disabled = !idle || !(state.rows.length > 0 || state.opened || state.loaded);
  $("SaveData").disabled = !idle || !state.canSave;
  $("SaveToFolder").disabled = !idle || !state.canSave;
  $("Rows").inert = !idle;
}

async function commitCell(input) {
  if (input.value === input.dataset.saved) return;
  const row = Number(input.dataset.row);
  const result = await run("setCell", { row, column: Number(input.dataset.column), text: input.value });
  if (result.ok) {
    showMessage("");
    input.dataset.saved = input.value;
  }
  await refresh();
}

$("Rows").addEventListener("change", (event) => {
  if (event.target.matches("input")) commitCell(event.target);
});

$("Rows").addEventListener("keydown", async (event) => {
  const input = event.target;
  if (!input.matches("input")) return;
  const row = Number(input.dataset.row);
  const column = Number(input.dataset.column);
  const move = async (toRow) => {
    await commitCell(input);
    if (toRow < state.first + 1 || toRow > state.first + PAGE_ROWS) {
      state.first = Math.floor((toRow - 1) / PAGE_ROWS) * PAGE_ROWS;
      renderRows();
    }
    const target = $("Rows").querySelector(`input[data-row="${toRow}"][data-column="${column}"]`);
    if (target) target.focus();
  };
  if (event.key === "Escape") {
    input.value = input.dataset.saved;
    event.preventDefault();
  } else if (event.key === "Enter") {
    event.preventDefault();
    await commitCell(input);
  } else if (event.key === "ArrowDown") {
    event.preventDefault();
    if (row >= state.rows.length && input.closest("tr").querySelector("input").value !== "") {
      await commitCell(input);
      await addRow(column);
    } else {
      await move(Math.min(row + 1, Math.max(state.rows.length, 1)));
    }
  } else if (event.key === "ArrowUp") {
    event.preventDefault();
    await move(Math.max(row - 1, 1));
  }
});

$("Rows").addEventListener("click", async (event) => {
  const button = event.target.closest("button[data-remove]");
  if (!button) return;
  const row = Number(button.dataset.remove);
  const [key] = state.rows[row - 1] || [""];
  if (!confirm(said("SDeleteRowQuestion", key))) return;
  await run("removeRow", { row });
  await refresh();
  const rest = $("Rows").querySelectorAll("button[data-remove]");
  (rest[Math.min(row - 1 - state.first, rest.length - 1)] || $("AddRow")).focus();
});

async function addRow(column = 0) {
  const result = await run("addRow");
  await refresh();
  if (!result.ok) return;
  state.first = Math.floor((result.row - 1) / PAGE_ROWS) * PAGE_ROWS;
  renderRows();
  const input = $("Rows").querySelector(`input[data-row="${result.row}"][data-column="${column}"]`);
  if (input) input.focus();
}

$("AddRow").addEventListener("click", () => addRow());
$("PrevPage").addEventListener("click", () => { state.first = Math.max(0, state.first - PAGE_ROWS); renderRows(); });
$("NextPage").addEventListener("click", () => { state.first += PAGE_ROWS; renderRows(); });

// --- Files in ---

const readBytes = (file) => file.arrayBuffer().then((buffer) => new Uint8Array(buffer));

async function loadCredentials(file, append) {
  showMessage("");
  const result = await run("load", { name: file.name, bytes: await readBytes(file), append });
  state.loaded = true;
  state.first = 0;
  $("Htaccess").value = "";
  $("Htpasswd").value = "";
  await refresh();
  if (result.ok) showMessage(said("SLoaded", file.name), true);
}

async function openHtpasswd(files) {
  showMessage("");
  const list = Array.from(files);
  const htaccess = list.find((f) => f.name === ".htaccess" || f.name.endsWith("htaccess"));
  const file = list.find((f) => f !== htaccess);
  if (!file) return;
  const args = { name: file.name, bytes: await readBytes(file), htaccess: htaccess ? await readBytes(htaccess) : null };
  let result = await run("open", args);
  if (result.ok && result.otherEncoding) {
    const other = $("EncodingUtf8").checked ? "Shift-JIS" : "UTF-8";
    if (confirm(said("SHtpasswdInOtherEncoding", other, other))) {
      $(other === "UTF-8" ? "EncodingUtf8" : "EncodingSjis").checked = true;
      await call("settings", settings());
      result = await run("open", args);
    }
  }
  if (result.ok) {
    if (result.authUserFile !== undefined) $("AuthUserFile").value = result.authUserFile;
    if (result.authName !== undefined) $("AuthName").value = result.authName;
    await applyAuth();
    showMessage(result.keptMessage || said("SOpened", file.name), true);
  }
  state.first = 0;
  $("Htaccess").value = "";
  $("Htpasswd").value = "";
  await refresh();
}

$("LoadFile").addEventListener("click", () => { $("LoadFileInput").dataset.append = ""; $("LoadFileInput").click(); });
$("AppendFile").addEventListener("click", () => { $("LoadFileInput").dataset.append = "1"; $("LoadFileInput").click(); });
$("LoadFileInput").addEventListener("change", async (event) => {
  const file = event.target.files[0];
  event.target.value = "";
  if (file) await loadCredentials(file, event.target.dataset.append === "1");
});
$("OpenHtpasswd").addEventListener("click", () => $("OpenHtpasswdInput").click());
$("OpenHtpasswdInput").addEventListener("change", async (event) => {
  const files = Array.from(event.target.files);
  event.target.value = "";
  await openHtpasswd(files);
});

const drop = $("DropZone");
drop.addEventListener("dragover", (event) => { event.preventDefault(); drop.classList.add("dragging"); });
drop.addEventListener("dragleave", () => drop.classList.remove("dragging"));
drop.addEventListener("drop", async (event) => {
  event.preventDefault();
  drop.classList.remove("dragging");
  if (state.building) return;
  const files = Array.from(event.dataTransfer.files);
  if (files.some((f) => f.name.includes("htpasswd"))) await openHtpasswd(files);
  else if (files[0]) await loadCredentials(files[0], false);
});

// --- Build ---

$("CreateEnc").addEventListener("click", async () => {
  document.body.dataset.building = "1";
  try {
    await build();
  } finally {
    document.body.dataset.building = "0";
  }
});

async function build() {
  const focused = document.activeElement;
  if (focused && focused.matches("#Rows input")) await commitCell(focused);
  if (!(await applyAuth())) return;
  showMessage("");
  state.building = true;
  updateButtons();
  const status = $("BuildStatus");
  status.hidden = false;
  $("BuildProgress").value = 0;
  $("BuildCount").textContent = "";
  $("CancelBuild").focus();
  onProgress = (done, total) => {
    $("BuildProgress").max = Math.max(total, 1);
    $("BuildProgress").value = done;
    $("BuildCount").textContent = `${done} / ${total}`;
  };
  const result = await run("build");
  onProgress = null;
  state.building = false;
  status.hidden = true;
  if (result.ok) {
    $("Htaccess").value = result.htaccess;
    $("Htpasswd").value = result.htpasswd;
    document.body.dataset.buildMilliseconds = String(result.milliseconds);
    showMessage(said("SBuilt", Math.round(result.milliseconds)), true);
  } else if (result.cancelled) {
    showMessage(said("SCancelled"), true);
  }
  await refresh();
  $("CreateEnc").focus();
}

$("CancelBuild").addEventListener("click", () => worker.postMessage("cancel"));
document.addEventListener("keydown", (event) => {
  if (event.key === "Escape" && state.building) worker.postMessage("cancel");
});

// --- Save ---

async function plannedFiles() {
  const plan = await run("planSave");
  if (!plan.ok) return null;
  if (plan.removed.length > 0) {
    const names = plan.removed.map((n) => said("SQuotedName", n)).join(said("SNameSeparator"));
    if (!confirm(said("SRemovesUsersQuestion", names, plan.added, plan.changed))) return null;
  }
  return plan.files;
}

async function afterSave(where) {
  await run("saved");
  await refresh();
  showMessage(said("SSavedIn", where), true);
}

$("SaveData").addEventListener("click", async () => {
  const files = await plannedFiles();
  if (!files) return;
  const list = $("Downloads");
  for (const old of list.querySelectorAll("a")) URL.revokeObjectURL(old.href);
  list.replaceChildren();
  for (const file of files) {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([file.bytes], { type: "application/octet-stream" }));
    link.download = file.name;
    link.textContent = said("SDownloadAgain", file.name, file.bytes.length);
    const item = document.createElement("li");
    item.append(link);
    list.append(item);
    link.click();
  }
  await afterSave(said("SDownloads"));
});

if ("showDirectoryPicker" in window) {
  $("SaveToFolder").hidden = false;
  $("SaveToFolder").addEventListener("click", async () => {
    let folder;
    try {
      folder = await window.showDirectoryPicker({ mode: "readwrite" });
    } catch (error) {
      return;  // the user closed the picker
    }
    const files = await plannedFiles();
    if (!files) return;
    try {
      for (const file of files) {
        const handle = await folder.getFileHandle(file.name, { create: true });
        const writable = await handle.createWritable();
        await writable.write(file.bytes);
        await writable.close();
      }
    } catch (error) {
      showMessage(said("SNotSaved", error.message));
      return;
    }
    await afterSave(folder.name);
  });
}

// --- Settings and the .htaccess boxes ---

for (const id of ["HashFormat", "BcryptCost", "Sha512Rounds", "EncodingSjis", "EncodingUtf8"])
  $(id).addEventListener("change", applySettings);
for (const id of ["AuthUserFile", "AuthName"]) $(id).addEventListener("change", applyAuth);

// --- パスワードの確認 ---

$("CheckButton").addEventListener("click", async () => {
  const result = await run("check", { user: $("VerifyUser").value, password: $("VerifyPassword").value });
  $("VerifyResult").textContent = result.ok ? result.answer : "";
});

// The hash formats and the strengths' ranges, as the core has them; then the choices remembered.
call("texts")
  .then((table) => {
    Object.assign(texts, table);
    $("HashFormat").append(...table.formats.map((label, i) => new Option(label, String(i))));
    for (const [id, [min, max, value]] of [["BcryptCost", table.cost], ["Sha512Rounds", table.rounds]]) {
      Object.assign($(id), { min, max, value });
      strengthDefaults[id] = value;
    }
    restoreSettings();
  })
  .then(applySettings)
  .then(() => { document.body.dataset.ready = "1"; });
