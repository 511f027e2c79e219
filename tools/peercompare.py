#!/usr/bin/env python3
"""peercompare: renders the first pages of corpus files with our converter,
mutool and Ghostscript, and tells for each page whether ours is as close to
a reference as the references are to each other. The references are the
two peers' renderings and, where one lies beside the document, its expected
picture (NAME.expected.N.png for page N+1, drawn at 72 dpi).

    tools/peercompare.py [--convertdoc PATH] [--dpi 72] [--pages 3]
                         [--keep DIR] [--jobs N] [FILE ...]

FILE is a name in the corpus folder or a glob over it ("pdfjs-*"); without
one, every file of the corpus manifest. Each rendering is reduced to a
quarter of its size (a box filter, which evens out anti-aliasing on both
sides) and compared by the root mean square of the channel differences, on
a scale of 0..255. A page holds against a reference when our distance to it
is at most the distance between the two closest references plus a small
margin (the margin alone when there is one reference): a reference that
stands apart from the others does not widen the bound. The verdict is "ok"
when the page holds against the nearest reference. The last lines count the
pages that hold per reference. With --keep the renderings stay in DIR for a
look; --reuse takes those already in DIR instead of rendering again.

A development tool: the tests do not run it.
"""

import argparse
import concurrent.futures
import fnmatch
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
CORPUS = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus"))

# The peers themselves differ by about this much on plain text pages; a page
# of ours within it of either peer is as close as they are to each other.
MARGIN = 2.0


def manifest():
    """(file, password) of every row of the corpus manifest."""
    rows = []
    with open(os.path.join(CORPUS, "MANIFEST.tsv"), encoding="utf-8") as f:
        next(f)
        for line in f:
            cells = line.rstrip("\n").split("\t")
            if cells and cells[0].endswith(".pdf"):
                # "user=u; owner=o": the user password opens the file for all three.
                found = re.search(r"user=([^;]*)", cells[5]) if len(cells) > 5 else None
                rows.append((cells[0], found.group(1).strip() if found else ""))
    return rows


def run(command, timeout=120):
    try:
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        pass


def size(png):
    out = subprocess.run(["identify", "-format", "%w %h", png], capture_output=True, text=True).stdout.split()
    return (int(out[0]), int(out[1])) if len(out) == 2 else None


def reduce(png, width, height):
    """The top-left width x height of the image reduced to a quarter (a box
    filter), as raw RGB bytes."""
    out = subprocess.run(["convert", png, "-alpha", "remove", "-crop", "%dx%d+0+0" % (width, height), "+repage",
                          "-filter", "box", "-resize", "%dx%d!" % (width // 4, height // 4), "-depth", "8",
                          "rgb:-"], capture_output=True)
    return out.stdout if out.returncode == 0 else None


def distance(a, b):
    """RMSE of two renderings over their common area, reduced to a quarter;
    None when one is missing or the sizes differ by more than a few pixels
    (another page box)."""
    if a is None or b is None:
        return None
    sa, sb = size(a), size(b)
    if sa is None or sb is None or abs(sa[0] - sb[0]) > 3 or abs(sa[1] - sb[1]) > 3:
        return None
    w, h = min(sa[0], sb[0]), min(sa[1], sb[1])
    pa, pb = reduce(a, w, h), reduce(b, w, h)
    if not pa or not pb or len(pa) != len(pb):
        return None
    total = sum((x - z) * (x - z) for x, z in zip(pa, pb))
    return (total / len(pa)) ** 0.5


def page_count(path, password):
    command = ["qpdf", "--show-npages", path]
    if password:
        command[1:1] = ["--password=" + password]
    try:
        out = subprocess.run(command, capture_output=True, text=True, timeout=60).stdout.strip()
        return int(out)
    except (ValueError, subprocess.TimeoutExpired):
        out = subprocess.run(["mutool", "info", path], capture_output=True, text=True).stdout
        found = re.search(r"Pages:\s*(\d+)", out)
        return int(found.group(1)) if found else 1


def render_file(name, password, args, folder):
    path = os.path.join(CORPUS, name)
    pages = min(args.pages, max(1, page_count(path, password)))
    stem = os.path.join(folder, name[:-4])
    if args.reuse:
        return compare_pages(name, pages, folder, stem, args)
    ours = [args.convertdoc, path, folder + "/", str(args.dpi), "5", "1", str(pages)]
    if password:
        ours.append(password)
    run(ours)
    mutool = ["mutool", "draw", "-q", "-r", str(args.dpi), "-c", "rgb", "-o", stem + "-mu%d.png"]
    if password:
        mutool += ["-p", password]
    run(mutool + [path, "1-%d" % pages])
    gs = ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-dUseCropBox", "-sDEVICE=png16m", "-r%d" % args.dpi,
          "-dFirstPage=1", "-dLastPage=%d" % pages, "-sOutputFile=" + stem + "-gs%d.png"]
    if password:
        gs.append("-sPDFPassword=" + password)
    run(gs + [path])
    return compare_pages(name, pages, folder, stem, args)


