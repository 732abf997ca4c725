// Puts the page together as one index.html that works opened from disk (file://) and from any
// static host: the style, the page's script and the worker (the core's JavaScript with its
// WebAssembly inlined) all inside, and a Content-Security-Policy that lets the page run exactly
// those and request nothing from anywhere.
//   node assemble-site.mjs <page folder> <core.js> <core.wasm> <output folder>
import { createHash } from "node:crypto";
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";

const [page, coreJs, coreWasm, out] = process.argv.slice(2);
const read = (path) => readFileSync(path, "utf8");
const hash = (text) => `'sha256-${createHash("sha256").update(text, "utf8").digest("base64")}'`;

const style = read(join(page, "style.css"));
const app = read(join(page, "app.js"));
const worker = `const WASM_BASE64 = "${readFileSync(coreWasm).toString("base64")}";\n${read(coreJs)}\n${read(join(page, "worker.js"))}`;
for (const [name, text] of [["style", style], ["app", app], ["worker", worker]])
  if (/<\/(script|style)/i.test(text)) throw new Error(`${name} holds a closing tag`);

const csp = [
  "default-src 'none'",
  `script-src ${hash(app)} 'wasm-unsafe-eval'`,
  `style-src ${hash(style)}`,
  "worker-src blob:",
  "img-src 'none'",
  "connect-src 'none'",
  "form-action 'none'",
  "base-uri 'none'",
].join("; ");

// Replaced in one pass, so that no text put in is searched for placeholders again.
const values = { CSP: csp, STYLE: style, APP: app, WORKER: worker };
const html = read(join(page, "index.html")).replace(/@(CSP|STYLE|APP|WORKER)@/g, (_, key) => values[key]);
mkdirSync(out, { recursive: true });
writeFileSync(join(out, "index.html"), html);
console.log(join(out, "index.html"));
