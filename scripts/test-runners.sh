#!/usr/bin/env bash
# The README's recipes for many files and many machines ("Many files, many
# machines"), run as written on sample BMPs with awkward names: the tool's
# own -j (the reference), find | xargs -P, GNU parallel here and through
# its local login (--sshlogin :), --files-from on standard input, and the
# slices of a Slurm job array and of a Kubernetes indexed Job, each task run
# with its index set (and more tasks than files). Every recipe must exit 0
# and write the same files, byte for byte, as the reference.
#
#   scripts/test-runners.sh BMPRESIZE [WORK_DIR]
#
# BMPRESIZE is a built tool; nothing is built here. Each recipe must stand
# in README.md exactly as it is run (checked first). Needs find, xargs, GNU
# coreutils' split and GNU parallel (Debian: parallel); exits 77, skipped,
# without GNU parallel.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:?usage: scripts/test-runners.sh BMPRESIZE [WORK_DIR]}
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
work=${2:-$(mktemp -d)}
[ -x "$tool" ] || { echo "not a program: $tool" >&2; exit 1; }
if ! parallel --version 2>/dev/null | grep -q '^GNU parallel'; then
  echo "GNU parallel is not installed (Debian: apt-get install parallel): skipped"
  exit 77
fi

# The recipes, as README.md has them.
make_list="find photos -name '*.bmp' -print0 > files.list"
from_stdin="find photos -name '*.bmp' -print0 | bmpresize -q -j 2 -f 4 -o big -0 --files-from -"
with_xargs="find photos -name '*.bmp' -print0 | xargs -0 -r -P 2 -n 100 bmpresize -q -f 4 -o big"
with_parallel="find photos -name '*.bmp' -print0 | parallel -0 -X -j 2 bmpresize -q -f 4 -o big"
over_ssh='find "$PWD/photos" -name '\''*.bmp'\'' -print0 |
  parallel -0 -X -S 2/node1,2/node2 bmpresize -q -f 4 -o "$PWD/big"'
slurm_task="split -n r/\$((SLURM_ARRAY_TASK_ID + 1))/\$SLURM_ARRAY_TASK_COUNT -t '\\0' files.list |
  bmpresize -q -j \"\${SLURM_CPUS_PER_TASK:-1}\" -f 4 -o big -0 --files-from -"
k8s_task="split -n r/\$((JOB_COMPLETION_INDEX + 1))/\$TASKS -t '\\0' files.list | bmpresize -q -f 4 -o big -0 --files-from -"

readme=$(<"$root/README.md")
missing=0
for recipe in "$make_list" "$from_stdin" "$with_xargs" "$with_parallel" "$over_ssh" \
  "$slurm_task" "$k8s_task"; do
  if [[ $readme != *"$recipe"* ]]; then
    printf 'FAILED: README.md does not have this recipe as it is run:\n%s\n' "$recipe"
    missing=1
  fi
done
[ "$missing" -eq 0 ] || exit 1

