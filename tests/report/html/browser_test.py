#!/usr/bin/env python3
# The report pages of real runs opened in headless Chromium: a quick PASS,
# a FAIL from a fault planted through the verify seam (the report tests'
# run, asked to keep its page), a benchmark, a quick qualification, a run
# stopped by Ctrl-C, and a saved stream rendered whole and torn. For each
# page the DOM Chromium built must hold the verdict, every fault's address
# and count, the summary figures and one plot marker per point exactly as
# the run's JSON stream has them (Python's JSON and HTML parsers on both
# sides); the browser must log no console message and the page must start
# no network request. A control page with a script and an outside image
# proves both checks see what they look for. Screenshots stay in the
# output folder. Exit status 77 (skipped) without Chromium.
#
# browser_test.py DRAVIK_BINARY REPORT_TESTS_BINARY OUTPUT_FOLDER
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import page_check  # noqa: E402

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-extensions", "--no-default-browser-check", "--hide-scrollbars",
         "--host-resolver-rules=MAP * ~NOTFOUND", "--enable-logging=stderr", "--v=0"]
failures = []


def fail(what):
    failures.append(what)
    print("FAIL: " + what, flush=True)


def expect(name, got, want):
    if got != want:
        fail("%s: got %r, want %r" % (name, got, want))


def browse(page, shot, out, height=2400):
    """Opens page in Chromium: the DOM, the console messages and the page's requests."""
    profile = tempfile.mkdtemp(prefix="dravik-chromium-")
    netlog = os.path.join(out, os.path.basename(page) + ".netlog.json")
    url = "file://" + os.path.abspath(page)
    try:
        dom = subprocess.run([CHROMIUM, *FLAGS, "--user-data-dir=" + profile, "--log-net-log=" + netlog,
                              "--dump-dom", url], capture_output=True, text=True, timeout=120)
        subprocess.run([CHROMIUM, *FLAGS, "--user-data-dir=" + profile, "--window-size=1000,%d" % height,
                        "--screenshot=" + shot, url], capture_output=True, text=True, timeout=120)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    console = [line for line in dom.stderr.splitlines() if "CONSOLE" in line]
    with open(netlog, encoding="utf-8") as f:
        log = json.load(f)
    names = {v: k for k, v in log["constants"]["logEventTypes"].items()}
    # The browser's own traffic has no origin ("not an origin"); a request
    # the page makes has the page's.
    requests = [e["params"]["url"] for e in log["events"]
                if names.get(e["type"]) == "URL_REQUEST_START_JOB" and "url" in e.get("params", {})
                and e["params"].get("initiator") != "not an origin"]
    return dom.stdout, console, requests


def stream_of(path):
    events = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            try:
                events.append(json.loads(line))
            except ValueError:
                pass
    return events


def stream_facts(events):
    facts = {"verdict": None, "faults": {}, "summary": None, "bench": {}, "sweep_read": 0,
             "hcl_peak": None}
    for e in events:
        kind = e.get("event")
        if kind == "summary":
            facts["summary"] = e
            facts["verdict"] = e["verdict"]
        elif kind == "hcl_verdict":
            facts["verdict"] = e["verdict"]
            facts["hcl_peak"] = e["peak"]
        elif kind == "fault":
            addr = e["paddr"] if e["paddr"] != "0x0" else "virt " + e["vaddr"]
            facts["faults"][addr] = max(facts["faults"].get(addr, 0), e["count"])
        elif kind == "bench_point":
            facts["bench"][e["op"]] = facts["bench"].get(e["op"], 0) + 1
        elif kind == "hcl_point" and e.get("phase") == "sweep" and e.get("op") == "read":
            facts["sweep_read"] += 1
    return facts


