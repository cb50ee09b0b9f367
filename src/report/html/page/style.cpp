// The page's style sheet, inline in every page: light colours, dark ones
// when the reader's system prefers them, and a print layout in black on
// white. Status colours only ever repeat a word written beside them.
#include "report/html/page/parts.h"

namespace dravik::html {

namespace {

#define DRAVIK_LIGHT_COLOURS                                                                   \
  "--bg:#fff;--fg:#1f2328;--muted:#59636e;--line:#d1d9e0;--card:#f6f8fa;"                      \
  "--pass:#1a7f37;--warn:#9a6700;--fail:#cf222e;--info:#0969da;"                               \
  "--c0:#0969da;--c1:#bc4c00;--c2:#8250df;--c3:#1a7f37;--c4:#cf222e;--c5:#59636e;"             \
  "--m-untested:#d1d9e0;--m-tested:#4ac26b;--m-hard:#cf222e;--m-transient:#d4a72c;"            \
  "--m-active:#54aeff;--m-reserved:#f0f3f6;--m-system:#818b98;"

constexpr const char kStyle[] =
    ":root{color-scheme:light dark;" DRAVIK_LIGHT_COLOURS "}\n"
    "@media (prefers-color-scheme:dark){:root{"
    "--bg:#0d1117;--fg:#e6edf3;--muted:#9198a1;--line:#3d444d;--card:#151b23;"
    "--pass:#3fb950;--warn:#d29922;--fail:#f85149;--info:#4493f8;"
    "--c0:#4493f8;--c1:#ffa657;--c2:#bc8cff;--c3:#3fb950;--c4:#ff7b72;--c5:#9198a1;"
    "--m-untested:#3d444d;--m-tested:#2ea043;--m-hard:#f85149;--m-transient:#d29922;"
    "--m-active:#1f6feb;--m-reserved:#151b23;--m-system:#656c76;}}\n"
    "body{font:14px/1.45 system-ui,'Segoe UI',Roboto,'DejaVu Sans',sans-serif;background:var(--bg);"
    "color:var(--fg);margin:0 auto;max-width:980px;padding:12px 20px}\n"
    "h1{font-size:20px;margin:8px 0}h2{font-size:17px;margin:22px 0 6px;border-bottom:1px solid "
    "var(--line);padding-bottom:2px}\n"
    ".banner{border:3px solid var(--info);border-radius:8px;padding:6px 16px;margin:10px 0 14px;"
    "background:var(--card)}\n"
    ".banner.pass{border-color:var(--pass)}.banner.warn{border-color:var(--warn)}"
    ".banner.fail{border-color:var(--fail)}\n"
    ".verdict{font-size:26px;margin:4px 0}.banner.pass strong#verdict{color:var(--pass)}"
    ".banner.warn strong#verdict{color:var(--warn)}.banner.fail strong#verdict{color:var(--fail)}\n"
    ".tag{display:inline-block;padding:0 6px;border:1px solid currentColor;border-radius:4px;"
    "font-weight:600;font-size:12px;white-space:nowrap}\n"
    ".pass{color:var(--pass)}.warn{color:var(--warn)}.fail{color:var(--fail)}.info{color:var(--info)}\n"
    ".banner.pass,.banner.warn,.banner.fail,.banner.info{color:var(--fg)}\n"
    "td.pass,td.warn,td.fail{font-weight:600}\n"
    "table{border-collapse:collapse}table.data{width:100%;font-size:13px}"
    "th,td{text-align:left;padding:2px 8px;border-bottom:1px solid var(--line);vertical-align:top}\n"
    "#klog-table td:nth-child(4),.fig,code{overflow-wrap:anywhere}\n"
    "table.facts th{font-weight:600;color:var(--muted);padding-right:16px;white-space:nowrap}\n"
    "td.addr,code,td.count{font-family:ui-monospace,'DejaVu Sans Mono',monospace}\n"
    "#fault-table td{font-family:ui-monospace,'DejaVu Sans Mono',monospace}\n"
    ".fig{display:inline-block;margin-right:10px}\n"
    ".missing{color:var(--muted);font-style:italic}.note{color:var(--muted)}\n"
    "figure{margin:8px 0}figure svg{width:100%;height:auto;display:block}"
    "figcaption{color:var(--muted);font-size:12px}\n"
    "svg text{fill:var(--fg);font-size:11px}svg .label{fill:var(--muted)}\n"
    ".grid{stroke:var(--line);stroke-width:1}.frame{stroke:var(--muted);stroke-width:1}\n"
    ".series polyline,.series line{fill:none;stroke-width:2}\n"
    ".s0 polyline,.s0 line{stroke:var(--c0)}.s0 circle{fill:var(--c0)}\n"
    ".s1 polyline,.s1 line{stroke:var(--c1);stroke-dasharray:7 3}.s1 circle{fill:var(--c1)}\n"
    ".s2 polyline,.s2 line{stroke:var(--c2);stroke-dasharray:2 3}.s2 circle{fill:var(--c2)}\n"
    ".s3 polyline,.s3 line{stroke:var(--c3);stroke-dasharray:10 3 2 3}.s3 circle{fill:var(--c3)}\n"
    ".s4 polyline,.s4 line{stroke:var(--c4)}.s4 circle{fill:var(--c4)}\n"
    ".s5 polyline,.s5 line{stroke:var(--c5)}.s5 circle{fill:var(--c5)}\n"
    ".rule line{stroke:var(--muted);stroke-width:1.5;stroke-dasharray:5 4}"
    ".rule.r1 line{stroke-dasharray:2 3}.rule.r2 line{stroke-dasharray:9 3}"
    ".rule text{fill:var(--muted)}\n"
    ".bar rect{fill:var(--info)}.bar.pass rect{fill:var(--pass)}.bar.warn rect{fill:var(--warn)}"
    ".bar.fail rect{fill:var(--fail)}\n"
    ".map svg{border:1px solid var(--line)}\n"
    ".c-untested{fill:var(--m-untested)}.c-tested{fill:var(--m-tested)}"
    ".c-hard{fill:var(--m-hard);stroke:var(--fg);stroke-width:1}"
    ".c-transient{fill:var(--m-transient);stroke:var(--fg);stroke-width:1;stroke-dasharray:2 1}"
    ".c-active{fill:var(--m-active)}.c-reserved{fill:var(--m-reserved)}.c-system{fill:var(--m-system)}\n"
    "ul.legend{list-style:none;padding:0;margin:4px 0}ul.legend li{display:inline-block;"
    "margin-right:16px}ul.legend svg{width:14px;height:14px;display:inline-block;"
    "vertical-align:middle}\n"
    "#klog-table td:first-child,#history-table td:first-child{white-space:nowrap}\n"
    "footer{margin-top:24px;color:var(--muted);font-size:12px;border-top:1px solid var(--line);"
    "padding-top:6px}\n"
    "@media print{:root{" DRAVIK_LIGHT_COLOURS "--bg:#fff;--fg:#000;--card:#fff}"
    "body{max-width:none;padding:0;font-size:11px}table.data{font-size:10px}"
    "h2{break-after:avoid}figure,tr,.banner{break-inside:avoid}.banner{border-width:2px}}\n";

#undef DRAVIK_LIGHT_COLOURS

}  // namespace

const char* page_style() { return kStyle; }

}  // namespace dravik::html
