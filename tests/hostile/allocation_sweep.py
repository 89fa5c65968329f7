#!/usr/bin/env python3
"""Refuses the allocations of rzt2 one at a time, each in a run of its own.

Usage: allocation_sweep.py RZT2 SHIM [--stride N] [--timeout S]

Every run preloads SHIM (refuse_allocation.c), which refuses the Nth
allocation after main() starts, for N = 1, 1 + stride, ... until a run makes
fewer than N. The runs convert a picture of many colours and one of few
(with the built-in and the fitted palette, on one thread and on two), a
batch of two, and export a map. A run may fail its files (exit status 1)
but must never end by a signal or outlast the timeout.
"""

import argparse
import os
import subprocess
import sys
import tempfile

from PIL import Image


def make_pictures(folder):
    many = Image.new("RGB", (120, 90))
    many.putdata([((x * 7) % 256, (y * 11) % 256, (x * y) % 256) for y in range(90) for x in range(120)])
    many.save(os.path.join(folder, "many.png"))
    few = Image.new("RGBA", (70, 50), (255, 255, 255, 0))
    for y in range(50):
        for x in range(70):
            few.putpixel((x, y), (200, 40, 40, 128) if x < 35 else (40, 40, 200, 255))
    few.save(os.path.join(folder, "few.png"))


def variants(folder):
    frames = ["--ignore-settings", "-q", "--frame", "32x32", "--preview", "128x128"]
    for palette in ("fixed", "adaptive"):
        for threads in ("1", "2"):
            yield f"convert {palette} -j {threads}", ["convert", *frames, "--palette", palette, "-j", threads,
                                                      "-o", "out", "many.png"]
    yield "batch -j 2", ["convert", *frames, "--palette", "adaptive", "-j", "2", "-o", "out", "many.png", "few.png"]
    yield "export -j 2", ["export", "--ignore-settings", "-q", "--format", "png", "-j", "2", "-o", "out",
                          "map/many.rzt2"]


def sweep(rzt2, shim, name, args, folder, stride, timeout):
    """The problems of one variant's runs, and how many runs there were."""
    problems, runs, n = [], 0, 1
    mark = os.path.join(folder, "refused")
    while True:
        for stale in (mark,):
            if os.path.exists(stale):
                os.remove(stale)
        subprocess.run(["rm", "-rf", os.path.join(folder, "out")], check=True)
        env = dict(os.environ, LD_PRELOAD=shim, RZT2_REFUSE_ALLOCATION=str(n), RZT2_REFUSE_MARK=mark)
        try:
            result = subprocess.run([rzt2, *args], cwd=folder, env=env, timeout=timeout,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        except subprocess.TimeoutExpired:
            problems.append(f"{name}: allocation {n} refused: still running after {timeout} s")
        else:
            if result.returncode < 0 or result.returncode > 2:
                tail = result.stderr.decode(errors="replace").strip().splitlines()[-1:]
                problems.append(f"{name}: allocation {n} refused: exit status {result.returncode} {tail}")
        runs += 1
        if not os.path.exists(mark):
            return problems, runs, n
        n += stride


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("rzt2")
    parser.add_argument("shim")
    parser.add_argument("--stride", type=int, default=1)
    parser.add_argument("--timeout", type=float, default=60)
    options = parser.parse_args()
    options.rzt2, options.shim = os.path.abspath(options.rzt2), os.path.abspath(options.shim)
    with tempfile.TemporaryDirectory() as folder:
        make_pictures(folder)
        subprocess.run([options.rzt2, "convert", "--ignore-settings", "-q", "--frame", "32x32", "-o", "map",
                        "many.png"], cwd=folder, check=True)
        failed = False
        for name, args in variants(folder):
            problems, runs, last = sweep(options.rzt2, options.shim, name, args, folder, options.stride,
                                         options.timeout)
            print(f"{name}: {runs} runs, allocations 1 to {last} every {options.stride}: "
                  f"{len(problems)} ended badly", flush=True)
            for problem in problems[:20]:
                print("  " + problem)
            failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