def compare_pages(name, pages, folder, stem, args):
    results = []
    for page in range(1, pages + 1):
        mine = os.path.join(folder, "%s%05d.png" % (name[:-4], page))
        expected = os.path.join(CORPUS, "%s.expected.%d.png" % (name[:-4], page - 1)) if args.dpi == 72 else ""
        images = {k: p if p and os.path.exists(p) else None
                  for k, p in (("ours", mine), ("mu", "%s-mu%d.png" % (stem, page)),
                               ("gs", "%s-gs%d.png" % (stem, page)), ("exp", expected))}
        d = {}
        for a, b in (("ours", "mu"), ("ours", "gs"), ("ours", "exp"), ("mu", "gs"), ("mu", "exp"), ("gs", "exp")):
            d[a, b] = d[b, a] = distance(images[a], images[b])
        results.append((name, page, d, {k: images[k] is not None for k in REFERENCES}))
    return results


REFERENCES = ("mu", "gs", "exp")


def holds(d, present, reference):
    """Whether ours is as close to the reference as the two closest
    references are to each other (plus the margin); None when there is no
    distance."""
    ours = d["ours", reference]
    if ours is None:
        return None
    spread = [d[a, b] for a in REFERENCES for b in REFERENCES if a < b and present[a] and present[b]]
    spread = [x for x in spread if x is not None]
    return ours <= (min(spread) if spread else 0) + MARGIN


def verdict(d, present):
    ours = [(d["ours", r], r) for r in REFERENCES if d["ours", r] is not None]
    if not ours:
        return "none"
    return "ok" if holds(d, present, min(ours)[1]) else "far"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--convertdoc", default=os.path.join(ROOT, "build", "release", "tools", "convertdoc"))
    parser.add_argument("--dpi", type=int, default=72)
    parser.add_argument("--pages", type=int, default=3)
    parser.add_argument("--keep", help="folder that keeps the renderings")
    parser.add_argument("--reuse", action="store_true", help="compare the renderings kept in --keep again")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 4)
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()

    rows = manifest()
    if args.files:
        rows = [r for r in rows if any(fnmatch.fnmatch(r[0], f) for f in args.files)]
    folder = args.keep or tempfile.mkdtemp(prefix="peercompare-")
    os.makedirs(folder, exist_ok=True)
    results = []
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        for part in pool.map(lambda r: render_file(r[0], r[1], args, folder), rows):
            results.extend(part)

    fmt = lambda x: "   -  " if x is None else "%6.2f" % x
    counts = {r: [0, 0] for r in REFERENCES + ("nearest",)}
    print("%-44s %4s %7s %7s %7s %7s %7s %7s  %s" % ("file", "page", "ours~mu", "ours~gs", "ours~ex", "mu~gs",
                                                      "mu~ex", "gs~ex", "verdict"))
    for name, page, d, present in sorted(results, key=lambda r: (r[0], r[1])):
        v = verdict(d, present)
        for r in REFERENCES:
            h = holds(d, present, r)
            if h is not None:
                counts[r][0] += h
                counts[r][1] += 1
        counts["nearest"][0] += v == "ok"
        counts["nearest"][1] += 1
        print("%-44s %4d %7s %7s %7s %7s %7s %7s  %s" % (
            name, page, fmt(d["ours", "mu"]), fmt(d["ours", "gs"]), fmt(d["ours", "exp"]), fmt(d["mu", "gs"]),
            fmt(d["mu", "exp"]), fmt(d["gs", "exp"]), v))
    for r, label in (("mu", "mutool"), ("gs", "Ghostscript"), ("exp", "expected picture"),
                     ("nearest", "nearest of them")):
        print("%d of %d pages hold against %s" % (counts[r][0], counts[r][1], label))
    if not args.keep:
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    sys.exit(main())
