#!/usr/bin/python3
"""The photo formats beside the JPEG floor: for each kind folder of the photo corpus (heic/,
webp/, ...), each photo's time in one parvula-cli run (Lanczos3, 200 x 200, JPEG quality 90, one
worker) over the library's decode-only time for the same file. Prints a Markdown table.

Usage: bench/photo_formats.py [--photos DIR] [--kinds heic webp] [--runs 3]
         [--cli build/bin/parvula-cli] [--decode build/bin/parvula-bench-decode-photo]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def run_times(cli, files, out_dir):
    """Each photo timed from the previous thumbnail's line to its own; a copy of the first photo
    opens the run so that every photo has a predecessor."""
    args = [cli, "--jobs", "1", "--width", "200", "--height", "200", "--filter", "lanczos3",
            "--format", "jpg", "--quality", "90", "--output-dir", out_dir] + files
    process = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    times = {}
    last = time.monotonic()
    for line in process.stdout:
        now = time.monotonic()
        if " -> " in line:
            times[line.split(" -> ")[0]] = now - last
        last = now
    if process.wait() != 0:
        raise SystemExit("parvula-cli failed")
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--photos", default=os.environ.get("PARVULA_PHOTO_CORPUS", "/tmp/parvula-photos"))
    parser.add_argument("--kinds", nargs="+", default=["heic", "webp"])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cli", default="build/bin/parvula-cli")
    parser.add_argument("--decode", default="build/bin/parvula-bench-decode-photo")
    a = parser.parse_args()
    print("| Kind | photos | median MP | median decode-only s | median s per photo in one run "
          "| median ratio to decode | max ratio |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for kind in a.kinds:
        folder = os.path.join(a.photos, kind)
        names = sorted(n for n in os.listdir(folder) if not n.startswith("."))
        with tempfile.TemporaryDirectory() as work:
            src = os.path.join(work, "src")
            os.mkdir(src)
            files = []
            for n in names:
                shutil.copy(os.path.join(folder, n), src)
                files.append(os.path.join(src, n))
            warm = os.path.join(src, "000_warmup" + os.path.splitext(names[0])[1])
            shutil.copy(files[0], warm)
            floors = {f: [] for f in files}
            runs = {f: [] for f in files}
            sizes = {}
            for r in range(a.runs):
                out = subprocess.run([a.decode] + files, check=True, capture_output=True, text=True).stdout
                for line in out.splitlines():
                    s, w, h, path = line.split(" ", 3)
                    floors[path].append(float(s))
                    sizes[path] = int(w) * int(h) / 1e6
                out_dir = os.path.join(work, "out%d" % r)
                times = run_times(a.cli, [warm] + files, out_dir)
                for f in files:
                    runs[f].append(times[f])
            ratios = [statistics.median(runs[f]) / statistics.median(floors[f]) for f in files]
            print("| %s | %d | %.1f | %.3f | %.3f | %.2f | %.2f |" % (
                kind, len(files), statistics.median(sizes.values()),
                statistics.median(statistics.median(floors[f]) for f in files),
                statistics.median(statistics.median(runs[f]) for f in files),
                statistics.median(ratios), max(ratios)))


if __name__ == "__main__":
    main()
