#!/usr/bin/env bash
# Benchmark bmpresize and the library against the machine's write limit and
# against general image tools doing the same enlargement.
#
#   bench/run.sh [--quick]
#   BENCH_CASES="1920 1080 2;4000 3000 3 8" bench/run.sh
#
# The tool is $BMPRESIZE if set, else build/cli/bmpresize (built in Release
# if missing); the engine's path call, bmpresize_enlarge_file, through
# bench/engine_host.c built against build/src/libbmpresize.so (every case);
# the module's library is timed through the example host that links it,
# $BMPRESIZER_HOST if set, else build/examples/link_host (24-bit cases only:
# the library takes the classic kind). Inputs and outputs go to bench/work/
# (gitignored); inputs are kept for reruns, outputs are deleted after each
# case.
#
# The write limit is bench/write_limit.c: the same number of bytes written
# from memory already filled into space already reserved, with one thread
# and with two; the faster counts. Nothing that makes the same file can be
# faster. For the library, which runs in one thread, the limit of one
# thread that also reads the input is shown beside it; dd from /dev/zero is
# shown too, timed on its own (see below).
#
# Per command: one warm-up run (under /usr/bin/time, which gives the peak
# RSS), then timed runs, each writing a new file after a sync and finding
# its input in the page cache: the limits, bmpresize and the library
# take turns, at least 21 rounds for outputs under 64 MiB and 11 for larger
# ones, in orders that put each command first, and after each other one,
# equally often; the general tools 2 runs each. The median and the spread (fastest - slowest)
# are shown. The ratios to the write limit that the targets judge are taken
# round by round (this run over the limit's run of the same round: the
# machine's drift moves both alike) and their median is shown with the
# middle half of them. dd is not among them: with dd writing its file
# between their runs, the one-thread limit on the 8-bit case ran 7% faster
# and bmpresize 7% slower, whichever command came right before (1.29 of the
# limit against 1.10 without it, twice each, alternated; dd writing to
# /dev/null changed nothing), so it is timed in runs of its own, as the
# general tools are. --quick times one run of each.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BENCH=$ROOT/bench
WORK=$BENCH/work
PY=${PYTHON:-python3}
TAB=$'\t'

OURS_RUNS=11
OURS_RUNS_SMALL=21  # outputs under 64 MiB: runs of a few milliseconds vary more
PEER_RUNS=2
DD_RUNS=5
BATCH_ONLY=""
if [[ ${1:-} == --quick ]]; then
  OURS_RUNS=1
  OURS_RUNS_SMALL=1
  PEER_RUNS=1
  DD_RUNS=1
elif [[ ${1:-} == --batch-only ]]; then
  BATCH_ONLY=1
  CASES=()
