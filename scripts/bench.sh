#!/usr/bin/env bash
# Measures kestrune-cli on tmpfs against cp, cp && rm, openssl enc and the
# same file steps without cryptography, and prints Markdown tables: median wall times,
# paired ratios, peak memory, many small files, batches of files on disk
# against gzip --synchronous, and the in-memory record coding benchmark.
#
# Usage: scripts/bench.sh [--quick] [--size-mib N] [--runs N] [--files N]
#                         [--ciphers "AES256 3DES DES"] [--build DIR] [--no-micro]
#                         [--batch-runs N] [--cli-args "ARGS"] [--no-batch]
#   --quick      16 MiB, 3 runs, 200 small files, batches of 200 × 1 KiB and
#                10 × 1 MiB timed once: a smoke test of a few seconds
#   --size-mib   size of the large file (default 1024)
#   --runs       timed runs per comparison (default 5)
#   --files      number of 1 KiB files converted in one call, and of one-byte
#                files dropped on the dialog (default 10000)
#   --batch-runs timed runs per batch on disk (default: as --runs)
#   --cli-args   more arguments for kestrune-cli in the batches, e.g. "-j 1"
#   --no-batch   leave out the batches on disk
#
# Each run times Kestrune and its baselines back to back, in an order that
# rotates from run to run, so a change in the machine's load falls on all of
# them alike; a ratio is the median of the per-run ratios.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

size_mib=1024
runs=5
files=10000
ciphers="AES256 3DES DES"
build=build/default
micro_min_time=0.5
run_micro=1
# Batches on disk, each "FILES:KIB".
batch_sets="1000:1 10000:1 100:1024"
batch_runs=""
cli_args=()
run_batch=1

while [ $# -gt 0 ]; do
  case "$1" in
    --quick) size_mib=16 runs=3 files=200 micro_min_time=0.01 batch_sets="200:1 10:1024" batch_runs=1 ;;
    --size-mib) size_mib="$2"; shift ;;
    --runs) runs="$2"; shift ;;
    --files) files="$2"; shift ;;
    --ciphers) ciphers="$2"; shift ;;
    --build) build="$2"; shift ;;
    --no-micro) run_micro=0 ;;
    --batch-runs) batch_runs="$2"; shift ;;
    --cli-args) read -r -a cli_args <<<"$2"; shift ;;
    --no-batch) run_batch=0 ;;
    *) echo "bench.sh: unknown option $1 (see the comment at the top)" >&2; exit 2 ;;
  esac
  shift
done

cli="$build/cli/kestrune-cli"
baseline="$build/bench/file_steps_baseline"
micro="$build/bench/record_coding_bench"
gnu_time=/usr/bin/time
for tool in "$cli" "$baseline" "$micro" "$gnu_time"; do
  [ -x "$tool" ] || { echo "bench.sh: $tool is missing (build first; 'time' package for $gnu_time)" >&2; exit 1; }
done

batch_runs="${batch_runs:-$runs}"
work="$(mktemp -d /dev/shm/kestrune-bench.XXXXXX)"
# Batches are converted on the disk the build folder is on: on tmpfs a
# flush costs nothing, and with small files flushing is most of the work.
batch_root="$(mktemp -d "$build/bench-batch.XXXXXX")"
trap 'rm -rf "$work" "$batch_root"' EXIT
password_file="$work/password"
echo "bench-password" >"$password_file"

# ---- timing ---------------------------------------------------------------

# This VM's host takes back memory the guest has freed for a while and backs
# it again page by page when it is touched, which can make one run three
# times slower than the next. Writing and removing a file twice the size of
# the test file just before each timed step hands every step the same kind
# of memory, recently used, as on a machine that has been running a while.
settle_memory() {
  head -c "$(( (size_mib < 32 ? 64 : 2 * size_mib) << 20 ))" /dev/zero >"$work/settle"
  rm -f "$work/settle"
}

elapsed_us=0
median_us=()  # the median time of each step of the last comparison
# Runs "$@" and leaves its wall time in elapsed_us; preparation stays outside.
timed() {
  settle_memory
  local start="$EPOCHREALTIME"
  "$@" >/dev/null
  local end="$EPOCHREALTIME"
  elapsed_us=$(( ${end/./} - ${start/./} ))
}

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
seconds() { awk -v us="$1" 'BEGIN {printf "%.3f", us / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# ---- the conversions timed ------------------------------------------------

plain="$work/plain.bin"

openssl_cipher() {
  case "$1" in
    AES256) echo "-aes-256-cbc -K $(printf '%064d' 0) -iv $(printf '%032d' 0)" ;;
    3DES) echo "-des-ede3-cbc -K $(printf '%048d' 0) -iv $(printf '%016d' 0)" ;;
    DES) echo "-des-cbc -K $(printf '%016d' 0) -iv $(printf '%016d' 0) -provider legacy -provider default" ;;
  esac
}