# Sample BMPs of every uncompressed kind, some in a subfolder, named with
# spaces, quotes, a dollar sign, a leading dash, non-ASCII letters and a
# line break.
rm -rf "$work" && mkdir -p "$work/photos/more" "$work/bin"
ln -s "$tool" "$work/bin/bmpresize"
export PATH="$work/bin:$PATH"
n=0
for kind in "$root"/tests/data/bmpsuite/g/*.bmp "$root/samples/sample.bmp"; do
  case $kind in *rle*) continue ;; esac
  n=$((n + 1))
  name=$(basename "$kind" .bmp)
  case $((n % 4)) in
    0) cp "$kind" "$work/photos/$name.bmp" ;;
    1) cp "$kind" "$work/photos/more/photo $n of $name.bmp" ;;
    2) cp "$kind" "$work/photos/$name's \$HOME.bmp" ;;
    3) cp "$kind" "$work/photos/-$name-ü.bmp" ;;
  esac
done
cp "$root/samples/sample.bmp" "$work/photos/more/two
lines.bmp"
n=$((n + 1))

# Runs `recipe` (with `setting` before it, for a task's index) in its own
# copy of the photos, WORK/NAME, whose big/ then holds what it wrote.
run() {  # run NAME RECIPE [VARIABLE=VALUE...]
  local name=$1 recipe=$2
  shift 2
  mkdir -p "$work/$name/big"
  cp -R "$work/photos" "$work/$name/"
  (cd "$work/$name" && env "$@" bash -c "set -e -o pipefail; $recipe") ||
    { echo "FAILED: $name: exit status $?"; return 1; }
}

# One task after another of an array of `count`, all at once, as a
# scheduler would start them.
run_tasks() {  # run_tasks NAME RECIPE INDEX_VARIABLE COUNT [VARIABLE=VALUE...]
  local name=$1 recipe=$2 index=$3 count=$4
  shift 4
  mkdir -p "$work/$name/big"
  cp -R "$work/photos" "$work/$name/"
  (cd "$work/$name" && bash -c "$make_list")
  local pids=() task failed=0
  for ((task = 0; task < count; task++)); do
    (cd "$work/$name" && env "$index=$task" "$@" bash -c "set -e -o pipefail; $recipe") &
    pids+=($!)
  done
  for task in "${pids[@]}"; do
    wait "$task" || failed=1
  done
  [ "$failed" -eq 0 ] || { echo "FAILED: $name: a task failed"; return 1; }
}

failed=0
# The reference: every file as a FILE of one run, two at a time.
mapfile -d '' inputs < <(cd "$work" && find photos -name '*.bmp' -print0)
mkdir -p "$work/reference/big"
(cd "$work" && bmpresize -q -j 2 -f 4 -o reference/big "${inputs[@]}") || failed=1
# xargs with fewer names a run than the README's 100, so that several run.
run xargs "${with_xargs/-n 100/-n 3}" || failed=1
run parallel "$with_parallel" || failed=1
# Through ssh's stand-in: GNU parallel's ":" is this machine, without ssh.
run parallel-sshlogin "${over_ssh/-S 2\/node1,2\/node2/-S 2/:}" || failed=1
run files-from "$from_stdin" || failed=1
run_tasks slurm "$slurm_task" SLURM_ARRAY_TASK_ID 4 SLURM_ARRAY_TASK_COUNT=4 || failed=1
run_tasks kubernetes "$k8s_task" JOB_COMPLETION_INDEX 4 TASKS=4 || failed=1
run_tasks more-tasks-than-files "$slurm_task" SLURM_ARRAY_TASK_ID $((n + 3)) \
  SLURM_ARRAY_TASK_COUNT=$((n + 3)) SLURM_CPUS_PER_TASK=2 || failed=1

# Byte for byte the reference's files, no more, no fewer.
reference=$(cd "$work/reference/big" && find . -type f -print0 | sort -z | tr '\0' '/')
count=$(cd "$work/reference/big" && find . -type f -print0 | tr -cd '\0' | wc -c)
if [ "$count" -ne "$n" ]; then
  echo "FAILED: the reference wrote $count of $n files"
  failed=1
fi
for name in xargs parallel parallel-sshlogin files-from slurm kubernetes more-tasks-than-files; do
  [ -d "$work/$name/big" ] || continue
  have=$(cd "$work/$name/big" && find . -type f -print0 | sort -z | tr '\0' '/')
  if [ "$have" != "$reference" ]; then
    echo "FAILED: $name wrote other files than the reference"
    failed=1
    continue
  fi
  while IFS= read -r -d '' file; do
    cmp -s "$work/reference/big/$file" "$work/$name/big/$file" ||
      { echo "FAILED: $name: $file differs from the reference"; failed=1; }
  done < <(cd "$work/reference/big" && find . -type f -print0)
done
if [ "$failed" -eq 0 ]; then
  echo "runners: the 7 recipes wrote the same $n files as -j, byte for byte"
  rm -rf "$work"
fi
exit "$failed"
