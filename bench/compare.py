#!/usr/bin/env python3
"""Times parvula-cli side by side with libjpeg's decode-only floor and other thumbnailers.

Every photo is decoded in full by every tool (none may decode at a reduced size) and made into a
thumbnail that fits 200 x 200, JPEG quality 90. The tools run interleaved, photo by photo, in an
order that rotates, so a burst of load from elsewhere spreads over all of them. Results go to
docs/performance.md (tables) and docs/performance.png (chart).
"""
import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

IN_RUN = ", in a run over the sample"
KERNELS = ["lanczos3", "box", "triangle", "hermite", "bell", "b-spline", "mitchell"]
BOX = 200
QUALITY = 90


def read_usage(path):
    """Peak resident KiB and processor seconds (user + system) written by /usr/bin/time."""
    with open(path) as f:
        kib, user, system = f.read().split()[-3:]
    return int(kib), float(user) + float(system)


class Runner:
    def __init__(self, work):
        self.work = work
        self.memfile = os.path.join(work, ".peak")

    def process(self, cmd):
        """Wall time and peak resident memory of one process."""
        full = ["/usr/bin/time", "-f", "%M %U %S", "-o", self.memfile] + cmd
        start = time.perf_counter()
        done = subprocess.run(full, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        seconds = time.perf_counter() - start
        if done.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(cmd), done.stderr.decode(errors="replace")))
        kib, self.cpu = read_usage(self.memfile)
        return seconds, kib


def batch_intervals(cli, decode, kernel, sample, photos, runs=3):
    """Seconds per photo inside a one-worker run over the whole sample, from the moment the
    previous thumbnail was published to the moment this one was, and the decode-only floor of
    each photo measured just before each run (one process over the sample, as the run is). A
    copy of the first photo under a name that sorts first opens each run, so that every photo of
    the sample has a predecessor."""
    opener = os.path.join(sample, "0000_opener.jpg")
    shutil.copyfile(os.path.join(sample, photos[0]), opener)
    intervals = {name: [] for name in photos}
    floor = {name: [] for name in photos}
    for _ in range(runs):
        out = subprocess.run([decode] + [os.path.join(sample, n) for n in photos],
                             capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            fields = line.split()
            floor[os.path.basename(fields[-1])].append(float(fields[0]))
        for entry in os.listdir(sample):
            if entry.startswith("tn_"):
                os.remove(os.path.join(sample, entry))
        cmd = [cli, "--filter", kernel, "--width", str(BOX), "--height", str(BOX), "--format", "jpg",
               "--quality", str(QUALITY), "--affix", "tn_", "--jobs", "1", sample]
        run = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True, bufsize=1)
        last = None
        for line in run.stdout:
            now = time.perf_counter()
            if " -> " not in line:
                continue
            name = os.path.basename(line.split(" -> ")[0])
            if last is not None and name in intervals:
                intervals[name].append(now - last)
            last = now
        if run.wait() != 0:
            raise RuntimeError("%s failed" % " ".join(cmd))
    os.remove(opener)
    missing = [name for name in photos if len(intervals[name]) != runs or len(floor[name]) != runs]
    if missing:
        raise RuntimeError("no time per photo for %s" % ", ".join(missing))
    return intervals, floor


def imagemagick_convert():
    for candidate in ["/usr/bin/convert", shutil.which("convert")]:
        if candidate and os.path.exists(candidate):
            try:
                out = subprocess.run([candidate, "-version"], capture_output=True, text=True).stdout
            except OSError:
                continue
            if "ImageMagick" in out:
                return candidate
    return None