kestrune_encrypt() {  # cipher
  rm -f "$work/k" "$work/k.enc"
  cp "$plain" "$work/k"
  timed "$cli" --cipher "$1" --password-stdin "$work/k" <"$password_file"
  rm -f "$work/k.enc"
}

kestrune_decrypt() {  # cipher
  rm -f "$work/k" "$work/k.enc"
  cp "$work/container.$1" "$work/k.enc"
  timed "$cli" --cipher "$1" --password-stdin "$work/k.enc" <"$password_file"
  cmp -s "$work/k" "$plain" || { echo "bench.sh: $1 round trip changed the file" >&2; exit 1; }
  rm -f "$work/k"
}

copy_file() {  # cipher (unused: cp is the same for all)
  rm -f "$work/copy"
  timed cp "$plain" "$work/copy"
  rm -f "$work/copy"
}

# The plain shell command that leaves the same files behind: a copy, then
# the input removed.
copy_and_remove() {  # cipher (unused)
  rm -f "$work/c" "$work/c.copy"
  cp "$plain" "$work/c"
  timed sh -c 'cp "$1" "$1.copy" && rm "$1"' sh "$work/c"
  rm -f "$work/c.copy"
}

# What a conversion does to the file system, crypto left out: the input is
# moved through a temporary to NAME.enc and removed.
file_steps() {  # cipher (unused)
  rm -f "$work/s" "$work/s.enc"
  cp "$plain" "$work/s"
  timed "$baseline" --with-checks "$work/s"
  rm -f "$work/s.enc"
}

openssl_encrypt() {  # cipher
  # shellcheck disable=SC2046
  timed openssl enc $(openssl_cipher "$1") -in "$plain" -out "$work/o"
  rm -f "$work/o"
}

openssl_decrypt() {  # cipher
  # shellcheck disable=SC2046
  timed openssl enc -d $(openssl_cipher "$1") -in "$work/openssl.$1" -out "$work/o"
  rm -f "$work/o"
}

# Makes the inputs the decryptions read, untimed.
make_containers() {  # cipher
  cp "$plain" "$work/k"
  "$cli" --cipher "$1" --password-stdin "$work/k" <"$password_file" >/dev/null
  mv "$work/k.enc" "$work/container.$1"
  # shellcheck disable=SC2046
  openssl enc $(openssl_cipher "$1") -in "$plain" -out "$work/openssl.$1"
}

# Times Kestrune (the first step) against the baselines, in an order that
# rotates from run to run; prints a table row: the median seconds of each
# step, then the medians of the per-run ratios of Kestrune to each baseline.
compare() {  # label cipher step...
  local label="$1" cipher="$2"
  shift 2
  local -a steps=("$@")
  local count=${#steps[@]}
  local -a times=() ratios=()
  for ((run = 0; run < runs; ++run)); do
    local -a run_us=()
    for ((k = 0; k < count; ++k)); do
      local step=$(( (run + k) % count ))
      "${steps[step]}" "$cipher"
      run_us[step]=$elapsed_us
      times[step]+=" $elapsed_us"
    done
    for ((k = 1; k < count; ++k)); do ratios[k]+=" $(ratio "${run_us[0]}" "${run_us[k]}")"; done
  done
  local row="| $label |"
  median_us=()
  for ((k = 0; k < count; ++k)); do
    median_us[k]=$(echo "${times[k]}" | median)
    row+=" $(seconds "${median_us[k]}") |"
  done
  for ((k = 1; k < count; ++k)); do row+=" $(echo "${ratios[k]}" | median) |"; done
  echo "$row"
}

# ---- report ---------------------------------------------------------------

echo "# Kestrune benchmark"
echo
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Large file: ${size_mib} MiB on $(dirname "$work") (tmpfs); ${runs} runs per comparison; Kestrune hash SHA256."
echo

head -c "$((size_mib << 20))" /dev/urandom >"$plain"

# A compare row with the target it is held to in a last column.
compare_to_target() {  # target label cipher step...
  local target="$1" row
  shift
  row="$(compare "$@")"
  echo "$row $target |"
}

large_file_target() {  # cipher
  case "$1" in
    AES*) echo "≤ 1.0× cp && rm" ;;
    *) echo "≤ 0.25× openssl" ;;
  esac
}

