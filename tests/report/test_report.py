#!/usr/bin/env python3
"""The run report in a real browser.

Writes the reports of a Rosenbrock run, a run of the tool driver (two runs), a diverging
run (f falls without bound), a run that meets a region where f is not finite, a
12-parameter run and a least-squares fit to data with error bars (vrnmath fit) with the
vrnmath program, checks that each is well-formed HTML whose SVG
pictures are well-formed XML, then loads each from a file:// URL in headless Chromium: the
page must load without console messages, its screenshot must not be blank, and the DOM
must hold the summary's SVG text and the marks that show each case drawn as it should be
(run boundaries, the diverging flag, the shaded non-finite region, no numbers in the
cells of a 12 x 12 heat map; for the fit its parameter table, the data-and-fit plot with
its error bars and the residual plot). Without a browser that starts, the test is skipped (exit
code 77) with a message saying why.

    test_report.py --vrnmath build/apps/vrnmath --out DIR [--docs docs/images]

--docs also copies the Rosenbrock screenshot there (docs/images/report.png).
"""

import argparse
import html.parser
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

SKIP = 77
BROWSER_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--hide-scrollbars", "--enable-logging=stderr", "--v=0"]
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}
# Elements inside inline SVG that may be written self-closed.
SVG_EMPTY = {"rect", "line", "circle", "ellipse", "polyline", "polygon", "path", "stop"}

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)
    return ok


