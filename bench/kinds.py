#!/usr/bin/env python3
"""Times parvula-cli on every kind of photo people have against each kind's own decode floor.

Kinds (from the photo corpus's KINDS.tsv folders): JPEG as stored, JPEG that its EXIF tag turns,
progressive JPEG, PNG photo. For each kind, up to six photos: the floor (the format's own library
decoding the file, bench/decode_only.cpp), parvula-cli as one process per photo and in one run
over the kind's photos (each photo timed from the previous thumbnail's line to its own), peak
memory, and ImageMagick, GraphicsMagick and vips on the same files, each turning the photo upright
first (-auto-orient; vips autorot, then vips resize). Then one worker against two on all the
kinds' photos together. Writes its section into docs/performance.md.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare import BOX, QUALITY, Runner, imagemagick_convert, machine  # noqa: E402

KINDS = [("jpg", "JPEG as stored"),
         ("jpg-turned", "JPEG turned by its EXIF tag (orientation 6, 8 or 3)"),
         ("jpg-progressive", "progressive JPEG"),
         ("png-photo", "PNG photo (RGB)")]
PER_KIND = 6
BEGIN = "<!-- kinds: written by bench/kinds.py -->"
END = "<!-- /kinds -->"


def floors(decode, paths):
    """In-process decode seconds of each path, one process over all of them."""
    out = subprocess.run([decode] + paths, capture_output=True, text=True, check=True).stdout
    result = {}
    for line in out.splitlines():
        fields = line.split()
        result[os.path.basename(fields[-1])] = (float(fields[0]), int(fields[1]), int(fields[2]))
    return result


def in_one_run(cli, decode, sample, names, runs=3):
    """Seconds per photo inside one-worker runs over the sample, and the floor of each photo
    measured just before each run; a copy of the first photo opens each run."""
    first = names[0]
    opener = os.path.join(sample, "0000_opener" + os.path.splitext(first)[1])
    shutil.copyfile(os.path.join(sample, first), opener)
    intervals = {n: [] for n in names}
    floor = {n: [] for n in names}
    for _ in range(runs):
        for name, (seconds, _, _) in floors(decode, [os.path.join(sample, n) for n in names]).items():
            floor[name].append(seconds)
        clean(sample)
        cmd = [cli, "--filter", "lanczos3", "--width", str(BOX), "--height", str(BOX), "--format",
               "jpg", "--quality", str(QUALITY), "--affix", "tn_", "--jobs", "1", sample]
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
    clean(sample)
    return {n: statistics.median(intervals[n]) / statistics.median(floor[n]) for n in names}


def clean(folder):
    for entry in os.listdir(folder):
        if entry.startswith("tn_"):
            os.remove(os.path.join(folder, entry))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--photos", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--decode", required=True)
    parser.add_argument("--docs", required=True)
    parser.add_argument("--per-kind", type=int, default=PER_KIND)
    args = parser.parse_args()
    cli = os.path.abspath(args.cli)
    decode = os.path.abspath(args.decode)
    work = os.path.join("/tmp", "parvula-kinds-%d" % os.getpid())
    os.makedirs(work)
    runner = Runner(work)
    out_jpg = os.path.join(work, "out.jpg")
    out_v = os.path.join(work, "upright.v")
    started = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    load_start = os.getloadavg()

    tools = []  # (name, function(path, size) -> (seconds, KiB))

    def parvula(path, size):
        cmd = [cli, "--quiet", "--filter", "lanczos3", "--width", str(BOX), "--height", str(BOX),
               "--format", "jpg", "--quality", str(QUALITY), "--affix", "tn_", "--jobs", "1", path]
        result = runner.process(cmd)
        clean(os.path.dirname(path))
        return result
    tools.append(("parvula-cli", parvula))
    tools.append(("decoder alone, whole process", lambda path, size: runner.process([decode, path])))
    skipped = []
    convert = imagemagick_convert()
    if convert:
        tools.append(("ImageMagick", lambda path, size: runner.process(
            [convert, path, "-auto-orient", "-filter", "Lanczos", "-resize", "%dx%d" % (BOX, BOX),
             "-quality", str(QUALITY), out_jpg])))
    else:
        skipped.append("ImageMagick (convert) is not installed")
    gm = shutil.which("gm")
    if gm:
        tools.append(("GraphicsMagick", lambda path, size: runner.process(
            [gm, "convert", path, "-auto-orient", "-filter", "Lanczos", "-resize",
             "%dx%d" % (BOX, BOX), "-quality", str(QUALITY), out_jpg])))
    else:
        skipped.append("GraphicsMagick (gm) is not installed")
    vips = shutil.which("vips")
    if vips:
        def vips_run(path, size):
            turn, turn_kib = runner.process([vips, "autorot", path, out_v])
            fit, fit_kib = runner.process(
                [vips, "resize", out_v, out_jpg + "[Q=%d]" % QUALITY, "%.9f" % (BOX / max(size))])
            os.remove(out_v)
            return turn + fit, max(turn_kib, fit_kib)
        tools.append(("vips", vips_run))
    else:
        skipped.append("libvips (vips) is not installed")

    results = []
    mixed = os.path.join(work, "mixed")
    os.makedirs(mixed)
    for kind, caption in KINDS:
        folder = os.path.join(args.photos, kind)
        if not os.path.isdir(folder):
            skipped.append("%s: %s is absent" % (caption, folder))
            continue
        names = sorted(os.listdir(folder))[: max(1, args.per_kind)]
        sample = os.path.join(work, kind)
        os.makedirs(sample)
        for name in names:
            for target in (os.path.join(sample, name), os.path.join(mixed, kind + "_" + name)):
                try:
                    os.link(os.path.join(folder, name), target)
                except OSError:
                    shutil.copyfile(os.path.join(folder, name), target)
        sizes = {n: s[1:] for n, s in floors(decode, [os.path.join(sample, n) for n in names]).items()}
        times = {t: [] for t, _ in tools}
        memory = {t: [] for t, _ in tools}
        floor = []
        for index, name in enumerate(names):
            path = os.path.join(sample, name)
            print("[%s %d/%d] %s %dx%d" % (kind, index + 1, len(names), name, *sizes[name]), flush=True)
            order = list(range(len(tools) + 1))
            order = order[index % len(order):] + order[:index % len(order)]
            for k in order:
                if k == len(tools):
                    floor.append(floors(decode, [path])[name][0])
                    continue
                tool, function = tools[k]
                seconds, kib = function(path, sizes[name])
                times[tool].append(seconds)
                memory[tool].append(kib / 1024)
        ratios = {t: statistics.median(s / f for s, f in zip(times[t], floor)) for t, _ in tools}
        print("[%s] in one run ..." % kind, flush=True)
        run_ratios = in_one_run(cli, decode, sample, names)
        largest = max(names, key=lambda n: sizes[n][0] * sizes[n][1])
        results.append({
            "kind": kind, "caption": caption, "count": len(names),
            "megapixels": sorted(w * h / 1e6 for w, h in sizes.values()),
            "floor": statistics.median(floor), "run": statistics.median(run_ratios.values()),
            "ratios": ratios, "memory": memory, "names": names, "largest": largest,
            "largest_mp": sizes[largest][0] * sizes[largest][1] / 1e6,
            "peak_largest": memory["parvula-cli"][names.index(largest)],
            "decoder_largest": memory["decoder alone, whole process"][names.index(largest)],
        })

    print("one worker against two on every kind together ...", flush=True)
    parallel = {1: [], 2: []}
    for _ in range(3):
        for jobs in (1, 2):
            clean(mixed)
            seconds, _ = runner.process([cli, "--quiet", "--filter", "lanczos3", "--width", str(BOX),
                                         "--height", str(BOX), "--format", "jpg", "--quality",
                                         str(QUALITY), "--jobs", str(jobs), mixed])
            parallel[jobs].append(seconds)
    clean(mixed)
    mixed_count = len(os.listdir(mixed))
    one, two = statistics.median(parallel[1]), statistics.median(parallel[2])
    load_end = os.getloadavg()
    shutil.rmtree(work)
    write_section(args.docs, results, skipped, one, two, mixed_count, started, load_start, load_end,
                  [t for t, _ in tools])


def write_section(docs, results, skipped, one, two, mixed_count, started, load_start, load_end,
                  tools):
    others = [t for t in tools if t not in ("parvula-cli", "decoder alone, whole process")]
    lines = []
    add = lines.append
    add(BEGIN)
    add("## Every kind of photo")
    add("")
    add("`bench/kinds.py` (run by `bench/run.sh`): up to %d photos of each kind, Lanczos3 into "
        "200 x 200, JPEG quality 90, one worker; every ratio is against the kind's own decode "
        "floor (libjpeg or libpng decoding the file from memory, rows discarded, timed inside "
        "the process). Photos are timed in one run over the kind's photos (each from the "
        "previous thumbnail's line to its own, three runs) and as one process per photo; the "
        "other tools as one process per photo, each turning the photo upright first "
        "(`-auto-orient`; `vips autorot`, then `vips resize`, both processes counted)." % PER_KIND)
    add("")
    add("- Run: %s; machine: %s." % (started, machine()))
    add("- Load average (1, 5, 15 min): %.2f %.2f %.2f at the start, %.2f %.2f %.2f at the end."
        % (load_start + load_end))
    for note in skipped:
        add("- Skipped: %s." % note)
    add("")
    header = "| Kind | photos (MP) | floor, median s | parvula-cli in one run | one process per photo | peak memory, max (MiB) | decoder alone, peak max (MiB) |"
    add(header + "".join(" %s |" % t for t in others))
    add("|---|---|---:|---:|---:|---:|---:|" + "---:|" * len(others))
    for r in results:
        mp = r["megapixels"]
        row = "| %s | %d (%.1f-%.1f) | %.3f | %.2f x | %.2f x | %.1f | %.1f |" % (
            r["caption"], r["count"], mp[0], mp[-1], r["floor"], r["run"],
            r["ratios"]["parvula-cli"], max(r["memory"]["parvula-cli"]),
            max(r["memory"]["decoder alone, whole process"]))
        for t in others:
            row += " %.2f x (%.1f MiB) |" % (r["ratios"][t], max(r["memory"][t]))
        add(row)
    add("")
    add("Each competitor's ratio is its median time per photo over the same floor; in brackets "
        "its peak memory. `parvula-cli` as one process per photo pays its start-up (the Qt "
        "libraries) on every photo, which the floor does not.")
    add("")
    add("| Workers on all %d photos together | median s | against one worker |" % mixed_count)
    add("|---:|---:|---:|")
    add("| 1 | %.2f | 1.00 |" % one)
    add("| 2 | %.2f | %.2f |" % (two, one / two))
    add("")
    add("### Targets per kind")
    add("")
    add("| Target | Measured | Met |")
    add("|---|---|---|")
    for r in results:
        limit = 1.2 if r["kind"] in ("jpg", "jpg-turned") else 1.3
        add("| %s: <= %.1f x its floor in one run | %.2f x | %s |"
            % (r["caption"], limit, r["run"], "yes" if r["run"] <= limit else "no"))
    for r in results:
        if r["kind"] == "jpg-progressive":
            bound = r["decoder_largest"] + 16
            add("| %s: peak on the largest (%.1f MP) <= the decoder's own peak + 16 MiB | %.1f MiB "
                "against %.1f + 16 MiB | %s |" % (r["caption"], r["largest_mp"], r["peak_largest"],
                                                   r["decoder_largest"],
                                                   "yes" if r["peak_largest"] <= bound else "no"))
        else:
            add("| %s: peak on the largest (%.1f MP) <= 32 MiB | %.1f MiB | %s |"
                % (r["caption"], r["largest_mp"], r["peak_largest"],
                   "yes" if r["peak_largest"] <= 32 else "no"))
    add("| Two workers >= 1.85 x one worker, all kinds together | %.2f x | %s |"
        % (one / two, "yes" if one / two >= 1.85 else "no"))
    for r in results:
        ours = r["ratios"]["parvula-cli"]
        for t in others:
            add("| %s: faster than %s | %.2f x against %.2f x (%.1f times as fast) | %s |"
                % (r["caption"], t, ours, r["ratios"][t], r["ratios"][t] / ours,
                   "yes" if ours < r["ratios"][t] else "no"))
    add("")
    add("Turned JPEGs stream through the passes in the upright picture's order of operations "
        "(mirrored orientations read their weight lists backwards; the transposing ones filter "
        "down the stored columns as the rows arrive, four lines at once over one window of "
        "rows), PNG rows stream from libpng drawn on white, and a mapped JPEG's or PNG's pages "
        "are let go behind the decoder; a progressive JPEG holds only the decoder's own "
        "coefficients besides the rows. "
        "`tests/imaging/picstretch1_turned_test.cpp` and `tests/imaging/stream_png_test.cpp` "
        "compare them with the whole-picture path byte for byte. The peaks include what "
        "start-up maps: libheif and libavif, with the encoders and AV1 decoders they bring, are "
        "opened only when a HEIF or AVIF file is read, so none of these runs carries them.")
    add(END)
    path = os.path.join(docs, "performance.md")
    text = open(path).read() if os.path.exists(path) else "# Performance\n"
    if BEGIN in text and END in text:
        text = text[:text.index(BEGIN)] + "\n".join(lines) + text[text.index(END) + len(END):]
    else:
        text = text.rstrip("\n") + "\n\n" + "\n".join(lines) + "\n"
    with open(path, "w") as f:
        f.write(text)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
