#!/usr/bin/python3
"""Checks a yield report page (vornex report) as a browser shows it: loads the page in headless
Chromium through the DevTools protocol and checks the live page, not its HTML text.

    check-report.py PAGE.html [--suspect SOCKET[=FAILED/JOBS] ...] [--failed] [--png FILE]
    check-report.py PAGE.html --empty [--png FILE]

A page with jobs passes when every chart (yield-day, yield-station, yield-socket, step-times,
job-times, per-hour; causes too with --failed or a --suspect) is a figure.chart with one drawn
svg (a non-empty box and a .mark with a non-empty getBBox()) and a table with rows, and the
sockets called out (li[data-socket] in section#suspect-sockets) are exactly the --suspect ones,
each with its counts in its text when given (C=5/5: 5 of 5 jobs failed). --empty: the page of a
period without jobs, #no-jobs shown and no chart. Every page: no script, no exception, no console
or log error or warning, no request other than the page itself, and a Content-Security-Policy
that refuses a fetch and an image from elsewhere. --png saves the whole page, 1200 px wide.
Prints each failed check and exits 1; Chromium and its profile folder are removed in any case.
Python 3 of Debian with python3-websocket; Chromium at /usr/bin/chromium (VORNEX_CHROMIUM).
"""
import argparse
import base64
import json
import os
import pathlib
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

import websocket

CHARTS = ["yield-day", "yield-station", "yield-socket", "causes", "step-times", "job-times",
          "per-hour"]
SOCKETS = "ABCDEFGH"
PAGE_WIDTH = 1200
# Where the page is told to fetch from for the Content-Security-Policy probe: a loopback port
# with nothing behind it, so that a page without the policy fails fast rather than fetches.
PROBE_ORIGIN = "http://127.0.0.1:9"

# The whole page as the checks read it, in one evaluation: charts, callout, empty-period text.
PAGE_STATE = r"""(() => {
  const shown = el => {
    const r = el.getBoundingClientRect(), s = getComputedStyle(el);
    return r.width > 0 && r.height > 0 && s.visibility !== 'hidden';
  };
  const charts = [...document.querySelectorAll('figure.chart')].map(fig => {
    const svgs = [...fig.querySelectorAll('svg')].filter(s => !s.parentElement.closest('svg'));
    const box = svgs.length ? svgs[0].getBoundingClientRect() : {width: 0, height: 0};
    const marks = svgs.length ? [...svgs[0].querySelectorAll('.mark')] : [];
    const drawn = marks.filter(m => {
      const b = typeof m.getBBox === 'function' ? m.getBBox() : {width: 0, height: 0};
      return b.width > 0 || b.height > 0;
    });
    const tables = [...fig.querySelectorAll('table')];
    const rows = tables.length ? [...tables[0].rows].filter(r => r.querySelector('td')).length : 0;
    return {id: fig.id, svgs: svgs.length, box: [box.width, box.height], marks: marks.length,
            drawn: drawn.length, tables: tables.length, rows, shown: shown(fig)};
  });
  const section = document.querySelector('section#suspect-sockets');
  const sockets = [...document.querySelectorAll('li[data-socket]')].map(li => ({
    socket: li.dataset.socket, text: li.innerText, shown: shown(li),
    inSection: section !== null && section.contains(li)}));
  const noJobs = document.getElementById('no-jobs');
  return {scripts: document.scripts.length, charts, sockets, section: section !== null,
          noJobs: noJobs && {tag: noJobs.tagName, text: noJobs.innerText.trim(),
                             shown: shown(noJobs)}};
})()"""

# Asks the page for an image and a fetch from elsewhere; its policy must refuse both.
CSP_PROBE = r"""new Promise(resolve => {
  const refused = new Set();
  let fetched = '';
  const done = () => resolve({refused: [...refused], fetched});
  document.addEventListener('securitypolicyviolation', e => {
    refused.add(e.effectiveDirective);
    if (refused.has('img-src') && refused.has('connect-src')) done();
  });
  setTimeout(done, DEADLINE_MS);
  const img = new Image();
  img.src = 'ORIGIN/probe.png';
  fetch('ORIGIN/probe').then(() => { fetched = 'answered'; }, e => { fetched = String(e); });
})"""


class Failure(Exception):
    """The check cannot go on (the browser did not start, the page did not load ...)."""


