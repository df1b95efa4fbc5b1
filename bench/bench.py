#!/usr/bin/env python3
"""Measures bankstitcher against cat writing the same number of bytes.

Run after a Release build:  python3 bench/bench.py [--tool build/bankstitcher]
  --smoke   tiny inputs and few rounds, to check that the script still works
  --rounds  how often each pair of commands runs (at least 11 for figures)
  --dir     where the inputs and outputs go (default: a temporary directory)

Cases: "streaming" stitches an 8 KiB program and 4095 data banks into a
32 MiB image with no padding; "padding" stitches 2050 banks and pads them to
4096. Both are timed against `cat` of a file of the image's size into a new
file, the two commands alternating, with every file in the page cache. A `dd`
copy with 256 KiB blocks is timed beside them for scale: cat copies inside the
kernel (copy_file_range), while the tool and dd move the bytes through their
own buffers.
"memory" is the tool's peak resident memory (GNU time's %M) for a 16 KiB and
a 512 MiB (sparse) input.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

BANK = 8192
CHUNK = 8064


def make_file(path, size, sparse=False):
    with open(path, "wb") as f:
        if sparse:
            f.truncate(size)
            return
        block = bytes((i * 37 + 11) & 0xFF for i in range(65536))
        while size > 0:
            f.write(block[: min(size, len(block))])
            size -= len(block)


def timed(command, output, to_stdout=False):
    """Runs a command that makes the new file `output`, itself or as its
    standard output; returns the wall time in seconds, creation included."""
    if os.path.exists(output):
        os.remove(output)
    start = time.perf_counter()
    with open(output, "wb") if to_stdout else open(os.devnull, "wb") as out:
        subprocess.run(command, check=True, stdout=out)
    return time.perf_counter() - start


def peak_kib(command, runs=11):
    """Median peak resident memory in KiB over a few runs, from GNU time, or None."""
    gnu_time = shutil.which("time", path="/usr/bin:/bin")
    if gnu_time is None:
        return None
    peaks = []
    for _ in range(runs):
        result = subprocess.run([gnu_time, "-f", "%M"] + command, check=True,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        peaks.append(int(result.stderr.strip().splitlines()[-1]))
    return int(statistics.median(peaks))


def compare(tool, work, name, data_size, image_size, rounds):
    prog, data = os.path.join(work, "prog.bin"), os.path.join(work, name + ".dat")
    ref, image, copy = os.path.join(work, "ref.bin"), os.path.join(work, "image.bin"), \
        os.path.join(work, "copy.bin")
    make_file(prog, BANK)
    make_file(data, data_size)
    make_file(ref, image_size)
    stitch = [tool, image, prog, data]
    timed(stitch, image)  # warm the page cache and check that it runs
    if os.path.getsize(image) != image_size:
        sys.exit(f"{name}: image is {os.path.getsize(image)} bytes, expected {image_size}")
    tool_times, cat_times, dd_times = [], [], []
    for _ in range(rounds):
        tool_times.append(timed(stitch, image))
        cat_times.append(timed(["cat", ref], copy, to_stdout=True))
        # A plain read/write copy, for scale: cat itself copies inside the kernel.
        dd_times.append(timed(["dd", "if=" + ref, "of=" + copy, "bs=256K", "status=none"], copy))
    ratios = sorted(t / c for t, c in zip(tool_times, cat_times))
    memory = peak_kib(stitch)
    for path in (data, ref, image, copy):
        if os.path.exists(path):
            os.remove(path)
    return (name, statistics.median(tool_times), statistics.median(cat_times),
            statistics.median(dd_times), ratios, memory)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default="build/bankstitcher")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--dir", default=None)
    parser.add_argument("--smoke", action="store_true")
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    if not os.access(tool, os.X_OK):
        sys.exit(f"no tool at {tool}: build it first (cmake --build build)")

    # Smoke mode keeps the shapes (no padding / padding) with tiny images.
    # The padding case's data file is one byte over whole banks.
    stream_banks, pad_banks, big_input = (7, 5, 1 << 20) if args.smoke else (4095, 2048, 512 << 20)
    rounds = 3 if args.smoke else max(args.rounds, 11)
    stream_image = (stream_banks + 1) * BANK
    pad_image = BANK
    while pad_image < (pad_banks + 2) * BANK:
        pad_image *= 2

    work = tempfile.mkdtemp(prefix="bankstitcher-bench-", dir=args.dir)
    try:
        rows = [
            compare(tool, work, "streaming", stream_banks * CHUNK, stream_image, rounds),
            compare(tool, work, "padding", pad_banks * CHUNK + 1, pad_image, rounds),
        ]
        prog = os.path.join(work, "prog.bin")
        memory = []
        for label, size in (("16 KiB", 16 << 10), (f"{big_input >> 20} MiB", big_input)):
            data = os.path.join(work, "memory.dat")
            make_file(data, size, sparse=True)
            memory.append((label, peak_kib([tool, os.devnull, prog, data])))
            os.remove(data)
    finally:
        shutil.rmtree(work)

    print(f"{rounds} alternating rounds per case; ratio = tool time / cat time, "
          "median with min..max; dd = read/write copy with 256 KiB blocks")
    print(f"{'case':<10} {'tool ms':>8} {'cat ms':>8} {'ratio':>6} {'spread':>11} "
          f"{'dd ms':>7} {'peak KiB':>9}")
    for name, tool_median, cat_median, dd_median, ratios, peak in rows:
        spread = f"{ratios[0]:.2f}..{ratios[-1]:.2f}"
        print(f"{name:<10} {tool_median * 1e3:8.1f} {cat_median * 1e3:8.1f} "
              f"{statistics.median(ratios):6.2f} {spread:>11} {dd_median * 1e3:7.1f} "
              f"{peak if peak else 'n/a':>9}")
    for label, peak in memory:
        print(f"{'memory':<10} {'input ' + label:>36} {peak if peak else 'n/a':>9}")

if __name__ == "__main__":
    main()
