#!/usr/bin/env bash
# Fuzzes the container reader under ASan and UBSan with libFuzzer, its corpus
# seeded from the known-answer containers. Usage: scripts/fuzz.sh [SECONDS]
# (default 60; KESTRUNE_FUZZ_SECONDS also sets it, for a longer run).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-${KESTRUNE_FUZZ_SECONDS:-60}}"
bash scripts/install-deps.sh fuzz
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTRUNE_SANITIZE=ON -DKESTRUNE_FUZZ=ON -DKESTRUNE_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target container_fuzzer

# Seeds: every container of the fuzzer's key (empty password, SHA256, AES256)
# small enough to be stored whole, and a few damaged ones.
corpus="$build/corpus"
mkdir -p "$corpus"
awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
  $col["hash"] == "SHA256" && $col["cipher"] == "AES256" && $col["password_utf8_hex"] == "" &&
  $col["container_hex"] != "-" { print $col["id"], $col["container_hex"] }' \
  tests/vectors/container_vectors.tsv |
  while read -r id hex; do printf '%s' "$hex" | xxd -r -p > "$corpus/$id"; done
printf '\x00\x80' > "$corpus/empty-body"
printf '\xff\x7f' > "$corpus/too-long"

"$build/tests/fuzz/container_fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -rss_limit_mb=2048 "$corpus" 2>&1 | tee "$build/fuzz.log" | grep -E "stat::|ERROR|SUMMARY|Done" || true
grep -q "ERROR" "$build/fuzz.log" && { echo "fuzz: the fuzzer found a fault (see $build/fuzz.log)"; exit 1; }
grep -q "Done" "$build/fuzz.log" || { echo "fuzz: the fuzzer did not finish"; exit 1; }
echo "fuzz: 1 passed, 0 failed"
