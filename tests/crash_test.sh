#!/usr/bin/env bash
# Kills kestrune-cli with SIGKILL at random moments while it converts a large
# file, and checks after each kill that nothing was lost: the input is as it
# was or the output is complete, a file that had the output's name is either
# untouched or the complete output, and nothing but our temporaries remains.
# Usage: crash_test.sh CLI [TRIALS] [SECONDS]  (defaults 200 trials, 120 s)
set -uo pipefail
cli="$1"
trials="${2:-${KESTRUNE_CRASH_TRIALS:-200}}"
budget="${3:-${KESTRUNE_CRASH_SECONDS:-120}}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/ref" "$work/run" "$work/check"
echo old > "$work/ref/old"

head -c $((6 * 1024 * 1024 + 12345)) /dev/urandom > "$work/ref/plain"
cp "$work/ref/plain" "$work/run/big"
printf 'pw\n' | "$cli" --password-stdin "$work/run/big" || exit 1
mv "$work/run/big.enc" "$work/ref/container"

# How long one conversion takes, so kills land anywhere inside it.
start=$(date +%s%N)
cp "$work/ref/plain" "$work/run/big"
printf 'pw\n' | "$cli" --password-stdin "$work/run/big" || exit 1
span_us=$(( ($(date +%s%N) - start) / 1000 ))
rm -f "$work/run/"*

decrypts_to_plain() {  # FILE: a copy of FILE decrypts to the reference plain text
  rm -f "$work/check/"*
  cp "$1" "$work/check/c.enc"
  printf 'pw\n' | "$cli" --password-stdin "$work/check/c.enc" 2>/dev/null &&
    cmp -s "$work/check/c" "$work/ref/plain"
}

check_trial() {  # DIRECTION: the invariant on what the kill left in run/
  local input output input_ref old_ok=0 input_ok=0 output_complete=0
  if [ "$1" = encrypt ]; then input=big; output=big.enc; input_ref=plain
  else input=big.enc; output=big; input_ref=container; fi
  [ -e "$work/run/$input" ] && cmp -s "$work/run/$input" "$work/ref/$input_ref" && input_ok=1
  if [ -e "$work/run/$output" ]; then
    if cmp -s "$work/run/$output" "$work/ref/old"; then old_ok=1
    elif [ "$1" = encrypt ]; then decrypts_to_plain "$work/run/$output" && output_complete=1
    else cmp -s "$work/run/$output" "$work/ref/plain" && output_complete=1; fi
  fi
  if [ $input_ok -eq 0 ] && [ $output_complete -eq 0 ]; then echo "LOST: $1 trial $trial"; return 1; fi
  if [ $old_ok -eq 0 ] && [ $output_complete -eq 0 ]; then echo "CLOBBERED: $1 trial $trial"; return 1; fi
  if [ -e "$work/run/$input" ] && [ $input_ok -eq 0 ]; then echo "CHANGED INPUT: $1 trial $trial"; return 1; fi
  [ $output_complete -eq 1 ] && completed=$((completed + 1))
  local name
  for name in $(ls -A "$work/run"); do
    case "$name" in
      "$input"|"$output") ;;
      .*.kestrune-*.tmp) temporaries=$((temporaries + 1)) ;;
      *) echo "STRAY FILE $name: $1 trial $trial"; return 1 ;;
    esac
  done
}

passed=0; failed=0; temporaries=0; completed=0; trial=0
deadline=$(( $(date +%s) + budget ))
while [ $trial -lt "$trials" ] && [ "$(date +%s)" -lt "$deadline" ]; do
  trial=$((trial + 1))
  direction=encrypt; [ $((trial % 2)) -eq 0 ] && direction=decrypt
  rm -rf "$work/run" && mkdir "$work/run"
  if [ $direction = encrypt ]; then
    cp "$work/ref/plain" "$work/run/big"; echo old > "$work/run/big.enc"; target=big
  else
    cp "$work/ref/container" "$work/run/big.enc"; echo old > "$work/run/big"; target=big.enc
  fi
  # -f: the old output is there to be replaced, completely or not at all.
  printf 'pw\n' | "$cli" --password-stdin -f "$work/run/$target" 2>/dev/null &
  pid=$!
  delay_us=$(( (RANDOM * 32768 + RANDOM) % (span_us + span_us / 4 + 1) ))
  sleep "$(printf '%d.%06d' $((delay_us / 1000000)) $((delay_us % 1000000)))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if check_trial $direction; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done

echo "crash trials: $trial kills within a ${span_us} us conversion; $completed had completed," \
  "$((trial - completed)) were cut short; $temporaries temporaries left behind"
echo "crash: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