echo "## Large file, median wall time"
echo
echo "| conversion | kestrune-cli s | cp && rm s | cp s | openssl enc s | file steps s | kestrune / cp && rm | kestrune / cp | kestrune / openssl | kestrune / file steps | target |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for cipher in $ciphers; do
  make_containers "$cipher"
  target="$(large_file_target "$cipher")"
  compare_to_target "$target" "$cipher encrypt" "$cipher" kestrune_encrypt copy_and_remove copy_file \
    openssl_encrypt file_steps
  compare_to_target "$target" "$cipher decrypt" "$cipher" kestrune_decrypt copy_and_remove copy_file \
    openssl_decrypt file_steps
  rm -f "$work/container.$cipher" "$work/openssl.$cipher"
done
echo

peak_memory_mib() {  # file
  "$gnu_time" -f %M -o "$work/rss" "$cli" --password-stdin "$1" <"$password_file" >/dev/null
  awk '{printf "%.1f", $1 / 1024}' "$work/rss"
}

echo "## Peak memory (max RSS), AES256"
echo
echo "| file | encrypt MiB | decrypt MiB |"
echo "|---|---|---|"
for mib in 1 "$size_mib"; do
  head -c "$((mib << 20))" "$plain" >"$work/m"
  encrypt_rss="$(peak_memory_mib "$work/m")"
  decrypt_rss="$(peak_memory_mib "$work/m.enc")"
  rm -f "$work/m"
  echo "| ${mib} MiB | $encrypt_rss | $decrypt_rss |"
done
echo

small="$work/small"
head -c "$((files << 10))" /dev/urandom >"$work/small.bin"
make_small_files() { rm -rf "$small"; mkdir "$small"; split -b 1024 -a 6 "$work/small.bin" "$small/f"; }
kestrune_small_files() { make_small_files; timed "$cli" --password-stdin "$small"/f* <"$password_file"; }
same_calls_small_files() { make_small_files; timed "$baseline" --with-checks "$small"/f*; }
bare_steps_small_files() { make_small_files; timed "$baseline" "$small"/f*; }
copy_and_remove_small_files() {
  make_small_files
  rm -rf "$work/small-copy"
  mkdir "$work/small-copy"
  timed sh -c 'cp -a "$1/." "$2/" && rm -r "$1"' sh "$small" "$work/small-copy"
  rm -rf "$work/small-copy"
}

echo "## ${files} files of 1 KiB in one call, median wall time"
echo
echo "Same calls: every system call a conversion makes, its safety checks included, without crypto."
echo "Bare steps: open, temporary, write, fsync, rename, folder fsync, unlink, nothing else."
echo "cp -a && rm -r: the plain shell command, \`cp -a DIR/. NEW/ && rm -r DIR\`."
echo
echo "| files | kestrune-cli s | cp -a && rm -r s | same calls s | bare steps s | kestrune / cp -a && rm -r | kestrune / same calls | kestrune / bare steps |"
echo "|---|---|---|---|---|---|---|---|"
compare "$files × 1 KiB" - kestrune_small_files copy_and_remove_small_files same_calls_small_files \
  bare_steps_small_files
echo
echo "The same calls alone take $(ratio "${median_us[2]}" "${median_us[1]}")× \`cp -a && rm -r\`: no conversion that keeps every safety step can take less."
echo

# ---- batches on disk -------------------------------------------------------

batch="$batch_root/batch"             # the folder each timed step works in
batch_plain="$batch_root/plain"       # the batch's files, kept for every run
batch_containers="$batch_root/enc"    # the same converted by kestrune-cli
batch_gzipped="$batch_root/gz"        # and by gzip
batch_bytes="$batch_root/plain.bin"   # all of them back to back

# A folder with -r where the CLI takes one, else every path.
cli_help="$("$cli" --help)"
cli_recursive=0
if [[ $cli_help == *--recursive* ]]; then cli_recursive=1; fi