def check_page(name, page, stream, verdict=None, height=2400):
    out = os.path.dirname(page)
    print("page " + name, flush=True)
    dom, console, requests = browse(page, os.path.join(out, name + ".png"), out, height)
    expect(name + " console messages", console, [])
    expect(name + " requests", requests, [])
    seen = page_check.check(dom)
    expect(name + " DOM problems", seen["problems"], [])
    facts = stream_facts(stream_of(stream))
    text = seen["text"]
    expect(name + " verdict", text.get("verdict"), verdict or facts["verdict"])
    if facts["summary"] is not None:
        summary = facts["summary"]
        expect(name + " hard", text.get("hard-count"), str(summary["hard"]))
        expect(name + " transient", text.get("transient-count"), str(summary["transient"]))
        tested = "(%d bytes)" % summary["covered_total"]
        if tested not in text.get("bytes-tested", ""):
            fail("%s bytes tested: %r holds no %r" % (name, text.get("bytes-tested"), tested))
        if summary["duration"] < 60:
            expect(name + " duration", text.get("duration"), "%.1f s" % summary["duration"])
    if facts["hcl_peak"] is not None:
        expect(name + " peak read", text.get("peak-read"), "%.2f GB/s" % facts["hcl_peak"]["read_gbs"])
        expect(name + " peak write", text.get("peak-write"), "%.2f GB/s" % facts["hcl_peak"]["write_gbs"])
    rows = {row[0]: int(row[-1]) for row in seen["tables"].get("fault-table", [])[1:]}
    expect(name + " faults", rows, facts["faults"])
    for op, count in facts["bench"].items():
        plot = "latency-plot" if op == "latency" else "bandwidth-plot"
        expect(name + " points of " + op, seen["series"].get(plot + "/" + op), count)
    if facts["sweep_read"]:
        expect(name + " sweep points", seen["series"].get("sweep-plot/read"), facts["sweep_read"])
    return seen


def run(args, stream=None, env=None, stop_after_progress=False):
    with open(stream or os.devnull, "w") as out:
        p = subprocess.Popen(args, stdout=subprocess.PIPE if stop_after_progress else out,
                             stderr=subprocess.PIPE, text=True, env=env)
        if stop_after_progress:
            # Ctrl-C once the run has said it is testing: waited for, not timed.
            for line in p.stdout:
                out.write(line)
                if '"event":"progress"' in line:
                    p.send_signal(signal.SIGINT)
                    break
            for line in p.stdout:
                out.write(line)
        p.wait(timeout=600)
        return p.returncode


def main():
    if CHROMIUM is None:
        print("chromium is not installed")
        return 77
    dravik, report_tests, out = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(out, exist_ok=True)
    o = lambda name: os.path.join(out, name)  # noqa: E731

    # The checks see what they look for.
    with open(o("control.html"), "w") as f:
        f.write('<!DOCTYPE html><html><body><p id="verdict">X</p>'
                '<script>console.error("control")</script><img src="http://192.0.2.1/x.png"></body></html>')
    _, console, requests = browse(o("control.html"), o("control.png"), out)
    if not console or not requests:
        fail("the control page's console message or request went unseen: %r %r" % (console, requests))

    expect("quick run", run([dravik, "--quick", "--mem", "16M", "--json", "--report", o("pass.html")],
                            o("pass.jsonl")), 0)
    check_page("pass", o("pass.html"), o("pass.jsonl"))

    env = dict(os.environ, DRAVIK_REPORT_PAGES=out)
    expect("planted fault", subprocess.run(
        [report_tests, "--gtest_filter=ReportRunBinary.APlantedFault*:ReportRunBinary.ASavedStream*"], env=env,
        capture_output=True).returncode, 0)
    # Its screenshot is the README's picture (docs/report-fail.png).
    check_page("fail", o("fail.html"), o("fail.jsonl"), height=1560)
    # A saved stream with its start line glued to the next and its summary cut.
    check_page("torn", o("torn.html"), o("torn.jsonl"), verdict="not in the stream")

    expect("saved stream", run([dravik, "--report-from", o("fail.jsonl"), "--report", o("saved.html")]), 0)
    check_page("saved", o("saved.html"), o("fail.jsonl"))

    expect("benchmark", run([dravik, "--bench", "--mem", "32M", "--json", "--report", o("bench.html")],
                            o("bench.jsonl")), 0)
    check_page("bench", o("bench.html"), o("bench.jsonl"), verdict="BENCHMARK")

    status = run([dravik, "--hcl", "--tier", "quick", "--duration", "1", "--mem", "64M", "--threads", "2",
                  "--json", "--report", o("hcl.html")], o("hcl.jsonl"))
    if status not in (0, 1, 2, 3):
        fail("qualification exit status %d" % status)
    check_page("hcl", o("hcl.html"), o("hcl.jsonl"))

    status = run([dravik, "--quick", "--mem", "64M", "--passes", "0", "--json", "--report", o("stop.html")],
                 o("stop.jsonl"), stop_after_progress=True)
    expect("stopped run", status, 0)
    seen = check_page("stop", o("stop.html"), o("stop.jsonl"))
    expect("stopped run's end reason", seen["text"].get("end-reason"), "stopped by user")

    print("screenshots in " + out)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
