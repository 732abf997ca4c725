// Drives the page in Debian's Chromium (headless, no browser downloaded) as a user would, and
// writes what it downloads for the C++ test to judge.
//   node drive_page.mjs <index.html> <case file (JSON)> <output folder>
// The case file lists the runs: {runs: [{name, encoding, format, cost, rounds, load, append, drop,
// edits: [[row, column, text]], open, htaccess, addUser, removeRow, cancel, check, save}], authUserFile, authName}.
// Writes <output>/<run name>/<file> for every download, and <output>/report.json: each run's build
// time and the texts shown, every request the page made after loading, and whether its policy
// blocked a request it was asked to make.
import { mkdirSync, readFileSync, writeFileSync } from "node:fs";
import { basename, join } from "node:path";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const [site, caseFile, out] = process.argv.slice(2);
const plan = JSON.parse(readFileSync(caseFile, "utf8"));
const browser = await chromium.launch({
  executablePath: process.env.VASTELO_CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--disable-gpu"],
});
const report = { runs: {}, requests: [], blocked: null, errors: [] };
try {
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  const pageUrl = pathToFileURL(site).href;
  // Polls `predicate` in the page. Playwright's own waiting evaluates strings in the page, which
  // the page's policy refuses; an evaluation asked for from outside is not.
  const until = async (predicate, arg) => {
    for (const start = Date.now(); !(await page.evaluate(predicate, arg));) {
      if (Date.now() - start > 120000)
        throw new Error(`waited in vain for ${predicate}; the page says: ${await page.textContent("#Message")}`);
      await new Promise((r) => setTimeout(r, 20));
    }
  };
  page.on("pageerror", (error) => report.errors.push(String(error)));
  page.on("console", (message) => { if (message.type() === "error") report.errors.push(message.text()); });
  await page.goto(pageUrl);
  await until(() => document.body.dataset.ready === "1");
  // From here on, every request is one too many: the page works on what the user gives it.
  const noted = (request) => {
    const url = request.url();
    if (!url.startsWith("blob:")) report.requests.push(url);
  };
  page.on("request", noted);
  page.on("requestfailed", noted);
  context.on("request", noted);

  const message = () => page.textContent("#Message");
  const settle = () => until(() => document.body.dataset.building === "0");
  // The page has answered every request, and still has after a moment (a handler may chain another).
  const idle = async () => {
    for (let quiet = 0, start = Date.now(); quiet < 2;) {
      if (Date.now() - start > 300000) throw new Error(`the page never settled; it says: ${await page.textContent("#Message")}`);
      await page.evaluate(() => new Promise((r) => setTimeout(r, 30)));
      quiet = (await page.getAttribute("body", "data-busy")) === "0" ? quiet + 1 : 0;
    }
  };

  await page.fill("#AuthUserFile", plan.authUserFile);
  await page.press("#AuthUserFile", "Tab");
  await page.fill("#AuthName", plan.authName);
  await page.press("#AuthName", "Tab");

  for (const run of plan.runs) {
    const result = { messages: [] };
    report.runs[run.name] = result;
    await page.check(run.encoding === "utf8" ? "#EncodingUtf8" : "#EncodingSjis");
    await page.selectOption("#HashFormat", String(run.format));
    if (run.cost) await page.fill("#BcryptCost", String(run.cost));
    if (run.rounds) await page.fill("#Sha512Rounds", String(run.rounds));
    await page.dispatchEvent("#BcryptCost", "change");
    await page.dispatchEvent("#Sha512Rounds", "change");
    await idle();
    await page.evaluate(() => { document.getElementById("Message").textContent = ""; });
    if (run.load && run.drop) {
      // Dropped onto the table, as from a file manager.
      const bytes = [...readFileSync(run.load)];
      await page.evaluate(({ bytes, name }) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([new Uint8Array(bytes)], name));
        document.getElementById("DropZone").dispatchEvent(new DragEvent("drop", { dataTransfer: transfer, bubbles: true }));
      }, { bytes, name: basename(run.load) });
    } else if (run.load) {
      await page.click("#LoadFile").catch(() => {});
      await page.setInputFiles("#LoadFileInput", run.load);
    }
    if (run.open) {
      await page.setInputFiles("#OpenHtpasswdInput", [run.open, ...(run.htaccess ? [run.htaccess] : [])]);
    }
    if (run.load || run.open) await until(() => document.getElementById("Message").textContent !== "");
    await idle();
    result.messages.push(await message());
    result.rows = await page.$$eval("#Rows tr", (rows) => rows.length);
    for (const [row, column, text] of run.edits || []) {
      const cell = `#Rows input[data-row="${row}"][data-column="${column}"]`;
      if (!(await page.$(cell))) {
        await page.click("#AddRow");
        await idle();
      }
      await page.fill(cell, text);
      await page.press(cell, "Enter");
      await idle();
      result.messages.push(await message());
    }
    if (run.keyboardAdd) {
      // Down on the last row adds one; Tab goes on to its password; Enter hands it over.
      await page.focus(`#Rows input[data-row="${result.rows}"][data-column="0"]`);
      await page.keyboard.press("ArrowDown");
      await idle();
      await page.keyboard.type(run.keyboardAdd[0]);
      await page.keyboard.press("Tab");
      await page.keyboard.type(run.keyboardAdd[1]);
      await page.keyboard.press("Enter");
      await idle();
    }
    if (run.removeRow) {
      page.once("dialog", (dialog) => dialog.accept());
      await page.click(`#Rows button[data-remove="${run.removeRow}"]`);
      await idle();
    }
    await page.click("#CreateEnc");
    if (run.cancel) {
      await until(() => Number(document.getElementById("BuildProgress").value) > 0);
      await page.click("#CancelBuild");
      await settle();
      result.messages.push(await message());
      result.htpasswd = await page.inputValue("#Htpasswd");
      result.saveEnabled = await page.isEnabled("#SaveData");
      continue;
    }
    await settle();
    await idle();
    result.messages.push(await message());
    result.milliseconds = Number(await page.getAttribute("body", "data-build-milliseconds"));
    result.htaccess = await page.inputValue("#Htaccess");
    result.htpasswd = await page.inputValue("#Htpasswd");
    if (run.check) {
      await page.fill("#VerifyUser", run.check[0]);
      await page.fill("#VerifyPassword", run.check[1]);
      await page.click("#CheckButton");
      await until(() => document.getElementById("VerifyResult").textContent !== "");
      result.check = await page.textContent("#VerifyResult");
      await page.evaluate(() => { document.getElementById("VerifyResult").textContent = ""; });
    }
    if (run.save === false) continue;
    const folder = join(out, run.name);
    mkdirSync(folder, { recursive: true });
    const downloads = [];
    page.on("download", (download) => downloads.push(download));
    if (run.removed) page.once("dialog", (dialog) => { result.question = dialog.message(); dialog.accept(); });
    await page.click("#SaveData");
    await until(() => document.querySelectorAll("#Downloads a").length >= 2);
    const names = await page.$$eval("#Downloads a", (links) => links.map((a) => a.download));
    while (downloads.length < names.length) await idle();
    page.removeAllListeners("download");
    result.suggested = [];
    for (const [i, download] of downloads.entries()) {
      result.suggested.push(download.suggestedFilename());
      await download.saveAs(join(folder, names[i]));
    }
    await idle();
  }

  // The policy forbids every request: one the page is made to try is refused before it leaves.
  report.blocked = await page.evaluate(async () => {
    try {
      await fetch("http://127.0.0.1:9/");
      return false;
    } catch (error) {
      return true;
    }
  });
  report.requests = report.requests.filter((url) => url !== "http://127.0.0.1:9/");
  report.errors = report.errors.filter((text) => !text.includes("http://127.0.0.1:9/"));
  for (const [width, name] of [[390, "phone"], [1280, "desktop"]]) {
    await page.setViewportSize({ width, height: 900 });
    await page.screenshot({ path: join(out, `page-${name}.png`), fullPage: true });
  }
} finally {
  writeFileSync(join(out, "report.json"), JSON.stringify(report, null, 1));
  // The same facts one a line, "name<TAB>value", for the C++ test.
  const facts = [["blocked", report.blocked], ["requests", report.requests.join(" ")], ["errors", report.errors.join(" ")]];
  for (const [name, run] of Object.entries(report.runs))
    for (const key of ["check", "question", "milliseconds", "saveEnabled", "htpasswd"])
      if (run[key] !== undefined) facts.push([`${name}.${key}`, run[key]]);
  for (const [name, run] of Object.entries(report.runs)) facts.push([`${name}.message`, run.messages[run.messages.length - 1]]);
  writeFileSync(join(out, "facts.txt"), facts.map(([k, v]) => `${k}\t${String(v).replace(/\s+/g, " ")}\n`).join(""));
  await browser.close();
}