elif [[ $# -gt 0 ]]; then
  echo "usage: bench/run.sh [--quick | --batch-only]" >&2
  exit 2
fi

# Cases: width height factor [bits per pixel, 24 if left out, or rle8: a
# picture of 256 colours as GraphicsMagick writes it, RLE8]. BENCH_CASES
# picks some, separated by ";" ("1920 1080 2;4000 3000 3 8").
[[ -n $BATCH_ONLY ]] || CASES=(
  "1920 1080 2"
  "4000 3000 3"
  "256 256 16"
  "8000 6000 2"
  "4000 3000 3 8"
  "4000 3000 3 32"
  "4000 3000 3 1"
  "4000 3000 3 rle8"
)
if [[ -n ${BENCH_CASES:-} && -z $BATCH_ONLY ]]; then
  IFS=';' read -r -a CASES <<<"$BENCH_CASES"
fi

# ---- the tool under test ----------------------------------------------------

if [[ -n ${BMPRESIZE:-} ]]; then
  TOOL=$BMPRESIZE
  [[ -x $TOOL ]] || { echo "BMPRESIZE=$TOOL is not an executable" >&2; exit 1; }
else
  TOOL=$ROOT/build/cli/bmpresize
  if [[ ! -x $TOOL ]]; then
    echo "building bmpresize (Release) ..."
    (cd "$ROOT" && cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null &&
      cmake --build build >/dev/null)
  fi
  # Timing a debug build would be meaningless: say so loudly.
  build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$ROOT/build/CMakeCache.txt" 2>/dev/null || true)
  if [[ $build_type != Release ]]; then
    echo "WARNING: build/ is configured as '${build_type:-unknown}', not Release" >&2
  fi
fi

mkdir -p "$WORK"
ROUNDS=$WORK/rounds.tsv

HOST=${BMPRESIZER_HOST:-$ROOT/build/examples/link_host}
[[ -x $HOST ]] || HOST=""

LIMIT=$WORK/write_limit
if [[ ! -x $LIMIT || $BENCH/write_limit.c -nt $LIMIT ]]; then
  cc -O2 -o "$LIMIT" "$BENCH/write_limit.c" -lpthread
fi

ENGINE=$WORK/engine_host
ENGINE_LIB=$(dirname "$TOOL")/../src
if [[ -f $ENGINE_LIB/libbmpresize.so ]]; then
  cc -O2 -I"$ENGINE_LIB/../include" -o "$ENGINE" "$BENCH/engine_host.c" \
    -L"$ENGINE_LIB" -Wl,-rpath,"$(cd "$ENGINE_LIB" && pwd)" -lbmpresize
else
  ENGINE=""
fi

# ---- which general tools are installed --------------------------------------

PEERS=()    # names of the general tools found, in table order
SKIPPED=()  # names of those not found

if command -v gm >/dev/null; then PEERS+=(gm); else SKIPPED+=("GraphicsMagick (gm)"); fi

# ImageMagick: a `convert` early in PATH may be something else entirely (on
# some machines /usr/local/bin/convert is), so check the candidates that are
# ImageMagick's own before falling back to whatever `convert` PATH finds.
IM=""
for candidate in magick /usr/bin/magick /usr/bin/convert /usr/bin/convert-im6.q16 convert; do
  path=$(command -v "$candidate" 2>/dev/null) || continue
  if "$path" -version 2>/dev/null | grep -q ImageMagick; then IM=$path; break; fi
done
if [[ -n $IM ]]; then PEERS+=(imagemagick); else SKIPPED+=("ImageMagick"); fi

if /usr/bin/python3 -c 'import PIL' 2>/dev/null; then PEERS+=(pillow); else SKIPPED+=("Pillow"); fi
if command -v vips >/dev/null; then PEERS+=(vips); else SKIPPED+=("libvips (vips)"); fi

ENLARGE=""
if command -v pnmenlarge >/dev/null; then ENLARGE=pnmenlarge
elif command -v pamenlarge >/dev/null; then ENLARGE=pamenlarge; fi
if [[ -n $ENLARGE ]] && command -v bmptopnm >/dev/null && command -v ppmtobmp >/dev/null; then
  PEERS+=(netpbm)
else
  SKIPPED+=("netpbm")
fi

# ---- helpers -------------------------------------------------------------------

# Floating-point arithmetic and formatting through awk.
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

# peer_command NAME IN OUT FACTOR: print the command (one argument per line).
# The label and output suffix come from peer_label / peer_suffix.
peer_command() {
  local name=$1 in=$2 out=$3 f=$4
  case $name in
    # Uncompressed, as ours: both write RLE for few colours otherwise.
    gm) printf '%s\n' gm convert "$in" -sample "$((f * 100))%" -compress None "$out" ;;
    # From RLE8 to RLE8, as ours.
    gm-rle8) printf '%s\n' gm convert "$in" -sample "$((f * 100))%" "$out" ;;
    # BMP3: asks for the 40-byte header; plain BMP gets a 124-byte one.
    imagemagick) printf '%s\n' "$IM" "$in" -sample "$((f * 100))%" -compress none "BMP3:$out" ;;
    # One line: the arguments travel one per line through mapfile.
    pillow) printf '%s\n' /usr/bin/python3 -c \
      'import sys; from PIL import Image; im = Image.open(sys.argv[1]); f = int(sys.argv[3]); im.resize((im.width * f, im.height * f), Image.NEAREST).save(sys.argv[2])' \
      "$in" "$out" "$f" ;;
    vips) printf '%s\n' vips zoom "$in" "$out" "$f" "$f" ;;
    vips-ppm) printf '%s\n' vips zoom "$in" "$out" "$f" "$f" ;;
    # -bpp=24: without it ppmtobmp writes a palette image when it finds few
    # colours. The measured RSS is the largest of the three processes.
    netpbm) printf '%s\n' bash -c \
      "bmptopnm \"\$1\" 2>/dev/null | $ENLARGE $f | ppmtobmp -bpp=24 >\"\$2\" 2>/dev/null" \
      bash "$in" "$out" ;;
  esac
}