def fit(width, height):
    """The size that fits 200 x 200 keeping the aspect ratio, as parvula-cli computes it."""
    if width * BOX >= height * BOX and width >= height:
        return BOX, max(1, round(height * BOX / width))
    return max(1, round(width * BOX / height)), BOX


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--photos", required=True)
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--fit", required=True)
    parser.add_argument("--docs", required=True)
    args = parser.parse_args()

    cli = os.path.abspath(args.cli)
    decode = os.path.abspath(args.decode)
    jpg_dir = os.path.join(args.photos, "jpg")
    photos = sorted(os.listdir(jpg_dir))[: max(1, args.count)]
    work = os.path.join("/tmp", "parvula-bench-%d" % os.getpid())
    os.makedirs(work)
    sample = os.path.join(work, "photos")
    os.makedirs(sample)
    for name in photos:
        source = os.path.join(jpg_dir, name)
        target = os.path.join(sample, name)
        try:
            os.link(source, target)
        except OSError:
            shutil.copyfile(source, target)
    out_jpg = os.path.join(work, "out.jpg")
    runner = Runner(work)
    load_start = os.getloadavg()
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())

    def parvula(kernel, jobs=1):
        def run(path, size):
            cmd = [cli, "--quiet", "--filter", kernel, "--width", str(BOX), "--height", str(BOX),
                   "--format", "jpg", "--quality", str(QUALITY), "--affix", "tn_", "--jobs", str(jobs), path]
            result = runner.process(cmd)
            os.remove(os.path.join(os.path.dirname(path), "tn_" + os.path.splitext(os.path.basename(path))[0] + ".jpg"))
            return result
        return run

    tools = [("parvula-cli " + k, parvula(k)) for k in KERNELS]
    fit_bin = os.path.abspath(args.fit)

    def in_process(index):
        def run(path, size):
            out = subprocess.run([fit_bin, str(index), path], capture_output=True, text=True, check=True)
            return float(out.stdout.split()[0]), None
        return run
    # The same job without process start-up and file reading, as the decode-only floor is timed.
    tools += [("FitToBox + encode in-process, lanczos3", in_process(6)),
              ("FitToBox + encode in-process, box", in_process(1)),
              ("FitToBox + encode in-process, triangle", in_process(2))]
    # The floor as a whole process (start-up and reading the file included), for comparing the
    # whole-process rows with.
    tools.append(("libjpeg decode only, whole process", lambda path, size: runner.process([decode, path])))
    skipped = []
    convert = imagemagick_convert()
    if convert:
        tools.append(("ImageMagick convert -resize", lambda path, size: runner.process(
            [convert, path, "-filter", "Lanczos", "-resize", "%dx%d" % (BOX, BOX), "-quality", str(QUALITY), out_jpg])))
    else:
        skipped.append("ImageMagick (convert) is not installed")
    gm = shutil.which("gm")
    if gm:
        tools.append(("GraphicsMagick gm convert -resize", lambda path, size: runner.process(
            [gm, "convert", path, "-filter", "Lanczos", "-resize", "%dx%d" % (BOX, BOX), "-quality", str(QUALITY), out_jpg])))
    else:
        skipped.append("GraphicsMagick (gm) is not installed")
    vips = shutil.which("vips")
    if vips:
        tools.append(("libvips vips resize", lambda path, size: runner.process(
            [vips, "resize", path, out_jpg + "[Q=%d]" % QUALITY, "%.9f" % (BOX / max(size))])))
    else:
        skipped.append("libvips (vips) is not installed")
    try:
        from PIL import Image

        def pillow(path, size):
            # In-process, so Pillow pays no interpreter start-up: its best case.
            start = time.perf_counter()
            with Image.open(path) as image:
                image.load()
                small = image.resize(fit(*image.size), Image.LANCZOS)
                small.save(out_jpg, quality=QUALITY)
            return time.perf_counter() - start, None
        tools.append(("Pillow resize(LANCZOS)", pillow))
    except ImportError:
        skipped.append("Pillow (python3-pil) is not installed")

    def decode_only(path, size):
        out = subprocess.run([decode, path], capture_output=True, text=True, check=True).stdout.split()
        return float(out[0]), None

    names = ["libjpeg decode only"] + [name for name, _ in tools]
    functions = [decode_only] + [fn for _, fn in tools]
    times = {name: [] for name in names}
    memory = {name: [] for name in names}
    sizes = {}
    for index, name in enumerate(photos):
        path = os.path.join(sample, name)
        info = subprocess.run([decode, path], capture_output=True, text=True, check=True).stdout.split()
        sizes[name] = (int(info[1]), int(info[2]))
        order = list(range(len(names)))
        shift = index % len(order)
        order = order[shift:] + order[:shift]
        print("[%d/%d] %s %dx%d" % (index + 1, len(photos), name, *sizes[name]), flush=True)
        for k in order:
            seconds, kib = functions[k](path, sizes[name])
            times[names[k]].append(seconds)
            if kib is not None:
                memory[names[k]].append((kib, name))

    decode_times = times["libjpeg decode only"]
    rows = []
    for name in names:
        ratios = [t / d for t, d in zip(times[name], decode_times)]
        rows.append((name, statistics.median(times[name]), statistics.median(ratios),
                     statistics.median([m for m, _ in memory[name]]) / 1024 if memory[name] else None,
                     max(m for m, _ in memory[name]) / 1024 if memory[name] else None))

    # Throughput with one worker and with two: the whole sample in one run, alternating.
    print("jobs 1 against jobs 2 ...", flush=True)
    parallel = {1: [], 2: []}
    busy = {1: [], 2: []}  # processor seconds per wall second: how many cores the run got
    loads = []

    def clean():
        for entry in os.listdir(sample):
            if entry.startswith("tn_"):
                os.remove(os.path.join(sample, entry))
    for _ in range(3):
        for jobs in (1, 2):
            clean()
            loads.append(os.getloadavg()[0])
            seconds, _ = runner.process([cli, "--quiet", "--filter", "lanczos3", "--width", str(BOX), "--height", str(BOX),
                                         "--format", "jpg", "--quality", str(QUALITY), "--jobs", str(jobs), sample])
            parallel[jobs].append(seconds)
            busy[jobs].append(runner.cpu / seconds)
    clean()
    one, two = statistics.median(parallel[1]), statistics.median(parallel[2])

    # One worker over the whole sample, each photo timed from the line parvula-cli prints when
    # its thumbnail is published to the next: start-up is paid once per run, as when a user drops
    # a folder of photos, while reading and publishing every file still count.
    print("one worker over the sample, per photo ...", flush=True)
    batch = {k: batch_intervals(cli, decode, k, sample, photos) for k in ("lanczos3", "box", "triangle")}
    clean()
    for kernel, (intervals, floor) in batch.items():
        ratios = [statistics.median(intervals[n]) / statistics.median(floor[n]) for n in photos]
        rows.append(("parvula-cli " + kernel + IN_RUN,
                     statistics.median(statistics.median(intervals[n]) for n in photos),
                     statistics.median(ratios), None, None))

    # Peak memory on the largest photo with Lanczos3 (the corpus's photos are baseline JPEGs).
    largest = max(photos, key=lambda n: sizes[n][0] * sizes[n][1])
    peak_largest = max(m for m, n in memory["parvula-cli lanczos3"] if n == largest) / 1024

    # Full-size GIF output: the whole photo reduced to 256 colours and dithered.
    print("full-size GIF ...", flush=True)
    gif_times = []
    for name in sorted(photos, key=lambda n: sizes[n][0] * sizes[n][1])[-2:]:
        path = os.path.join(sample, name)
        seconds, _ = runner.process([cli, "--quiet", "--format", "gif", "--jobs", "1", path])
        gif_times.append((name, sizes[name], seconds))
        os.remove(os.path.join(sample, "tn_" + os.path.splitext(name)[0] + ".gif"))
    load_end = os.getloadavg()
    shutil.rmtree(work)

    cores = {jobs: statistics.median(values) for jobs, values in busy.items()}
    write_report(args.docs, rows, skipped, photos, sizes, one, two, loads, load_start, load_end,
                 largest, peak_largest, gif_times, started, cores)


