"""Picks a corpus within a budget from a libFuzzer merge control file.

Usage: pick_corpus.py <control file> <output folder> <max files> <max bytes>

Make the control file with
  <target>_fuzzer -merge=1 -merge_control_file=<file> <empty folder> <corpus>
Files are taken greedily by new features per byte (plus a fixed cost per
file) until every feature is covered or the budget is spent.
"""
import os
import shutil
import sys

PER_FILE_COST = 2000  # bytes: favours fewer, larger files a little


def main(control, output, max_files, max_bytes):
    lines = open(control).read().split("\n")
    count = int(lines[0])
    files = lines[2:2 + count]
    features = {}
    for line in lines[2 + count:]:
        parts = line.split()
        if parts and parts[0] == "FT":
            features[int(parts[1])] = set(parts[2:])
    everything = set().union(*features.values())
    sizes = {i: os.path.getsize(files[i]) for i in features}
    covered, chosen, total = set(), [], 0
    while len(chosen) < max_files:
        best, best_score = None, 0.0
        for i, found in features.items():
            gain = len(found - covered)
            if i in chosen or gain == 0 or total + sizes[i] > max_bytes:
                continue
            score = gain / (sizes[i] + PER_FILE_COST)
            if score > best_score:
                best, best_score = i, score
        if best is None:
            break
        chosen.append(best)
        covered |= features[best]
        total += sizes[best]
    os.makedirs(output, exist_ok=True)
    for i in chosen:
        shutil.copy(files[i], output)
    print(f"{len(chosen)} files, {total} bytes, {len(covered)}/{len(everything)} features")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