peer_label() {
  case $1 in
    gm) echo "GraphicsMagick gm convert -sample" ;;
    gm-rle8) echo "GraphicsMagick gm convert -sample (RLE8 to RLE8)" ;;
    imagemagick) echo "ImageMagick $IM -sample, BMP3:" ;;
    pillow) echo "Pillow resize NEAREST" ;;
    vips) echo "libvips vips zoom (BMP via its ImageMagick saver)" ;;
    vips-ppm) echo "libvips vips zoom (writes .ppm, not BMP)" ;;
    netpbm) echo "netpbm bmptopnm | $ENLARGE | ppmtobmp (pipeline)" ;;
  esac
}

# paired_ratio NUM DEN: command NUM's time over command DEN's, round by
# round (columns of $ROUNDS), as "MEDIAN round by round (middle half LOW-HIGH)".
paired_ratio() {
  awk -F"$TAB" -v n="$1" -v d="$2" '$n != "-" && $d != "-" { print $n / $d }' "$ROUNDS" |
    sort -g | awk '{ r[NR] = $1 }
      END {
        if (NR == 0) { print "n/a"; exit }
        m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
        printf "%.2f round by round (middle half %.2f-%.2f)", m, r[int(NR / 4) + 1], r[int((3 * NR + 3) / 4)]
      }'
}

peer_suffix() { [[ $1 == vips-ppm ]] && echo ppm || echo bmp; }

# ---- the cases -----------------------------------------------------------------

echo "# bmpresize benchmark"
echo
echo "tool: $TOOL"
echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) RAM; work folder: $WORK"
echo "library host: ${HOST:-none (build the examples, or set BMPRESIZER_HOST)}"
echo "engine host: ${ENGINE:-none (no libbmpresize.so in the build of the tool)}"
echo "file system: $(df -PT "$WORK" | awk 'NR == 2 { print $2 " on " $1 }')"
echo "runs: warm-up + median of at least $OURS_RUNS_SMALL interleaved rounds for outputs under 64 MiB, $OURS_RUNS for larger ones (limits, bmpresize, library; each first, and after each other, equally often), warm-up + median of $PEER_RUNS (general tools); spread = fastest - slowest; ratios to the write limit round by round"
echo "general tools found: ${PEERS[*]:-none}"
echo "general tools skipped (not installed): ${SKIPPED[*]:-none}"

OUR_RSS=()   # per case: "output_bytes rss_kib label"
FAILED=0