def machine():
    model = platform.processor() or "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %d cores, %s" % (model, os.cpu_count() or 0, platform.platform())


def write_report(docs, rows, skipped, photos, sizes, one, two, loads, load_start, load_end,
                 largest, peak_largest, gif_times, started, cores):
    os.makedirs(docs, exist_ok=True)
    by_name = {r[0]: r for r in rows}
    megapixels = sorted(w * h / 1e6 for w, h in sizes.values())
    lines = []
    add = lines.append
    add("# Performance")
    add("")
    add("Thumbnails of full-resolution photos, measured side by side by `bench/run.sh` "
        "(this page and `performance.png` are its output; run it again to refresh them).")
    add("")
    add("- Run: %s; %d photos of %.1f to %.1f MP (median %.1f MP), baseline JPEG."
        % (started, len(photos), megapixels[0], megapixels[-1], statistics.median(megapixels)))
    add("- Machine: %s." % machine())
    add("- Load average (1, 5, 15 min): %.2f %.2f %.2f at the start, %.2f %.2f %.2f at the end."
        % (load_start + load_end))
    add("- Job: decode the whole photo, fit it into 200 x 200 keeping its aspect ratio, write a "
        "JPEG of quality 90. Every tool decodes at full size; none uses the decoder's reduced "
        "sizes.")
    add("- The floor: libjpeg decoding the file from memory with the library's defaults, rows "
        "discarded, timed inside the process (`bench/decode_only.cpp`). The other tools are "
        "timed as whole processes (start-up, reading and writing the files included), except "
        "Pillow, which is timed inside the harness's own process, and the in-process rows "
        "(`bench/fit_inprocess.cpp`: FitToBox and the JPEG encoder on a loaded picture, timed "
        "like the floor).")
    for note in skipped:
        add("- Skipped: %s." % note)
    add("")
    add("## One photo at a time")
    add("")
    add("| Tool | median s per photo | median ratio to decode | peak memory, median (MiB) | peak memory, max (MiB) |")
    add("|---|---:|---:|---:|---:|")
    in_run = [r for r in rows if r[0].endswith(IN_RUN)]
    for name, seconds, ratio, mem_median, mem_max in sorted(
            (r for r in rows if r not in in_run), key=lambda r: r[2]):
        add("| %s | %.3f | %.2f | %s | %s |" % (
            name, seconds, ratio,
            "%.1f" % mem_median if mem_median is not None else "-",
            "%.1f" % mem_max if mem_max is not None else "-"))
    add("")
    add("The in-process rows are the work itself; what the `parvula-cli` rows add to them is "
        "process start-up (the Qt libraries among it), reading the file and publishing the "
        "thumbnail, which the floor does not pay. The row \"libjpeg decode only, whole process\" "
        "is the floor with its own start-up and file reading, to set the whole-process rows "
        "against. The decoder itself is the same for all: every kernel streams the decoded rows "
        "of a baseline JPEG into the horizontal pass.")
    add("")
    add("## One photo after another, in one run")
    add("")
    add("`parvula-cli --jobs 1` over the whole sample, three runs per kernel; each photo is timed "
        "from the moment the previous thumbnail was published (the line parvula-cli prints) to "
        "the moment its own was, so reading the file, the work and publishing the thumbnail "
        "count, and start-up is paid once per run, as when a folder of photos is dropped. A copy "
        "of the first photo opens each run so that every photo has a predecessor. Just before each run the "
        "decode-only floor is measured again, over the whole sample in one process; each photo's "
        "ratio is the median of its three run times over the median of its three floors.")
    add("")
    add("| Kernel | median s per photo | median ratio to decode |")
    add("|---|---:|---:|")
    for name, seconds, ratio, _, _ in sorted(in_run, key=lambda r: r[2]):
        add("| %s | %.3f | %.2f |" % (name[len("parvula-cli "):-len(IN_RUN)], seconds, ratio))
    add("")
    add("![Median time per photo as a multiple of the decode-only time](performance.png)")
    add("")
    add("## Several files at once")
    add("")
    add("`parvula-cli --jobs N` over the whole sample (Lanczos3, same job), three runs each, "
        "alternating; load average (1 min) before the runs: %s." % ", ".join("%.2f" % l for l in loads))
    add("")
    add("| Workers | median s for %d photos | photos per second | throughput against one worker | cores used (processor s per s) |" % len(photos))
    add("|---:|---:|---:|---:|---:|")
    add("| 1 | %.2f | %.2f | 1.00 | %.2f |" % (one, len(photos) / one, cores[1]))
    add("| 2 | %.2f | %.2f | %.2f | %.2f |" % (two, len(photos) / two, one / two, cores[2]))
    add("")
    add("Two workers can only be as fast as the cores they get: the last column shows how much "
        "processor time each run received per second of wall time.")
    add("")
    add("## Memory and GIF output")
    add("")
    w, h = sizes[largest]
    add("- Peak resident memory of `parvula-cli` (Lanczos3, one worker) on the largest photo, "
        "%s (%d x %d, %.1f MP, baseline): %.1f MiB." % (largest, w, h, w * h / 1e6, peak_largest))
    for name, (w, h), seconds in gif_times:
        add("- Full-size GIF output (no resize: 256-colour reduction and dithering of every "
            "pixel) of %s, %.1f MP: %.2f s." % (name, w * h / 1e6, seconds))
    add("")
    add("## Targets")
    add("")
    add("The per-photo targets are judged on the photos timed one after another in one run; "
        "beside each are the same job as one process per photo and the work in-process.")
    add("")
    lanczos = by_name["parvula-cli lanczos3"][2]
    others = [r for r in rows if not r[0].startswith(("parvula", "FitToBox", "libjpeg"))]
    add("| Target | Measured | Met |")
    add("|---|---|---|")
    for kernel, caption, limit in (("lanczos3", "Lanczos3, one worker, median <= 1.3 x decode", 1.3),
                                   ("box", "Box <= 1.2 x decode", 1.2),
                                   ("triangle", "Triangle <= 1.2 x decode", 1.2)):
        ratio = by_name["parvula-cli " + kernel + IN_RUN][2]
        add("| %s | %.2f x (one process per photo: %.2f x; the work in-process: %.2f x) | %s |"
            % (caption, ratio, by_name["parvula-cli " + kernel][2],
               by_name["FitToBox + encode in-process, " + kernel][2], "yes" if ratio <= limit else "no"))
    add("| Two workers >= 1.8 x one worker | %.2f x (load %.2f before the runs) | %s |"
        % (one / two, max(loads), "yes" if one / two >= 1.8 else "no"))
    add("| Peak memory on a 24 MP baseline JPEG <= 32 MiB | %.1f MiB on %.1f MP | %s |"
        % (peak_largest, sizes[largest][0] * sizes[largest][1] / 1e6, "yes" if peak_largest <= 32 else "no"))
    for name, seconds, ratio, _, _ in others:
        add("| Faster than %s | %.2f x decode against %.2f x (%.1f times as fast) | %s |"
            % (name, lanczos, ratio, ratio / lanczos, "yes" if lanczos < ratio else "no"))
    add("")
    add("## How the fast paths keep every byte")
    add("")
    add("- Streaming: a JPEG's rows go from the decoder, 64 at a time, straight into the "
        "horizontal pass in blocks of 16, and every destination row is computed as soon as its "
        "work rows exist, from a ring of work rows just large enough for the windows still "
        "open: neither the full-size bitmap nor the horizontal pass's whole result ever exists. "
        "A photo that its EXIF orientation turns streams too, in the upright picture's order of "
        "operations, and so do a PNG's rows (an interlaced PNG's from its decoded image, "
        "without a copy drawn on white; see Every kind of photo below) and a GIF's first frame. "
        "Nearest-neighbour stretching copies its pixels from these rows as they arrive.")
    add("- Files: parvula-cli decodes a photo where it lies in the mapped file, without copying "
        "it into memory first; a file cut short while it is read turns its lost pages into "
        "zeros instead of ending the process, and a photo whose file changed meanwhile is made "
        "again from the file as it is now.")
    shared = sum(1 for n in photos if list(sizes.values()).count(sizes[n]) > 1)
    add("- Weight tables: those of the last four sizes are kept, so photos of one size (as from "
        "one camera) build them once; %d of the %d photos here share their size with another."
        % (shared, len(photos)))
    add("- Vector loops (AVX-512, AVX2 with FMA, SSE2, chosen at run time; "
        "`PARVULA_SIMD=scalar|sse2|avx2|avx512` forces one) compute several rows (horizontal "
        "pass) or bytes (vertical pass) side by side in the plain loop's order; AVX-512 takes "
        "two destination pixels at a time. The horizontal pass turns each block of rows on its "
        "side just ahead of the pixels that read it, into a ring of 256 source pixels (more for "
        "wider windows) that stays in the cache. A single-precision fused multiply-add is not "
        "in general the plain loop's double sum rounded to float: 3 x 0x1.7bde14p+0 - 0x1p-52 "
        "rounds differently the two ways (double rounding). It is used only where the double "
        "sum is provably exact or the product provably too small to move the sum; elsewhere "
        "the sums run in double lanes. See `src/imaging/picstretch1_simd.h`.")
    add("- Parallel files: workers load, fit, tint and encode into memory; the calling thread "
        "claims each output name and publishes the files strictly in list order, and the first "
        "failing file ends the run with exactly the files before it written.")
    add("- Tests: `tests/imaging/picstretch1_simd_test.cpp`, `tests/imaging/stream_test.cpp`, "
        "`tests/imaging/picstretch1_turned_test.cpp`, `tests/imaging/stream_png_test.cpp` and "
        "`tests/app/BasUnit1_parallel_test.cpp` compare every path with the plain one byte for "
        "byte.")
    add("")
    # The sections other scripts write (or that were measured by hand) begin with a marker
    # comment and are kept as they are.
    path = os.path.join(docs, "performance.md")
    kept = ""
    if os.path.exists(path):
        text = open(path).read()
        marker = text.find("\n<!-- ")
        if marker >= 0:
            kept = text[marker:]
    with open(path, "w") as f:
        f.write("\n".join(lines).rstrip("\n") + "\n" + kept)
    draw_chart(os.path.join(docs, "performance.png"), sorted(rows, key=lambda r: r[2]))
    print("\n".join(lines))