class Interrupted(Exception):
    pass


def on_signal(number, _frame):
    raise Interrupted(signal.Signals(number).name)


class DevTools:
    """One WebSocket session with a page target: commands with their answers, events kept."""

    def __init__(self, url, timeout):
        self.ws = websocket.create_connection(url, timeout=timeout, suppress_origin=True)
        self.timeout = timeout
        self.next_id = 0
        self.events = []

    def close(self):
        self.ws.close()

    def _receive(self, deadline, what):
        left = deadline - time.monotonic()
        if left <= 0:
            raise Failure(f"no {what} within {self.timeout:g} s")
        self.ws.settimeout(left)
        try:
            return json.loads(self.ws.recv())
        except websocket.WebSocketTimeoutException:
            raise Failure(f"no {what} within {self.timeout:g} s") from None

    def call(self, method, **params):
        self.next_id += 1
        ident = self.next_id
        self.ws.send(json.dumps({"id": ident, "method": method, "params": params}))
        deadline = time.monotonic() + self.timeout
        while True:
            message = self._receive(deadline, f"answer to {method}")
            if message.get("id") == ident:
                if "error" in message:
                    raise Failure(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def wait_event(self, method):
        deadline = time.monotonic() + self.timeout
        while not any(e["method"] == method for e in self.events):
            message = self._receive(deadline, method)
            if "method" in message:
                self.events.append(message)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise Failure(f"the check's own evaluation failed: {result['exceptionDetails']}")
        return result["result"].get("value")


class Chromium:
    """Headless Chromium on a free port with a profile of its own, removed again by close()."""

    def __init__(self):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="vornex-check-report-"))
        self.profile = self.folder / "profile"
        self.log = self.folder / "chromium.log"
        self.process = None
        self.port = None

    def start(self, program, timeout):
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen(
                [program, "--headless=new", "--no-sandbox", "--disable-gpu",
                 "--remote-debugging-port=0", f"--user-data-dir={self.profile}",
                 "--no-first-run", "--no-default-browser-check", "--disable-extensions",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "about:blank"],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        self.port = self._wait_port(timeout)

    def _wait_port(self, timeout):
        active = self.profile / "DevToolsActivePort"
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Failure(f"Chromium ended with status {self.process.returncode} before it "
                              f"listened:\n{self.log_tail()}")
            lines = active.read_text().splitlines() if active.exists() else []
            if len(lines) >= 2 and lines[0].isdigit():
                return int(lines[0])
            time.sleep(0.05)
        raise Failure(f"Chromium wrote no {active.name} within {timeout:g} s:\n{self.log_tail()}")

    def log_tail(self):
        text = self.log.read_text(errors="replace").strip().splitlines()
        return "\n".join("    " + line for line in text[-15:])

    def page_socket(self):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list", timeout=10) as r:
            targets = json.load(r)
        pages = [t for t in targets if t.get("type") == "page"]
        if not pages:
            raise Failure(f"Chromium has no page target: {targets}")
        return pages[0]["webSocketDebuggerUrl"]

    def close(self):
        if self.process is not None and self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.process is not None:
            self.process.wait()
            # The rest of its process group (renderer, zygote) goes with it before the folder.
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                try:
                    os.killpg(self.process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    break
                time.sleep(0.02)
        shutil.rmtree(self.folder, ignore_errors=True)


def whole_number(text, number):
    return re.search(rf"(?<!\d){number}(?!\d)", text) is not None


def check_charts(state, expected, problems):
    by_id = {}
    for chart in state["charts"]:
        name = chart["id"].removeprefix("chart-")
        if not chart["id"].startswith("chart-") or name not in CHARTS:
            problems.append(f"figure.chart id=\"{chart['id']}\" is none of chart-"
                            f"{', chart-'.join(CHARTS)}")
        elif name in by_id:
            problems.append(f"chart {name}: more than one figure")
        by_id[name] = chart
    for name in expected:
        if name not in by_id:
            problems.append(f"chart {name}: no figure.chart#chart-{name}")
    for name, chart in by_id.items():
        if name not in CHARTS:
            continue
        where = f"chart {name}"
        if chart["svgs"] != 1:
            problems.append(f"{where}: {chart['svgs']} svg elements, wanted one")
            continue
        if not chart["shown"] or chart["box"][0] <= 0 or chart["box"][1] <= 0:
            problems.append(f"{where}: not shown (svg box {chart['box'][0]:g} x "
                            f"{chart['box'][1]:g})")
        if chart["drawn"] == 0:
            problems.append(f"{where}: nothing drawn ({chart['marks']} .mark elements, none "
                            "with a width or height)")
        if chart["tables"] != 1:
            problems.append(f"{where}: {chart['tables']} tables, wanted one")
        elif chart["rows"] == 0:
            problems.append(f"{where}: its table has no rows of numbers")


def check_sockets(state, suspects, problems):
    if suspects and not state["section"]:
        problems.append("no section#suspect-sockets")
    seen = {}
    for li in state["sockets"]:
        socket = li["socket"]
        if not li["inSection"]:
            problems.append(f"li[data-socket=\"{socket}\"] outside section#suspect-sockets")
        if socket not in SOCKETS or len(socket) != 1:
            problems.append(f"li[data-socket=\"{socket}\"]: no socket letter A-H")
        if socket in seen:
            problems.append(f"socket {socket} called out twice")
        seen[socket] = li
    called = sorted(seen)
    if called != sorted(suspects):
        problems.append(f"sockets called out: {' '.join(called) or 'none'}; wanted: "
                        f"{' '.join(sorted(suspects)) or 'none'}")
    for socket, counts in suspects.items():
        li = seen.get(socket)
        if li is None:
            continue
        text = " ".join(li["text"].split())
        if not li["shown"]:
            problems.append(f"socket {socket}: its callout is not shown")
        if counts is None:
            if len(re.findall(r"\d+", text)) < 2:
                problems.append(f"socket {socket}: the callout names no counts: \"{text}\"")
        else:
            failed, jobs = counts
            if not whole_number(text, failed) or not whole_number(text, jobs):
                problems.append(f"socket {socket}: the callout does not name {failed} failed of "
                                f"{jobs} jobs: \"{text}\"")


def check_messages(events, page_url, problems):
    for event in events:
        method, params = event["method"], event.get("params", {})
        if method == "Runtime.exceptionThrown":
            details = params.get("exceptionDetails", {})
            text = details.get("exception", {}).get("description") or details.get("text")
            problems.append(f"exception: {text} ({details.get('url', '')}:"
                            f"{details.get('lineNumber', '?')})")
        elif method == "Log.entryAdded":
            entry = params.get("entry", {})
            if entry.get("level") in ("error", "warning"):
                problems.append(f"log {entry['level']} ({entry.get('source')}): "
                                f"{entry.get('text')} {entry.get('url', '')}".rstrip())
        elif method == "Runtime.consoleAPICalled":
            if params.get("type") in ("error", "warning", "assert"):
                args = " ".join(str(a.get("value", a.get("description", "")))
                                for a in params.get("args", []))
                problems.append(f"console {params['type']}: {args}")
        elif method == "Network.requestWillBeSent":
            url = params.get("request", {}).get("url", "")
            if url.split("#")[0] != page_url:
                problems.append(f"request other than the page: {url[:120]}")


def save_png(tools, path):
    size = tools.call("Page.getLayoutMetrics")["cssContentSize"]
    shot = tools.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                      clip={"x": 0, "y": 0, "width": PAGE_WIDTH,
                            "height": max(1, round(size["height"])), "scale": 1})
    data = base64.b64decode(shot["data"])
    width, height = struct.unpack(">II", data[16:24])
    if width != PAGE_WIDTH:
        raise Failure(f"the picture is {width} px wide, wanted {PAGE_WIDTH}")
    path.write_bytes(data)
    return width, height


def check_page(tools, page, args, suspects):
    problems = []
    url = page.as_uri()
    tools.call("Emulation.setDeviceMetricsOverride", width=PAGE_WIDTH, height=900,
               deviceScaleFactor=1, mobile=False)
    for domain in ("Runtime", "Log", "Page", "Network"):
        tools.call(f"{domain}.enable")
    navigated = tools.call("Page.navigate", url=url)
    if navigated.get("errorText"):
        raise Failure(f"the page did not load: {navigated['errorText']}")
    tools.wait_event("Page.loadEventFired")
    state = tools.evaluate(PAGE_STATE)
    # Every message of the page so far came before that answer.
    check_messages(tools.events, url, problems)
    if state["scripts"]:
        problems.append(f"{state['scripts']} script elements, wanted none")
    if args.empty:
        no_jobs = state["noJobs"]
        if no_jobs is None:
            problems.append("no #no-jobs")
        elif not no_jobs["shown"] or not no_jobs["text"]:
            problems.append(f"#no-jobs is not shown or has no text: \"{no_jobs['text']}\"")
        if state["charts"]:
            problems.append(f"{len(state['charts'])} figure.chart on the page of no jobs")
        if state["sockets"]:
            problems.append(f"{len(state['sockets'])} sockets called out on the page of no jobs")
    else:
        if state["noJobs"] is not None:
            problems.append(f"#no-jobs on a page with jobs: \"{state['noJobs']['text']}\"")
        expected = [c for c in CHARTS if c != "causes" or args.failed or suspects]
        check_charts(state, expected, problems)
        check_sockets(state, suspects, problems)
    if args.png:
        width, height = save_png(tools, args.png)
        print(f"check-report: {args.png}: {width} x {height} px")
    # The page gives up on the refusals in half a step, so its answer still comes in time.
    deadline_ms = int(tools.timeout * 500)
    probe = tools.evaluate(CSP_PROBE.replace("ORIGIN", PROBE_ORIGIN)
                           .replace("DEADLINE_MS", str(deadline_ms)))
    for directive in ("img-src", "connect-src"):
        if directive not in probe["refused"]:
            problems.append(f"the Content-Security-Policy lets the page load from elsewhere "
                            f"({directive} not refused; fetch: {probe['fetched'] or 'pending'})")
    return problems


def parse_suspect(text):
    match = re.fullmatch(r"([A-H])(?:=(\d+)/(\d+))?", text)
    if not match:
        raise argparse.ArgumentTypeError(f"{text} is no socket A-H (with =FAILED/JOBS)")
    letter, failed, jobs = match.groups()
    return letter, (int(failed), int(jobs)) if failed else None


def main():
    parser = argparse.ArgumentParser(description="Checks a yield report page in headless "
                                     "Chromium.")
    parser.add_argument("page", type=pathlib.Path)
    parser.add_argument("--suspect", type=parse_suspect, action="append", default=[],
                        metavar="SOCKET[=FAILED/JOBS]", help="a socket the page must call out")
    parser.add_argument("--failed", action="store_true", help="jobs failed: expect causes")
    parser.add_argument("--empty", action="store_true", help="the page of a period without jobs")
    parser.add_argument("--png", type=pathlib.Path, help="save the whole page as a PNG")
    parser.add_argument("--timeout", type=float, default=30, help="seconds per step (30)")
    args = parser.parse_args()
    suspects = dict(args.suspect)
    if len(suspects) != len(args.suspect):
        parser.error("a socket is given twice")
    if args.empty and (suspects or args.failed):
        parser.error("--empty takes no --suspect or --failed")
    page = args.page.resolve()
    if not page.is_file():
        print(f"check-report: {args.page}: no such file", file=sys.stderr)
        return 1
    if args.png:
        args.png = args.png.resolve()
    program = os.environ.get("VORNEX_CHROMIUM", "/usr/bin/chromium")
    if not os.access(program, os.X_OK):
        print(f"check-report: no Chromium at {program} (scripts/setup.sh test)", file=sys.stderr)
        return 1

    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, on_signal)
    browser = tools = None
    try:
        browser = Chromium()
        browser.start(program, args.timeout)
        tools = DevTools(browser.page_socket(), args.timeout)
        problems = check_page(tools, page, args, suspects)
    except Failure as failure:
        problems = [str(failure)]
    except Interrupted as stop:
        print(f"check-report: stopped ({stop})", file=sys.stderr)
        return 130
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        if tools is not None:
            tools.close()
        if browser is not None:
            browser.close()
    for problem in problems:
        print(f"check-report: {args.page}: {problem}", file=sys.stderr)
    if problems:
        return 1
    what = ("the page of no jobs" if args.empty else
            f"every chart drawn with its table; sockets called out: "
            f"{' '.join(sorted(suspects)) or 'none'}")
    print(f"check-report: {args.page}: {what}; no error, no request but the page")
    return 0


if __name__ == "__main__":
    sys.exit(main())