class Structure(html.parser.HTMLParser):
    """Checks that every element that is opened is closed, in order."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.stack = []
        self.errors = []
        self.tags = set()

    def handle_starttag(self, tag, attrs):
        self.tags.add(tag)
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        self.tags.add(tag)
        if tag not in VOID and tag not in SVG_EMPTY:
            self.errors.append("self-closed <%s/>" % tag)

    def handle_endtag(self, tag):
        if not self.stack or self.stack[-1] != tag:
            self.errors.append("</%s> closes <%s>" % (tag, self.stack[-1] if self.stack else "nothing"))
            if tag in self.stack:
                while self.stack and self.stack.pop() != tag:
                    pass
        else:
            self.stack.pop()


def svg_blocks(page):
    """The top-level <svg>...</svg> pieces of the page."""
    blocks, depth, start, i = [], 0, 0, 0
    while True:
        o = page.find("<svg", i)
        c = page.find("</svg>", i)
        if c < 0:
            break
        if 0 <= o < c:
            if depth == 0:
                start = o
            depth += 1
            i = o + 4
        else:
            depth -= 1
            i = c + 6
            if depth == 0:
                blocks.append(page[start:i])
    return blocks


def validate(path):
    with open(path, encoding="utf-8") as f:
        page = f.read()
    p = Structure()
    p.feed(page)
    p.close()
    check(not p.errors, "%s: HTML structure: %s" % (path, "; ".join(p.errors[:5])))
    check(not p.stack, "%s: elements left open: %s" % (path, p.stack))
    check("script" not in p.tags, "%s: holds a script" % path)
    for attr in ("src=", "href=", "url(", "@import"):
        check(attr not in page, "%s: refers to something outside the page (%s)" % (path, attr))
    blocks = svg_blocks(page)
    check(len(blocks) >= 5, "%s: only %d SVG pictures" % (path, len(blocks)))
    for k, b in enumerate(blocks):
        try:
            ET.fromstring(b)
        except ET.ParseError as e:
            check(False, "%s: SVG %d is not well-formed XML: %s" % (path, k, e))
    return page


def png_pixels(path):
    """Width, height and grey values of an 8-bit RGB(A) or grey PNG (no interlace)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or interlace != 0 or colour not in (0, 2, 6):
                raise ValueError("PNG form not handled: depth %d colour %d interlace %d" % (depth, colour, interlace))
            bpp = {0: 1, 2: 3, 6: 4}[colour]
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * bpp
    prev = bytearray(stride)
    grey = []
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                pr = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pr) & 255
        prev = line
        if y % 4 == 0:  # every fourth row and column is plenty for the statistics
            for x in range(0, width, 4):
                px = line[x * bpp:x * bpp + 3] if bpp >= 3 else line[x:x + 1] * 3
                grey.append((px[0] * 30 + px[1] * 59 + px[2] * 11) // 100)
    return width, height, grey


def find_browser():
    for name in ("chromium", "chromium-browser", "google-chrome", "google-chrome-stable"):
        exe = shutil.which(name)
        if exe:
            return exe
    return None


def run_browser(exe, args, profile):
    cmd = [exe] + BROWSER_FLAGS + ["--user-data-dir=" + profile] + args
    return subprocess.run(cmd, capture_output=True, timeout=180)


def console_messages(stderr):
    return [l for l in stderr.splitlines() if ":CONSOLE" in l]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vrnmath", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--docs", default="")
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)

    names = ["x%d" % i for i in range(1, 13)]
    formula = "+".join("%d*(%s-%d)^2" % (i + 1, n, i % 4) for i, n in enumerate(names)) + "+(x1-x2)^2*(x3+2)^2"
    # key: (program arguments, texts the DOM must hold, texts it must not hold)
    runs = {
        "rosenbrock": (["--problem", "rosenbrock", "--method", "3"],
                       ["Success", "f\u2080 = 24.2", "rosenbrock, method 3", 'class="start"', 'class="end"',
                        'class="hv"'],
                       ["rotate(-45", "diverging", 'class="runmark"']),
        "tool": (["--problem", "rosenbrock", "--tool"],
                 ["Success", "tool driver, 2 runs", 'class="runmark"', ">run 2<", "iteration (all runs)"],
                 ["rotate(-45"]),
        "diverging": (["--f", "-x^2-y^2", "--x0", "x=1,y=0.5"],
                      ["No success", "Objective f (signed)", "diverging: f falls without bound",
                       "this is not convergence"],
                      ["f \u2212 min f"]),
        "nonfinite": (["--f", "(x-1)^2 + y^2 + sqrt(1.5-x)", "--x0", "x=-1,y=1"],
                      ["f not finite", 'class="nonfinite"'], []),
        "twelve": (["--f", formula, "--x0", ",".join("%s=%g" % (n, 0.5 * (i + 1)) for i, n in enumerate(names))],
                   ["Success", ">x12<", "Model Hessian at the end", "Eigenvalue spectrum"],
                   ['class="hv"', "rotate(-45"]),
    }
    # A fit (its arguments start with the command): y = 5 exp(-0.7 t) + 1.5 with a wiggle.
    csv = os.path.join(a.out, "decay.csv")
    with open(csv, "w") as f:
        f.write("t,p,s\n")
        for i in range(30):
            t = 0.25 * i
            f.write("%r,%r,0.05\n" % (t, 5 * math.exp(-0.7 * t) + 1.5 + 0.02 * math.sin(13 * t)))
    runs["fit"] = (["fit", "--model", "a*exp(-b*t)+c", "--data", csv, "--x", "t", "--y", "p", "--sigma", "s",
                    "--p0", "a=4,b=1"],
                   ["Success", "Fit report", 'id="fit-parameters"', 'id="fit-correlation"', ">Standard error<",
                    'aria-label="Data and fit"', 'aria-label="Residuals"', 'class="errbar"'],
                   ["rotate(-45"])
    # Runs that do not succeed, on purpose (the program exits 1 for them).
    failing = {"diverging", "nonfinite"}
    pages = {}
    for key, (args, _, _) in runs.items():
        path = os.path.join(a.out, key + ".html")
        command = args if args[0] == "fit" else ["minimize", "--quiet"] + args
        r = subprocess.run([a.vrnmath] + command + ["--report", path],
                           capture_output=True, text=True, timeout=300)
        expected = 1 if key in failing else 0
        check(r.returncode == expected, "%s: vrnmath exited with %d, not %d: %s%s" %
              (key, r.returncode, expected, r.stdout, r.stderr))
        check("Report:       written to" in r.stdout, "%s: the program does not say where the report is" % key)
        if os.path.exists(path):
            pages[key] = validate(path)

    exe = find_browser()
    if not exe:
        print("SKIP: no Chromium or Chrome found (install the Debian package chromium); "
              "the HTML and SVG checks above %s" % ("failed" if failures else "passed"))
        return 1 if failures else SKIP
    profile_root = tempfile.mkdtemp(prefix="vrn-report-browser-")
    try:
        probe = run_browser(exe, ["--dump-dom", "about:blank"], os.path.join(profile_root, "probe"))
        if probe.returncode != 0 or b"<html" not in probe.stdout:
            print("SKIP: %s does not start here (exit %d): %s" % (exe, probe.returncode,
                                                                   probe.stderr.decode(errors="replace")[-600:]))
            return 1 if failures else SKIP
        for key, (_, texts, absent) in runs.items():
            if key not in pages:
                continue
            url = "file://" + os.path.abspath(os.path.join(a.out, key + ".html"))
            shot = os.path.join(a.out, key + ".png")
            if os.path.exists(shot):
                os.remove(shot)
            r = run_browser(exe, ["--screenshot=" + shot, "--window-size=1040,1500", url],
                            os.path.join(profile_root, key + "-shot"))
            check(r.returncode == 0 and os.path.exists(shot), "%s: no screenshot (exit %d)" % (key, r.returncode))
            messages = console_messages(r.stderr.decode(errors="replace"))
            check(not messages, "%s: console messages while loading: %s" % (key, messages[:3]))
            if os.path.exists(shot):
                w, h, grey = png_pixels(shot)
                mean = sum(grey) / len(grey)
                var = sum((g - mean) ** 2 for g in grey) / len(grey)
                inked = sum(1 for g in grey if g < 200) / len(grey)
                print("%s: screenshot %s, %dx%d, grey variance %.0f, %.1f%% inked" % (key, shot, w, h, var, 100 * inked))
                check(var > 200 and inked > 0.01, "%s: the screenshot looks blank (variance %.0f)" % (key, var))
            d = run_browser(exe, ["--dump-dom", url], os.path.join(profile_root, key + "-dom"))
            dom = d.stdout.decode(errors="replace")
            check(d.returncode == 0 and "</html>" in dom, "%s: --dump-dom gave no page" % key)
            messages = console_messages(d.stderr.decode(errors="replace"))
            check(not messages, "%s: console messages in --dump-dom: %s" % (key, messages[:3]))
            check('id="verdict"' in dom, "%s: the summary's SVG verdict is not in the DOM" % key)
            for t in texts:
                check(t in dom, "%s: %r is not in the DOM" % (key, t))
            for t in absent:
                check(t not in dom, "%s: %r is in the DOM" % (key, t))
            sections = ["summary", "convergence", "steps", "parameters", "hessian", "settings", "log"]
            if key == "fit":
                sections.append("fit")
            for section in sections:
                check('id="%s"' % section in dom, "%s: section %s missing from the DOM" % (key, section))
        if a.docs and os.path.exists(os.path.join(a.out, "rosenbrock.png")) and not failures:
            os.makedirs(a.docs, exist_ok=True)
            shutil.copyfile(os.path.join(a.out, "rosenbrock.png"), os.path.join(a.docs, "report.png"))
            print("copied the Rosenbrock screenshot to " + os.path.join(a.docs, "report.png"))
    finally:
        shutil.rmtree(profile_root, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("report browser test passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
