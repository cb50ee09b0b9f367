#!/usr/bin/env python3
# Reads a report page (or a DOM a browser dumped) with Python's HTML parser
# and prints what a test compares with the run's JSON stream, as one JSON
# object: the verdict, the fault table's rows, the figures by element id,
# the markers of each plot series, and the problems found (an element left
# open or closed out of order, a script, a reference to anything outside
# the page). Exit status 1 when there is a problem.
import json
import re
import sys
from html.parser import HTMLParser

VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source",
        "track", "wbr"}
# SVG elements written self-closed in the page.
SELF_CLOSED_OK = {"line", "circle", "rect", "path", "polyline", "polygon"}
OUTSIDE = re.compile(r"^\s*(https?:|//|ftp:|data:|file:)", re.I)


class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.problems = []
        self.ids = {}
        self.captures = []  # (id, depth) of the open elements whose text is taken
        self.text = {}
        self.table = None
        self.rows = {}
        self.row = None
        self.cell = None
        self.series = {}
        self.series_stack = []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "script":
            self.problems.append("script element")
        for name, value in attrs:
            if name.startswith("on"):
                self.problems.append("event handler attribute " + name)
            if name in ("src", "href", "xlink:href", "action", "poster", "srcset") and value is not None:
                if OUTSIDE.match(value) or name == "src":
                    self.problems.append("outside reference %s=%s" % (name, value))
            if name == "style" and value and "url(" in value:
                self.problems.append("url() in a style attribute")
        if tag in ("link", "iframe", "object", "embed", "img", "image", "use"):
            self.problems.append("element that loads: " + tag)
        if tag not in VOID:
            self.stack.append(tag)
        if "id" in a and tag not in VOID:
            self.captures.append((a["id"], len(self.stack)))
            self.text[a["id"]] = ""
        if tag == "table" and "id" in a:
            self.table = a["id"]
            self.rows[self.table] = []
        if tag == "tr" and self.table:
            self.row = []
        if tag in ("td", "th") and self.row is not None:
            self.cell = ""
        if tag == "g" and "series" in a.get("class", "").split() and "data-series" in a:
            fig = self.enclosing_figure()
            key = "%s/%s" % (fig, a["data-series"])
            if "legend" in a.get("class", "").split():
                key = None
            self.series_stack.append((key, len(self.stack)))
            if key:
                self.series[key] = 0
        if tag == "circle" and self.series_stack and self.series_stack[-1][0]:
            self.series[self.series_stack[-1][0]] += 1
        if tag == "figure":
            self.figures.append(a.get("id", ""))

    figures = []

    def enclosing_figure(self):
        return self.figures[-1] if self.figures else ""

    def handle_startendtag(self, tag, attrs):
        self.handle_starttag(tag, attrs)
        if tag not in VOID:
            if tag not in SELF_CLOSED_OK:
                self.problems.append("self-closed " + tag)
            self.handle_endtag(tag)

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            self.problems.append("end tag %s while %s is open" % (tag, self.stack[-1] if self.stack else "nothing"))
            if tag in self.stack:
                while self.stack and self.stack[-1] != tag:
                    self.stack.pop()
        if self.stack:
            self.stack.pop()
        while self.captures and len(self.stack) < self.captures[-1][1]:
            self.captures.pop()
        if tag in ("td", "th") and self.row is not None and self.cell is not None:
            self.row.append(self.cell.strip())
            self.cell = None
        if tag == "tr" and self.row is not None and self.table:
            self.rows[self.table].append(self.row)
            self.row = None
        if tag == "table":
            self.table = None
        if self.series_stack and len(self.stack) < self.series_stack[-1][1]:
            self.series_stack.pop()

    def handle_data(self, data):
        for key, _ in self.captures:
            self.text[key] += data
        if self.cell is not None:
            self.cell += data


def check(text):
    Page.figures = []
    p = Page()
    p.feed(text)
    p.close()
    if p.stack and p.stack != ["html"] and p.stack != ["html", "body"]:
        p.problems.append("left open: " + " ".join(p.stack))
    if not text.lstrip().lower().startswith("<!doctype html>") and "<html" not in text[:200].lower():
        p.problems.append("no doctype")
    return {
        "problems": p.problems,
        "text": {k: " ".join(v.split()) for k, v in p.text.items()},
        "tables": p.rows,
        "series": p.series,
        "bytes": len(text.encode("utf-8")),
    }


if __name__ == "__main__":
    with open(sys.argv[1], encoding="utf-8") as f:
        result = check(f.read())
    json.dump(result, sys.stdout)
    sys.exit(1 if result["problems"] else 0)