def draw_chart(path, rows):
    try:
        from PIL import Image, ImageDraw
    except ImportError:
        print("Pillow is missing: no chart drawn", file=sys.stderr)
        return
    bar_height, gap, left, right, top = 22, 8, 350, 90, 40
    width = 1020
    height = top + len(rows) * (bar_height + gap) + 40
    image = Image.new("RGB", (width, height), "white")
    draw = ImageDraw.Draw(image)
    largest = max(r[2] for r in rows)
    scale = (width - left - right) / largest
    draw.text((10, 10), "Median time per photo as a multiple of libjpeg's decode-only time "
              "(fit into 200 x 200, JPEG q90)", fill="black")
    for i, (name, _, ratio, _, _) in enumerate(rows):
        y = top + i * (bar_height + gap)
        colour = (40, 110, 200) if name.startswith("parvula") else (90, 160, 230) if name.startswith("FitToBox") else (
            (120, 120, 120) if name.startswith("libjpeg") else (220, 120, 40))
        draw.text((10, y + 5), name, fill="black")
        draw.rectangle([left, y, left + ratio * scale, y + bar_height], fill=colour)
        draw.text((left + ratio * scale + 6, y + 5), "%.2f x" % ratio, fill="black")
    x = left + scale
    draw.line([x, top - 6, x, height - 30], fill=(0, 0, 0))
    draw.text((x - 10, height - 26), "1 x", fill="black")
    image.save(path)


if __name__ == "__main__":
    main()