make_batch() {  # files KiB
  rm -rf "$batch_plain" "$batch_containers" "$batch_gzipped"
  mkdir "$batch_plain"
  head -c "$(($1 * $2 << 10))" /dev/urandom >"$batch_bytes"
  split -b "$(($2 << 10))" -a 6 "$batch_bytes" "$batch_plain/f"
  cp -a "$batch_plain" "$batch_containers"
  "$cli" --password-stdin "$batch_containers"/* <"$password_file" >/dev/null
  cp -a "$batch_plain" "$batch_gzipped"
  gzip -1 "$batch_gzipped"/*
}

# A fresh copy of `source` where the step works, flushed, so that no timed
# step pays for the writing of the one before.
stage_batch() {  # source
  rm -rf "$batch" "$batch.copy"
  cp -a "$1" "$batch"
  sync
}

check_batch() {  # direction
  if [ "$1" = encrypt ]; then
    [ -z "$(find "$batch" -type f ! -name '*.enc' -print -quit)" ] || {
      echo "bench.sh: the batch was not all encrypted" >&2; exit 1; }
  else
    cat "$batch"/* | cmp -s - "$batch_bytes" || {
      echo "bench.sh: the batch's round trip changed its files" >&2; exit 1; }
  fi
}

# The inputs of each direction, and how -r is told which one it is.
declare -A batch_source=([encrypt]="$batch_plain" [decrypt]="$batch_containers")
declare -A direction_option=([encrypt]=-e [decrypt]=-d)

kestrune_batch() {  # encrypt|decrypt
  stage_batch "${batch_source[$1]}"
  local -a paths=("$batch"/*)
  if ((cli_recursive)); then paths=(-r "${direction_option[$1]}" "$batch"); fi
  timed "$cli" --password-stdin "${cli_args[@]}" "${paths[@]}" <"$password_file"
  check_batch "$1"
}

gzip_batch() {  # encrypt|decrypt
  if [ "$1" = encrypt ]; then
    stage_batch "$batch_plain"
    timed gzip --synchronous -1 "$batch"/*
  else
    stage_batch "$batch_gzipped"
    timed gunzip --synchronous "$batch"/*
  fi
}

copy_and_remove_batch() {  # encrypt|decrypt
  stage_batch "${batch_source[$1]}"
  timed sh -c 'cp -a "$1" "$2" && rm -r "$1"' sh "$batch" "$batch.copy"
}

batch_target() {  # files KiB
  if [ "$1" = 1000 ] && [ "$2" = 1 ]; then echo "≤ 0.5× gzip, default -j"; else echo "–"; fi
}

if ((run_batch)); then
  echo "## Batches on disk, one call, median wall time"
  echo
  echo "In a folder on $(df --output=source "$batch_root" | tail -1) ($(stat -f -c %T "$batch_root")), where the build folder is, not tmpfs: a flush costs something there. Each timed step starts on fresh copies, flushed (\`sync\`), after the settling step; ${batch_runs} runs per comparison."
  echo "kestrune-cli \`--password-stdin$( ((cli_recursive)) && echo " -r -e|-d FOLDER" || echo " FILE...")${cli_args[*]:+ ${cli_args[*]}}\`; gzip: \`gzip --synchronous -1\` / \`gunzip --synchronous\` on every file, which flush each output before removing its input; \`cp -a DIR NEW && rm -r DIR\` flushes nothing."
  echo
  echo "| batch | kestrune-cli s | gzip --synchronous s | cp -a && rm -r s | kestrune / gzip | kestrune / cp -a && rm -r | target |"
  echo "|---|---|---|---|---|---|---|"
  saved_runs=$runs
  runs=$batch_runs
  for set in $batch_sets; do
    count="${set%%:*}" kib="${set##*:}"
    make_batch "$count" "$kib"
    size="$( ((kib >= 1024)) && echo "$((kib >> 10)) MiB" || echo "$kib KiB")"
    target="$(batch_target "$count" "$kib")"
    for direction in encrypt decrypt; do
      compare_to_target "$target" "$count × $size, $direction" "$direction" kestrune_batch gzip_batch \
        copy_and_remove_batch
    done
  done
  runs=$saved_runs
  rm -rf "$batch" "$batch.copy" "$batch_plain" "$batch_containers" "$batch_gzipped" "$batch_bytes"
  echo
fi

dialog="$build/bench/dialog_latency"
if [ -x "$dialog" ]; then
  echo "## The dialog while ${files} one-byte files dropped at once convert"
  echo
  echo "Keys posted to the password field every 20 ms, timed until it repaints; a second drop ended by Escape after 1 s."
  echo
  echo "| files | converted in s | keys | key to repaint p50 ms | p99 ms | max ms | files converted after Escape | Escape to exit ms |"
  echo "|---|---|---|---|---|---|---|---|"
  "$dialog" --files "$files" --escape-after-ms 1000 "$work/dialog" 2>/dev/null
  echo
fi

if ((run_micro)); then
  echo "## In-memory record coding, 1 MiB blocks of 1-2 KiB records, one core"
  echo
  echo '```'
  "$micro" --benchmark_min_time="$micro_min_time" 2>&1 | grep -E '^(Benchmark|encrypt|decrypt|-)'
  echo '```'
  echo
fi

echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg) (other builds may have shared the cores)."
