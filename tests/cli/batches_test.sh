#!/usr/bin/env bash
# Runs the one-machine GNU parallel recipe of docs/batches.md as written,
# over two shards, and the Slurm job script for each task of its array, and
# checks that their maps and merged reports are those of the parallel recipe
# run as one shard: the same files, maps equal but for their random block
# (bytes 64 to 103), reports equal but for the seconds.
# Usage: batches_test.sh RZT2 SOURCE_DIR
set -euo pipefail
rzt2=$1 source=$2

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir "$root/bin"
ln -s "$rzt2" "$root/bin/rzt2"
export PATH="$root/bin:$PATH" XDG_CONFIG_HOME="$root/config"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A recipe: the code block after its marker.
recipe() {
  awk -v marker="<!-- recipe: $1 " 'index($0, marker) == 1 { marked = 1; next }
    marked && /^```/ { if (inside) exit; inside = 1; next }
    inside' "$source/docs/batches.md"
}
parallel_recipe=$(recipe "one machine")
slurm_recipe=$(recipe slurm)
grep -q '^shards=2$' <<<"$parallel_recipe" || { echo "FAIL: no recipe with shards=2" >&2; exit 1; }
tasks=$(sed -n 's/^shards=\([0-9]*\) .*/\1/p' <<<"$slurm_recipe")
[ -n "$tasks" ] || { echo "FAIL: no Slurm job script with shards=N" >&2; exit 1; }

# Pictures of several sizes, in a subfolder too, named with a space and a
# line break; and one that is no picture.
mkdir -p "$root/two/scans/sub"
python3 - "$root/two/scans" <<'PYTHON'
import struct, sys, zlib

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

def png(path, width, height, seed):
    rows = b"".join(b"\0" + bytes((x * seed + y * 3 + c * 50) % 256 for x in range(width) for c in range(3))
                    for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))

pictures = [("plain.png", 300, 200), ("with space.png", 120, 90), ("new\nline.png", 500, 40),
            ("sub/deep.png", 64, 64), ("sub/wide.png", 700, 30)]
for seed, (name, width, height) in enumerate(pictures, 1):
    png(f"{sys.argv[1]}/{name}", width, height, seed)
with open(f"{sys.argv[1]}/broken.png", "wb") as f:
    f.write(b"no picture")
PYTHON
cp -a "$root/two" "$root/one"
cp -a "$root/two" "$root/slurm"

# The broken picture fails on stderr, and in the report.
(cd "$root/two" && bash -c "$parallel_recipe") 2>/dev/null
(cd "$root/one" && bash -c "${parallel_recipe/shards=2/shards=1}") 2>/dev/null
for shard in shard.aa shard.ab; do
  [ -s "$root/two/$shard.jsonl" ] || fail "$shard reported nothing"
done
cd "$root/slurm"
find scans -type f -name '*.png' -print0 >batch.list
for ((task = 0; task < tasks; task++)); do
  SLURM_ARRAY_TASK_ID=$task SLURM_CPUS_PER_TASK=1 bash -c "$slurm_recipe" 2>/dev/null || fail "task $task"
done
cat reports/*.jsonl >batch.jsonl

cd "$root/one"
for other in two slurm; do
  [ "$(find scans -type f -print0 | sort -z | tr '\0' '|')" = \
    "$(cd ../$other && find scans -type f -print0 | sort -z | tr '\0' '|')" ] || fail "$other: the files differ"
  maps=0
  while IFS= read -r -d '' map; do
    maps=$((maps + 1))
    { cmp -n 64 "$map" "../$other/$map" && cmp -i 104 "$map" "../$other/$map"; } || fail "$other: $map differs"
  done < <(find scans -name '*.rzt2' -print0)
  [ "$maps" -eq 5 ] || fail "$maps maps, expected 5"

  python3 - batch.jsonl ../$other/batch.jsonl <<'PYTHON' || fail "$other: the reports differ"
import json, sys

def report(path):
    lines = [json.loads(text) for text in open(path, encoding="utf-8")]
    for line in lines:
        del line["seconds"]
    return sorted(lines, key=lambda line: line["input"])

one, other = report(sys.argv[1]), report(sys.argv[2])
failed = [line for line in one if line["status"] == "failed"]
assert len(one) == 6 and one == other, (one, other)
assert [(line["input"], line["cause"]) for line in failed] == [("scans/broken.png", "unknown image format")], failed
PYTHON
done

[ "$failures" -eq 0 ] || exit 1
echo "batches: two shards and the Slurm array's $tasks tasks made the maps and report of one run"