for case_line in ${CASES[@]+"${CASES[@]}"}; do
  read -r W H F BITS <<<"$case_line"
  BITS=${BITS:-24}
  in=$WORK/in_${W}x${H}$([[ $BITS == 24 ]] || echo "_$BITS").bmp
  OW=$((W * F))
  OH=$((H * F))
  ours_out=$WORK/out_ours.bmp
  log=$WORK/last.log
  if [[ $BITS == rle8 ]]; then
    # A photograph's kind of picture (GraphicsMagick's plasma: smooth
    # colours and fine noise) reduced to 256 colours, which gm writes as
    # RLE8 by default; the output's length is what bmpresize writes.
    if ! command -v gm >/dev/null; then
      echo; echo "## ${W}x${H} x$F, RLE8: skipped (GraphicsMagick makes its input)"; continue
    fi
    [[ -f $in ]] || gm convert -size "${W}x${H}" plasma:fractal -colors 256 "$in"
    "$TOOL" -q "$in" "$ours_out" "$F"
    expected=$(stat -c %s "$ours_out")
    rm -f "$ours_out"
  else
    [[ -f $in ]] || "$PY" "$BENCH/make_bmp.py" "$in" "$W" "$H" --bits "$BITS"
    prefix=$((54 + (BITS <= 8 ? 4 << BITS : 0)))
    expected=$((prefix + OH * ((OW * BITS + 31) / 32 * 4)))
  fi

  echo
  echo "## ${W}x${H} x$F, $([[ $BITS == rle8 ]] && echo "8 bits per pixel, RLE8" || echo "$BITS bits per pixel") -> ${OW}x${OH}, output $expected bytes ($(calc '%.1f' "$expected / 1048576") MiB)"
  echo

  # One row per command: label, seconds, rss_kib, verified, separated by tabs
  # (labels may contain "|"); seconds is "-" when the command failed.
  rows=()

  # The write limit (one writer and two: the faster counts), our tool and
  # the library, taking turns round after round.
  lib_out=$WORK/out_library.bmp
  engine_out=$WORK/out_engine.bmp
  commands=("$LIMIT" "$WORK/limit.out" "$expected" 1
    --and "$LIMIT" "$WORK/limit.out" "$expected" 2
    --and "$TOOL" "$in" "$ours_out" "$F")
  # The engine's path call, beside the tool it is behind (command 4); where
  # it is not built, a command that does nothing keeps the numbering.
  if [[ -n $ENGINE ]]; then
    commands+=(--and "$ENGINE" "$in" "$engine_out" "$F")
  else
    commands+=(--and true)
  fi
  with_library=$([[ -n $HOST && $BITS == 24 ]] && echo 1 || true)
  # The library runs in its caller's one thread: beside it, the limit for one
  # thread that also reads the input as it writes.
  [[ -n $with_library ]] && commands+=(--and "$HOST" "$in" "$lib_out" "$F"
    --and "$LIMIT" "$WORK/limit_reading.out" "$expected" 1 "$in")
  runs=$((expected < 64 << 20 ? OURS_RUNS_SMALL : OURS_RUNS))
  mapfile -t results < <("$PY" "$BENCH/measure.py" --runs "$runs" --remove "$WORK/limit.out" \
    --remove "$ours_out" --remove "$lib_out" --remove "$engine_out" \
    --remove "$WORK/limit_reading.out" --log "$log" \
    --times "$ROUNDS" --warm "$in" -- "${commands[@]}")
  limit_t=""
  limit_column=""
  for threads in 1 2; do
    read -r status t lo hi rss <<<"${results[threads - 1]}"
    [[ $status == ok ]] || { echo "write_limit failed: $(tail -n1 "$log.$threads")" >&2; exit 1; }
    rows+=("write limit, $threads thread$([[ $threads == 1 ]] || echo s)${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}-")
    if [[ -z $limit_t ]] || awk "BEGIN { exit !($t < $limit_t) }"; then
      limit_t=$t
      limit_column=$threads
    fi
  done
  rm -f "$WORK/limit.out" "$WORK/limit_reading.out"
  read -r status t lo hi rss < <("$PY" "$BENCH/measure.py" --runs "$DD_RUNS" \
    --remove "$WORK/dd.out" --log "$log" -- \
    dd if=/dev/zero of="$WORK/dd.out" bs=1M count="$expected" iflag=count_bytes status=none)
  [[ $status == ok ]] || { echo "dd failed: $(tail -n1 "$log")" >&2; exit 1; }
  rows+=("dd from /dev/zero, 1 MiB blocks (runs of its own)${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}-")
  rm -f "$WORK/dd.out"
  # (Each run removes every command's output first: make ours and the
  # library's once more to check them.)
  rm -f "$ours_out" "$lib_out" "$engine_out"
  "$TOOL" -q "$in" "$ours_out" "$F" 2>/dev/null || true
  [[ -n $with_library ]] && { "$HOST" "$in" "$lib_out" "$F" >/dev/null 2>&1 || true; }
  [[ -n $ENGINE ]] && { "$ENGINE" "$in" "$engine_out" "$F" >/dev/null 2>&1 || true; }

  # Our tool.
  read -r status t lo hi rss <<<"${results[2]}"
  if [[ $status != ok ]]; then
    echo "bmpresize failed (exit $t): $(tail -n1 "$log.3")" >&2
    exit 1
  fi
  ours_t=$t
  ours_rss=$rss
  size=$(stat -c %s "$ours_out")
  if [[ $size == "$expected" ]]; then
    verified="OK (size $size)"
  else
    verified="MISMATCH (size $size, expected $expected)"
    FAILED=1
  fi
  rows+=("**bmpresize**${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}$verified")
  OUR_RSS+=("$expected $rss ${W}x${H}x${F}_${BITS}bit")

  # The engine's path call, through a host that calls it once.
  engine_t=""
  if [[ -n $ENGINE ]]; then
    read -r status t lo hi rss <<<"${results[3]}"
    if [[ $status == ok ]] && cmp -s "$engine_out" "$ours_out"; then
      rows+=("**engine (bmpresize_enlarge_file)**${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}OK (same bytes)")
      engine_t=$t
    else
      rows+=("**engine (bmpresize_enlarge_file)**${TAB}-${TAB}-${TAB}-${TAB}-${TAB}MISMATCH or failed: $(tail -n1 "$log.4")")
      FAILED=1
    fi
    rm -f "$engine_out"
  fi

  # The library, through a host that calls BMPResizer once.
  lib_t=""
  if [[ -n $with_library ]]; then
    read -r status t lo hi rss <<<"${results[4]}"
    if [[ $status == ok ]] && cmp -s "$lib_out" "$ours_out"; then
      rows+=("**library (BMPResizer)**${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}OK (same bytes)")
      lib_t=$t
      read -r status t lo hi rss <<<"${results[5]}"
      [[ $status == ok ]] || { echo "write_limit failed: $(tail -n1 "$log.6")" >&2; exit 1; }
      rows+=("write limit reading the input, 1 thread${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}-")
    else
      rows+=("**library (BMPResizer)**${TAB}-${TAB}-${TAB}-${TAB}-${TAB}MISMATCH or failed: $(tail -n1 "$log.5")")
      FAILED=1
    fi
    rm -f "$lib_out"
  fi

  # General tools: time, then compare their pixels with ours (an RLE8
  # input against GraphicsMagick writing the same kind, both outputs read
  # through it).
  peers=("${PEERS[@]}")
  [[ $BITS == rle8 ]] && peers=(gm-rle8)
  fastest=""
  fastest_label=""
  i=0
  while ((i < ${#peers[@]})); do
    name=${peers[i]}
    i=$((i + 1))
    out=$WORK/out_$name.$(peer_suffix "$name")
    mapfile -t cmd < <(peer_command "$name" "$in" "$out" "$F")
    read -r status t lo hi rss < <("$PY" "$BENCH/measure.py" --runs "$PEER_RUNS" \
      --remove "$out" --warm "$in" --log "$log" -- "${cmd[@]}")
    label=$(peer_label "$name")
    if [[ $status != ok ]]; then
      reason=$(tail -n1 "$log" | cut -c1-100 | tr "$TAB|" "  ")
      rows+=("$label${TAB}-${TAB}-${TAB}-${TAB}-${TAB}failed (exit $t): ${reason:-no message}")
      # vips saves BMP only through ImageMagick; if that fails, time vips
      # writing its own PPM instead so it still gets a row.
      [[ $name == vips ]] && peers+=(vips-ppm)
      rm -f "$out"
      continue
    fi
    if [[ $name == gm-rle8 ]]; then
      gm convert "$ours_out" "ppm:$WORK/ours.ppm" && gm convert "$out" "ppm:$WORK/peer.ppm"
      reason=$(cmp "$WORK/ours.ppm" "$WORK/peer.ppm" 2>&1) && verified=OK || verified="MISMATCH: $reason"
      [[ $verified == OK ]] || FAILED=1
      rm -f "$WORK/ours.ppm" "$WORK/peer.ppm"
    elif reason=$("$PY" "$BENCH/compare_pixels.py" "$ours_out" "$out"); then
      verified=OK
    else
      verified="MISMATCH: $reason"
      FAILED=1
    fi
    rows+=("$label${TAB}$t${TAB}$lo${TAB}$hi${TAB}$rss${TAB}$verified")
    if [[ -z $fastest ]] || awk "BEGIN { exit !($t < $fastest) }"; then
      fastest=$t
      fastest_label=$label
    fi
    rm -f "$out"
  done
  rm -f "$ours_out"

  echo "| command | median s | spread ms | ratio to write limit | slower than bmpresize by | peak RSS MiB | verified |"
  echo "|---|---:|---:|---:|---:|---:|---|"
  for row in "${rows[@]}"; do
    IFS=$TAB read -r label t lo hi rss verified <<<"$row"
    label=${label//|/\\|}  # a literal | would end the markdown cell
    if [[ $t == - ]]; then
      echo "| $label | - | - | - | - | - | $verified |"
    else
      echo "| $label | $(calc '%.4f' "$t") | $(calc '%.1f' "($hi - $lo) * 1000") |" \
        "$(calc '%.2f' "$t / $limit_t") | $(calc '%.2f' "$t / $ours_t") |" \
        "$(calc '%.2f' "$rss / 1024") | $verified |"
    fi
  done
  echo
  echo "- bmpresize / write limit = $(paired_ratio 3 "$limit_column"); ratio of the medians" \
    "$(calc '%.2f' "$ours_t / $limit_t") (target <= $(case $BITS in rle8) echo 1.5 ;; 1|2|4) echo 1.3 ;; *) echo 1.15 ;; esac))"
  if [[ -n $engine_t ]]; then
    echo "- engine's path call / bmpresize = $(paired_ratio 4 3); ratio of the medians" \
      "$(calc '%.2f' "$engine_t / $ours_t") (target <= 1.05)"
  fi
  if [[ -n $lib_t ]]; then
    echo "- library / write limit = $(paired_ratio 5 "$limit_column"); ratio of the medians" \
      "$(calc '%.2f' "$lib_t / $limit_t") (target <= 1.3)"
    echo "- library / write limit reading the input, 1 thread = $(paired_ratio 5 6)"
  fi
  if [[ -n $fastest ]]; then
    echo "- fastest general tool / ours = $(calc '%.1f' "$fastest / $ours_t") ($fastest_label) (target >= $([[ $BITS == rle8 ]] && echo 10 || echo 5))"
  else
    echo "- fastest general tool / ours = n/a (no general tool succeeded)"
  fi
  echo "- ours peak RSS = $(calc '%.2f' "$ours_rss / 1024") MiB (target < 4 MiB)"
done

if [[ -z $BATCH_ONLY ]]; then
# Memory must not grow with the image: compare the smallest and the largest
# output among the cases.
echo
mapfile -t sorted < <(printf '%s\n' "${OUR_RSS[@]}" | sort -n)
read -r _ small_rss small_label <<<"${sorted[0]}"
read -r _ large_rss large_label <<<"${sorted[${#sorted[@]} - 1]}"
all_rss=$(printf '%s\n' "${OUR_RSS[@]}" | awk '{ printf "%s%s %d KiB", sep, $3, $2; sep = ", " }')
echo "ours peak RSS: smallest output ($small_label) $small_rss KiB, largest output ($large_label) $large_rss KiB," \
  "the largest $((large_rss - small_rss)) KiB more than the smallest (target: at most 256 KiB more); all cases: $all_rss"

# The same check against an output over 2 GiB: 8000x6000 at factor 4.
big_in=$WORK/in_8000x6000.bmp
big_out=$WORK/out_big.bmp
if [[ -f $big_in ]]; then
  rm -f "$big_out"
  big_rss=$(/usr/bin/time -f '%M' "$TOOL" -q "$big_in" "$big_out" 4 2>&1 >/dev/null | tail -n 1)
  big_bytes=$(stat -c %s "$big_out")
  rm -f "$big_out"
  echo "ours peak RSS for a $(calc '%.2f' "$big_bytes / 1073741824") GiB output (8000x6000x4): $big_rss KiB," \
    "$((big_rss - small_rss)) KiB more than the smallest output (target: at most 256 KiB more)"
fi

fi

# ---- a batch of small files ----------------------------------------------------
# 2,000 images of 48x48 enlarged 4 times into a folder, two at a time, against
# GraphicsMagick's mogrify doing the same and against cp copying the same
# output bytes (what the file system costs to make that many files).

BATCH_FILES=2000
batch_in=$WORK/batch_in
if [[ ! -f $batch_in/$((BATCH_FILES - 1)).bmp ]]; then
  rm -rf "$batch_in"
  "$PY" "$BENCH/make_bmp.py" "$WORK/one_48.bmp" 48 48 --seed 1 >/dev/null
  "$PY" - "$batch_in" "$BATCH_FILES" <<'PYTHON'
import os, random, sys
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
header = open(os.path.join(os.path.dirname(folder), "one_48.bmp"), "rb").read()[:54]
rng = random.Random(7)
for i in range(count):
    with open(os.path.join(folder, "%d.bmp" % i), "wb") as f:
        f.write(header + rng.randbytes(48 * 48 * 3))
PYTHON
fi
batch_bytes=$((54 + 192 * 192 * 3))
# Every run writes into folders of its own, removed only after the last run:
# on ext4 without a journal, creating a file skips every inode deleted in the
# last minutes, so removing 2,000 outputs just before a run made the next
# one several times slower, whichever tool it timed. For the same reason the
# batch runs on a file system of its own where one can be made (as root,
# with losetup and the work folder on ext4): a new ext4 of the work folder's
# kind (with or without a journal, as that one), on a loop device over a
# sparse file in the work folder, with direct I/O so that its blocks are not
# cached twice. Without it, what the machine deleted before the benchmark
# decides the figures. BMPRESIZER_BENCH_FRESH_FS=0 keeps the batch in the
# work folder.
batch_fs=""
batch_loop=""
batch_image=$WORK/batch_fs.img
release_batch_fs() {
  if [[ -n $batch_fs ]]; then umount "$batch_fs" 2>/dev/null || true; fi
  if [[ -n $batch_loop ]]; then losetup -d "$batch_loop" 2>/dev/null || true; fi
  rm -f "$batch_image"
  batch_fs=""
  batch_loop=""
}
work_fs=$(df -PT "$WORK" | awk 'NR == 2 { print $2 " " $1 }')
if [[ ${BMPRESIZER_BENCH_FRESH_FS:-1} != 0 && $(id -u) == 0 && ${work_fs%% *} == ext4 ]] &&
  command -v losetup >/dev/null && command -v mkfs.ext4 >/dev/null; then
  work_device=$(basename "${work_fs#* }")
  journal="-O ^has_journal"
  compgen -G "/proc/fs/jbd2/$work_device-*" >/dev/null && journal=""
  trap release_batch_fs EXIT
  rm -f "$batch_image"
  # Sparse, and large enough to stay nearly empty (a filling ext4 slows
  # down); inode tables written now, not by a kernel thread during the runs.
  truncate -s 32G "$batch_image"
  # shellcheck disable=SC2086 # $journal is one option and its value, or none
  if mkfs.ext4 -q -F $journal -N 131072 -E lazy_itable_init=0,lazy_journal_init=0 \
    "$batch_image" &&
    batch_loop=$(losetup --direct-io=on -f --show "$batch_image") &&
    mkdir -p "$WORK/batch_fs" && mount "$batch_loop" "$WORK/batch_fs"; then
    batch_fs=$WORK/batch_fs
  else
    echo "note: could not make a file system for the batch; it runs in the work folder" >&2
    release_batch_fs
  fi
fi
batch_runs=${batch_fs:-$WORK}/batch_runs
batch_where=$([[ -n $batch_fs ]] && echo "a new ext4$([[ -n $journal ]] && echo " without a journal" || echo " with a journal") on a loop device (direct I/O)" || echo "the work folder ($(df -PT "$WORK" | awk 'NR == 2 { print $2 }'))")
rm -rf "$batch_runs"
batch_run=0
BATCH_ROUNDS=$([[ $OURS_RUNS -gt 1 ]] && echo 5 || echo 1)
# The bytes of one enlarged image, copied BATCH_FILES times.
"$TOOL" "$batch_in/0.bmp" "$WORK/one_out.bmp" 4
# (The commands below read $batch_out when they run.)
enlarge_all() { "$TOOL" -q -j 2 -f 4 -o "$batch_out" "$batch_in"/*.bmp; }
copy_all() { for ((i = 0; i < BATCH_FILES; i++)); do cp "$WORK/one_out.bmp" "$batch_out/$i.bmp"; done; }
copy_two_at_a_time() {
  (cd "$batch_in" && ls | xargs -P 2 -n 100 sh -c \
    'source=$0 folder=$1; shift; for f; do cp "$source" "$folder/$f"; done' \
    "$WORK/one_out.bmp" "$batch_out")
}
mogrify_all() { (cd "$batch_in" && gm mogrify -output-directory "$batch_out" -sample 400% *.bmp); }
BATCH_LABELS=("**bmpresize -j 2 -f 4 -o DIR FILE...**" "xargs -P 2 cp of the enlarged bytes (two at a time)"
  "cp of the enlarged bytes, one file at a time")
BATCH_COMMANDS=(enlarge_all copy_two_at_a_time copy_all)
if command -v gm >/dev/null; then
  BATCH_LABELS+=("gm mogrify -sample 400% -output-directory DIR")
  BATCH_COMMANDS+=(mogrify_all)
fi
# The commands take turns, round after round, each into a new folder after
# a sync; per command the median and the spread of its rounds.
declare -A batch_times
for ((round = 0; round < BATCH_ROUNDS; round++)); do
  for command in "${BATCH_COMMANDS[@]}"; do
    batch_run=$((batch_run + 1))
    batch_out=$batch_runs/$batch_run/out
    # A file system of its own is mounted afresh before every run: its
    # cached state slows file creation down after a few thousand files
    # (every tool alike) until it is unmounted.
    if [[ -n $batch_fs ]]; then
      umount "$batch_fs" && mount "$batch_loop" "$batch_fs"
    fi
    mkdir -p "$batch_out"
    sync
    # Every command finds the inputs in the page cache (see measure.py).
    cat "$batch_in"/*.bmp "$WORK/one_out.bmp" >/dev/null
    start=$(date +%s.%N)
    "$command" >/dev/null 2>&1 || { echo "$command failed" >&2; exit 1; }
    end=$(date +%s.%N)
    batch_times[$command]+="$(calc '%.4f' "$end - $start") "
  done
done
batch_median() { tr ' ' '\n' <<<"${batch_times[$1]}" | grep . | sort -n | awk '{ t[NR] = $1 } END { m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2; printf "%.4f %.4f %.4f\n", m, t[1], t[NR] }'; }
echo
echo "## batch: $BATCH_FILES files of 48x48 x4 -> 192x192 ($batch_bytes bytes each), -j 2, median of $BATCH_ROUNDS interleaved rounds, on $batch_where"
echo
echo "| command | median s | spread s | files per second | per file, ms |"
echo "|---|---:|---:|---:|---:|"
for i in "${!BATCH_COMMANDS[@]}"; do
  read -r m lo hi < <(batch_median "${BATCH_COMMANDS[i]}")
  echo "| ${BATCH_LABELS[i]} | $m | $(calc '%.4f' "$hi - $lo") | $(calc '%.0f' "$BATCH_FILES / $m") |" \
    "$(calc '%.3f' "$m * 1000 / $BATCH_FILES") |"
done
read -r ours_batch _ < <(batch_median enlarge_all)
read -r cp_batch _ < <(batch_median copy_two_at_a_time)
echo
echo "- bmpresize per file / xargs -P 2 cp per file = $(calc '%.2f' "$ours_batch / $cp_batch") (target <= 1)"
if command -v gm >/dev/null; then
  read -r gm_batch _ < <(batch_median mogrify_all)
  echo "- gm mogrify / bmpresize = $(calc '%.1f' "$gm_batch / $ours_batch") (target >= 5)"
fi
# Verify: the tool's outputs against GraphicsMagick's, for a few files.
batch_out=$batch_runs/check/out
batch_copy=$batch_runs/check/copy
mkdir -p "$batch_out" "$batch_copy"
"$TOOL" -q -j 2 -f 4 -o "$batch_out" "$batch_in"/*.bmp
if command -v gm >/dev/null; then
  (cd "$batch_in" && gm mogrify -output-directory "$batch_copy" -sample 400% 0.bmp 777.bmp 1999.bmp)
  for f in 0 777 1999; do
    if ! reason=$("$PY" "$BENCH/compare_pixels.py" "$batch_out/$f.bmp" "$batch_copy/$f.bmp"); then
      echo "batch output $f.bmp: MISMATCH: $reason"
      FAILED=1
    fi
  done
  echo
  echo "- batch outputs 0, 777 and 1999 verified against gm: $([[ $FAILED == 0 ]] && echo OK || echo MISMATCH)"
fi
echo "- bmpresize batch peak RSS: $(/usr/bin/time -f '%M' "$TOOL" -q -j 2 -f 4 -o "$batch_out" \
  "$batch_in"/*.bmp 2>&1 >/dev/null | tail -n 1) KiB"
rm -rf "$batch_runs" "$WORK/one_out.bmp"
release_batch_fs

if ((FAILED)); then
  echo
  echo "some outputs did not verify (see MISMATCH above)"
  exit 1
fi
