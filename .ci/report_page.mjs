// The html report in a real browser (headless Chromium through puppeteer-core), run by
// report_page.sh: node report_page.mjs PAGE SCREENSHOT. PAGE was made from the tests' campaign
// (tests/report/data: campaign.csv, page-extra.csv, whose file names hold markup and whose tools
// are tool2 and tool10, and reference.csv) and from a table of 150 wrong answers of tool kite.
// Prints one line per check and "N passed, M failed"; exit status 1 when any failed.
import { createHash } from "node:crypto";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, resolve } from "node:path";
import { pathToFileURL } from "node:url";
import puppeteer from "puppeteer-core";

const [pagePath, screenshot] = process.argv.slice(2);
const pageUrl = pathToFileURL(resolve(pagePath)).href;
const profile = mkdtempSync(join(tmpdir(), "report-page-chromium-"));
let passed = 0;
let failed = 0;
function check(what, ok, detail = "") {
  ok ? passed++ : failed++;
  console.log(`${ok ? "ok  " : "FAIL"} ${what}${ok || !detail ? "" : ": " + detail}`);
}
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// Without the networking flags Chromium's background services reach out on their own.
const browser = await puppeteer.launch({
  executablePath: "/usr/bin/chromium",
  headless: true,
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    `--user-data-dir=${profile}`],
});
try {
  const page = await browser.newPage();
  const requests = [];
  const complaints = [];
  page.on("request", request => requests.push(request.url()));
  page.on("console", message => { if (message.type() === "error") complaints.push(message.text()); });
  page.on("pageerror", error => complaints.push(error.message));
  page.on("dialog", dialog => { complaints.push("a dialog: " + dialog.message()); dialog.dismiss(); });
  await page.setViewport({ width: 800, height: 1000 });
  await page.goto(pageUrl, { waitUntil: "load" });

  check("the page fetches nothing but itself", same([...new Set(requests)], [pageUrl]),
    requests.join(" "));
  const { policy, script } = await page.evaluate(() => ({
    policy: document.querySelector("meta[http-equiv=Content-Security-Policy]").content,
    script: document.querySelector("script").textContent,
  }));
  const hash = "sha256-" + createHash("sha256").update(script).digest("base64");
  check("the page's policy allows its own script", policy.includes(`'${hash}'`),
    `the script's hash is ${hash}, the policy says ${policy}`);
  check("no error, warning dialog or refused script", complaints.length === 0, complaints.join("; "));

  const fits = await page.evaluate(() =>
    [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  check("the page fits 800 px", fits[0] <= fits[1], `${fits[0]} px wide`);

  // Markup in file names is shown, never run.
  const markup = await page.evaluate(() => ({
    title: document.title,
    scripts: document.scripts.length,
    images: document.images.length,
    paths: Array.from(document.querySelectorAll("#wrong-list td"), cell => cell.textContent)
      .filter(text => text.startsWith("d/")),
  }));
  check("markup in file names never runs",
    markup.title === "Campaign report" && markup.scripts === 1 && markup.images === 0,
    JSON.stringify(markup));
  check("markup in file names is shown as written", same(markup.paths,
    [`d/<img src=x onerror="document.title='ran'">.log`, "d/<script>document.title='ran'</script>.log"]),
    JSON.stringify(markup.paths));

  // Sorting: a click sorts, a second reverses; names in natural order, counts as numbers, the
  // total row last.
  const column = (table, index) => page.evaluate((table, index) =>
    Array.from(document.querySelectorAll(`#${table} tbody tr`), row => row.cells[index].textContent),
  table, index);
  const click = (table, name) => page.evaluate((table, name) =>
    Array.from(document.querySelectorAll(`#${table} th`)).find(th => th.textContent === name).click(),
  table, name);
  const tools = ["kite", "lynx", "orca", "tool2", "tool10", "velox"];
  check("tools in natural order", same(await column("tools-table", 0), tools),
    await column("tools-table", 0));
  await click("tools-table", "tool");
  await click("tools-table", "tool");
  check("a second click reverses", same(await column("tools-table", 0), [...tools].reverse()),
    await column("tools-table", 0));
  await click("tools-table", "formulas");
  const up = (await column("tools-table", 2)).map(Number);
  check("a click sorts counts as numbers", same(up, [...up].sort((a, b) => a - b)) && up[0] < 10 &&
    up.at(-1) >= 10, up);
  await click("tools-table", "formulas");
  const down = (await column("tools-table", 2)).map(Number);
  check("a second click reverses them", same(down, [...up].reverse()), down);
  await click("summary-table", "examination");
  const examinations = await column("summary-table", 1);
  check("examinations sort in natural order",
    examinations.indexOf("StateSpace") < examinations.indexOf("UpperBounds"), examinations);
  const last = await page.evaluate(() =>
    Array.from(document.querySelector("#tools-table").rows).at(-1).cells[0].textContent);
  check("the total row stays last", last === "total", last);

  // The lists: at most 100 rows of a tool, every tool's rows there, and a filter by a word.
  const shownTools = await column("wrong-list", 5);
  const note = await page.evaluate(() =>
    document.querySelector("#wrong-list").parentElement.nextElementSibling.textContent);
  check("no tool's wrong answers crowded out",
    shownTools.filter(tool => tool === "kite").length === 100 &&
    ["lynx", "orca", "velox", "tool2", "tool10"].every(tool => shownTools.includes(tool)),
    shownTools.join(" "));
  check("the rows left out are counted, and how to get them said",
    note.includes("50 of kite's 150") && note.includes("sift_runlog_report wrong --reference"), note);
  for (const list of ["wrong-list", "disagreements-list"]) {
    await page.type(`input[data-filter=${list}]`, "Orca");
    const visible = await page.evaluate(list => Array.from(
      document.querySelectorAll(`#${list} tbody tr`)).filter(row => !row.hidden)
      .map(row => row.textContent), list);
    check(`typing a tool's name filters the ${list}`,
      visible.length > 0 && visible.every(text => text.includes("orca")), visible.length);
    await page.$eval(`input[data-filter=${list}]`, box => {
      box.value = "";
      box.dispatchEvent(new Event("input"));
    });
  }
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: screenshot, fullPage: false });
  await page.setViewport({ width: 1280, height: 1000 });
  const wide = await page.evaluate(() =>
    [document.documentElement.scrollWidth, document.documentElement.clientWidth]);
  check("the page fits 1280 px", wide[0] <= wide[1], `${wide[0]} px wide`);

  // With scripting off, every table and every row is there, and no filter box.
  const plain = await browser.newPage();
  await plain.setJavaScriptEnabled(false);
  await plain.goto(pageUrl, { waitUntil: "load" });
  const counts = await plain.evaluate(() => ({
    tables: Array.from(document.querySelectorAll("table"), table => table.id + " " + table.rows.length),
    boxes: Array.from(document.querySelectorAll(".filter")).filter(box => box.offsetParent).length,
  }));
  check("without scripting every table is shown", same(counts, {
    tables: ["tools-table 8", "ranking-table 22", "summary-table 17", "scores-table 17", "wrong-list 106",
      "disagreements-list 169"],
    boxes: 0,
  }), JSON.stringify(counts));
} finally {
  await browser.close();
  rmSync(profile, { recursive: true, force: true });
}
console.log(`${passed} passed, ${failed} failed`);
process.exitCode = failed === 0 ? 0 : 1;
