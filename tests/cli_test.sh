#!/usr/bin/env bash
# kestrune-cli as a user runs it: exit codes, messages, files on disk.
set -uo pipefail
cli=$(realpath "$1")
cli_test_script=$(realpath "$0")
completion=$(realpath "$(dirname "$0")/../cli/completion/kestrune-cli")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check NAME COMMAND...: counts and reports one case
  local name="$1"; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

round_trip() {
  head -c 300000 /dev/urandom > "$work/doc.pdf" && cp "$work/doc.pdf" "$work/orig"
  printf 'secret\n' | "$cli" --password-stdin --hash SHA512 --cipher 3DES "$work/doc.pdf" &&
    [ ! -e "$work/doc.pdf" ] && [ -s "$work/doc.pdf.enc" ] &&
    printf 'secret\n' | "$cli" --password-stdin --hash SHA512 --cipher 3DES "$work/doc.pdf.enc" &&
    cmp -s "$work/doc.pdf" "$work/orig" && [ ! -e "$work/doc.pdf.enc" ]
}

# Modes and names of everything under a folder, and its files' bytes.
tree_listing() {
  (cd "$1" && find . -printf '%p %y %m\n' | sort && find . -type f -print0 | sort -z | xargs -0 cat | cksum)
}

# -r -e then -r -d gives every file back with its mode: links are not
# followed, a leftover temporary is named and never converted, any name
# works, and a file that fails does not stop the others.
folders_round_trip() {
  local tree="$work/tree" err status
  mkdir -p "$tree/a/b/c" "$tree/d" "$work/outside" && printf 'o' >"$work/outside/o"
  printf 'top' >"$tree/top" && chmod 0640 "$tree/top"
  head -c 70000 /dev/urandom >"$tree/a/b/c/deep" && chmod 0751 "$tree/a/b/c/deep"
  printf 'nl' >"$tree/a/new"$'\n'"line" && printf 'ff' >"$tree/a/bad"$'\xff'
  ln -s "$work/outside" "$tree/a/link" && printf 'half' >"$tree/a/.top.kestrune-0123456z.tmp"
  printf 'no container' >"$tree/d/broken.enc"
  local before; before=$(tree_listing "$tree")
  err=$(printf 'pw\n' | "$cli" --password-stdin -rev "$tree" 2>&1)
  status=$?
  [ "$status" -eq 0 ] && [ "$(find "$tree" -type f ! -name '*.enc')" = "$tree/a/.top.kestrune-0123456z.tmp" ] &&
    [ "$(printf '%s\n' "$err" | grep -c ' -> ')" -eq 4 ] && [ "$(ls -A "$work/outside")" = o ] &&
    [[ "$err" == *"$tree/a/.top.kestrune-0123456z.tmp: left by an interrupted run; not converted"* ]] &&
    [[ "$err" == *"$tree/a/bad\\xff -> $tree/a/bad\\xff.enc"* ]] ||
    { echo "encrypting: $status: $err"; return 1; }
  err=$(printf 'pw\n' | "$cli" --password-stdin -rd "$tree" 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "$tree/d/broken.enc: Decrypt ERROR: Can't Data Decryption" ] &&
    [ "$(tree_listing "$tree")" = "$before" ] || { echo "decrypting: $status: $err"; return 1; }
}

# An output never replaces what bears its name unless -f says so, and a
# read-only one not even then.
existing_output_is_not_replaced() {
  mkdir -p "$work/exist" && cd "$work/exist" || return 1
  echo old >notes && printf 'pw\n' | "$cli" --password-stdin -k notes && echo "NEW work" >notes
  cp notes ../notes.ref && cp notes.enc ../notes.enc.ref && ln -s nowhere d.enc && printf 'd' >d
  local err status
  err=$(printf 'pw\n' | "$cli" --password-stdin notes.enc d 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "notes.enc: notes exists; not replaced (use -f to replace it)
d: d.enc exists; not replaced (use -f to replace it)" ] && cmp -s notes ../notes.ref &&
    cmp -s notes.enc ../notes.enc.ref && [ -L d.enc ] && [ "$(ls -A | wc -l)" -eq 4 ] ||
    { echo "refused: $status: $err"; return 1; }
  printf 'pw\n' | "$cli" --password-stdin -f notes.enc && [ "$(cat notes)" = old ] &&
    [ ! -e notes.enc ] || return 1
  chmod 0444 notes && printf 'pw\n' | "$cli" --password-stdin -fk d && mv d.enc notes.enc
  err=$(printf 'pw\n' | "$cli" --password-stdin -f notes.enc 2>&1)
  [ $? -eq 1 ] && [ "$(cat notes)" = old ] &&
    [ "$err" = "notes.enc: File open ERROR: Can't open decryption file. (Permission denied)" ]
}

# -e and -d refuse a path the other way, as failures that change nothing;
# without -r a folder fails as it always has, whatever bears its output's name.
one_direction_only() {
  mkdir -p "$work/way" && printf 'p' >"$work/way/p" && printf 'c' >"$work/way/c.enc"
  local err status
  err=$(printf 'pw\n' | "$cli" --password-stdin -e "$work/way/c.enc" "$work/way/p" 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "$work/way/c.enc: already a container (.enc); not encrypted again" ] &&
    [ "$(ls "$work/way")" = "c.enc
p.enc" ] || { echo "-e: $status: $err"; return 1; }
  err=$(printf 'pw\n' | "$cli" --password-stdin -d "$work/way/p.enc" "$work/way/c" 2>&1)
  [ $? -eq 1 ] && [ "$err" = "$work/way/c: not a container (no .enc suffix); not decrypted" ] &&
    [ "$(cat "$work/way/p")" = p ] || { echo "-d: $err"; return 1; }
  mkdir "$work/way/dir" "$work/way/dir.enc"
  err=$(printf 'pw\n' | "$cli" --password-stdin -e "$work/way/dir" 2>&1)
  [ $? -eq 1 ] && [ "$err" = "$work/way/dir: File open ERROR: Can't open source file. (Is a directory)" ]
}

wrong_password_is_reported_and_keeps_the_container() {
  printf 'x' > "$work/w.txt"
  printf 'right\n' | "$cli" --password-stdin "$work/w.txt" || return 1
  local err status
  err=$(printf 'wrong\n' | "$cli" --password-stdin "$work/w.txt.enc" 2>&1 >/dev/null)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "$work/w.txt.enc: Decrypt ERROR: Can't Data Decryption" ] &&
    [ -e "$work/w.txt.enc" ] && [ ! -e "$work/w.txt" ]
}

one_failure_does_not_stop_the_others() {
  printf 'y' > "$work/y.txt"
  local err status
  err=$(printf 'pw\n' | "$cli" --password-stdin "$work/absent" "$work/y.txt" 2>&1)
  status=$?
  [ "$status" -eq 1 ] &&
    [ "$err" = "$work/absent: File open ERROR: Can't open source file. (No such file or directory)" ] &&
    [ -e "$work/y.txt.enc" ]
}

usage_error_says() {  # usage_error_says TEXT STDIN CLI-ARGUMENTS...: exit 2, TEXT on stderr
  local text="$1" input="$2" err; shift 2
  err=$("$cli" "$@" <"$input" 2>&1 >/dev/null)
  [ $? -eq 2 ] && [[ "$err" == *"$text"* ]] || { echo "for $*: $err"; return 1; }
}

usage_errors_exit_2() {
  printf 'pw\n' >"$work/pw"; printf '\xff\xfe\n' >"$work/bad"; printf '\n' >"$work/empty"
  head -c $((64 * 1024 + 1)) /dev/zero | tr '\0' x >"$work/long"
  usage_error_says "no PATH given" /dev/null &&
    usage_error_says "unknown option '-x'" "$work/pw" --password-stdin -kx "$work/z" &&
    usage_error_says "'$work/z' does not end in .enc" "$work/pw" --password-stdin -tq "$work/z" &&
    usage_error_says "unknown hash" "$work/pw" --password-stdin --hash SHA3 "$work/z" &&
    usage_error_says "unknown option" "$work/pw" --password-stdin --bogus "$work/z" &&
    usage_error_says "not valid UTF-8" "$work/bad" --password-stdin "$work/z" &&
    usage_error_says "no password on standard input" /dev/null --password-stdin "$work/z" &&
    usage_error_says "longer than 64 KiB" "$work/long" --password-stdin "$work/z" &&
    usage_error_says "longer than 64 KiB" /dev/zero --password-stdin "$work/z" &&
    usage_error_says "password is empty" "$work/empty" --password-stdin "$work/z" &&
    usage_error_says "-j takes a number from 1 to 64, not '0'" "$work/pw" -j0 "$work/z" &&
    usage_error_says "unknown hash '\x1b[2J'" "$work/pw" --hash $'\e[2J' "$work/z" &&
    usage_error_says "add -e to encrypt or -d to decrypt" "$work/pw" --password-stdin -rk "$work" &&
    usage_error_says "--encrypt and --decrypt cannot go together" "$work/pw" -e -d "$work/z" &&
    usage_error_says "unknown option '--\x07\x1b'" "$work/pw" $'--\a\e' "$work/z" &&
    ! "$cli" --hash $'\e[2J\a' 2>&1 | grep -q $'[\a\e]'
}

# An empty password only when asked for; 64 KiB is still a password; pages
# that cannot be locked (no lockable memory at all) are no failure.
accepted_passwords() {
  printf 'e' >"$work/e.txt" && printf 'l' >"$work/l.txt" && printf 'm' >"$work/m.txt"
  printf '\n' | "$cli" --password-stdin --allow-empty-password "$work/e.txt" &&
    [ -e "$work/e.txt.enc" ] && [ ! -e "$work/e.txt" ] || return 1
  head -c $((64 * 1024)) /dev/zero | tr '\0' x >"$work/longest" && printf '\r\n' >>"$work/longest"
  "$cli" --password-stdin "$work/l.txt" <"$work/longest" && [ -e "$work/l.txt.enc" ] || return 1
  (ulimit -l 0 && printf 'pw\n' | "$cli" --password-stdin "$work/m.txt") &&
    printf 'pw\n' | "$cli" --password-stdin "$work/m.txt.enc" && [ "$(cat "$work/m.txt")" = m ]
}

help_and_version() {
  local help option
  help=$("$cli" --help) || return 1
  for option in -k --keep -t --test -v --verbose -q --quiet --no-progress --hash --cipher \
    --password-stdin --allow-empty-password --help --version '--  '; do
    [[ "$help" == *" $option"* ]] || { echo "--help lacks $option"; return 1; }
  done
  "$cli" --version | grep -qx 'kestrune-cli 1.0.4' || return 1
  # Output that cannot be written is an error, as for coreutils.
  local err
  err=$("$cli" --version 2>&1 >/dev/full) && { echo "--version >/dev/full: exit 0"; return 1; }
  [ "$err" = "kestrune-cli: write error: No space left on device" ] || { echo "$err"; return 1; }
  "$cli" --help 2>/dev/null >&- && { echo "--help >&-: exit 0"; return 1; }
  return 0
}

# -k: the input stays, and the container is the one made without -k (the
# chunk layout follows the second, so both run within one).
keep_changes_nothing_but_the_removal() {
  mkdir -p "$work/keep" && cd "$work/keep" || return 1
  head -c 300000 /dev/urandom >a && printf 'pw\n' >"$work/pw"
  local attempt second
  for attempt in 1 2 3 4 5; do
    rm -f a.enc b* && cp a b && second=$(date +%s)
    "$cli" --password-stdin -k a <"$work/pw" && "$cli" --password-stdin b <"$work/pw" || return 1
    [ "$(date +%s)" = "$second" ] && break
  done
  [ -e a ] && [ ! -e b ] && cmp a.enc b.enc || { echo "keep: $(ls) (attempt $attempt)"; return 1; }
  "$cli" --password-stdin --keep -- b.enc <"$work/pw" && [ -e b.enc ] && cmp a b
}

# -t decrypts in memory only: good containers pass, wrong passwords,
# truncated and damaged ones fail with the usual line, and the folder is
# left exactly as it was.
test_checks_and_touches_nothing() {
  mkdir -p "$work/test" && cd "$work/test" || return 1
  head -c 300000 /dev/urandom >good && printf 'right\n' | "$cli" --password-stdin good || return 1
  head -c -5 good.enc >truncated.enc
  cp good.enc code.enc && printf '\x01' | dd of=code.enc bs=1 seek=0 conv=notrunc status=none
  # The first record's body is the code's length; its last but one cipher
  # block's final byte flips the padding byte when it decrypts.
  local code body padding
  code=$(od -An -tu2 -N2 --endian=little good.enc | tr -d ' ')
  body=$((code >= 32768 ? code - 32768 : code + 1024))
  padding=$(od -An -tu1 -j $((2 + body - 17)) -N1 good.enc | tr -d ' ')
  cp good.enc padding.enc
  printf "\\x$(printf %02x $((padding ^ 255)))" | dd of=padding.enc bs=1 seek=$((2 + body - 17)) \
    conv=notrunc status=none
  local before after err status
  before=$(find . -printf '%p %s %T@ %C@\n' | sort)
  err=$(printf 'right\n' | "$cli" --password-stdin -tv good.enc truncated.enc code.enc padding.enc \
    absent.enc 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "good.enc: OK
truncated.enc: Decrypt ERROR: Can't Data Decryption
code.enc: Decrypt ERROR: Can't Data Decryption
padding.enc: Decrypt ERROR: Can't Data Decryption
absent.enc: File open ERROR: Can't open encrypted file. (No such file or directory)" ] ||
    { echo "-t: $status $err"; return 1; }
  err=$(printf 'wrong\n' | "$cli" --password-stdin -t good.enc 2>&1)
  [ $? -eq 1 ] && [ "$err" = "good.enc: Decrypt ERROR: Can't Data Decryption" ] || return 1
  printf 'right\n' | "$cli" --password-stdin -tq good.enc || return 1
  after=$(find . -printf '%p %s %T@ %C@\n' | sort)
  [ "$before" = "$after" ] || { echo "-t changed the folder: $after"; return 1; }
}

verbose_lines() {
  mkdir -p "$work/verbose" && cd "$work/verbose" && printf 'hello' >a.txt || return 1
  local err
  err=$(printf 'pw\n' | "$cli" --password-stdin -v a.txt 2>&1) &&
    [[ "$err" == "a.txt -> a.txt.enc (5 B, "*"/s)" ]] || { echo "-v: $err"; return 1; }
  err=$(printf 'pw\n' | "$cli" --password-stdin --verbose a.txt.enc 2>&1) &&
    [[ "$err" == "a.txt.enc -> a.txt (18 B, "*"/s)" ]] || { echo "-v: $err"; return 1; }
}

# With -j the lines come in the order of the paths all the same: a failure
# found at once waits for the slow file named before it, and stops none of
# the files after it.
jobs_keep_the_order_of_the_paths() {
  mkdir -p "$work/jobs" && cd "$work/jobs" && head -c 8000000 /dev/urandom >big || return 1
  local name err status expected="big -> big.enc"
  for name in b c absent d e f g; do
    if [ "$name" = absent ]; then
      expected+=$'\n'"absent: File open ERROR: Can't open source file. (No such file or directory)"
    else
      printf '%s' "$name" >"$name" && expected+=$'\n'"$name -> $name.enc"
    fi
  done
  err=$(printf 'pw\n' | "$cli" --password-stdin -v -j 4 --cipher 3DES big b c absent d e f g 2>&1)
  status=$?
  err=$(printf '%s\n' "$err" | sed 's/ (.*B, .*)$//')
  [ "$status" -eq 1 ] && [ "$err" = "$expected" ] || { echo "-j 4: $status $err"; return 1; }
  [ "$(ls)" = "$(printf '%s.enc\n' b big c d e f g)" ] || { echo "-j 4 left: $(ls)"; return 1; }
}

# -q silences the kept notices, never the failures.
quiet_keeps_errors() {
  mkdir -p "$work/quiet" && cd "$work/quiet" && printf 'r' >locked && chmod a-w locked || return 1
  local err
  err=$(printf 'pw\n' | "$cli" --password-stdin -q locked absent 2>&1)
  [ $? -eq 1 ] && [ "$err" = "absent: File open ERROR: Can't open source file. (No such file or directory)" ] &&
    [ -e locked.enc ] && [ -e locked ]
}

# A file that takes seconds shows its progress line on a terminal, and the
# line is gone when the file is (with -j, the batch's line when the batch
# is); standard error in a file gets none of it.
# The conversion is paused mid-file, so any machine is slow enough.
progress_only_on_a_terminal() {
  mkdir -p "$work/progress" && cd "$work/progress" || return 1
  head -c $((64 * 1024 * 1024)) /dev/urandom >big && printf 'pw\n' >pw
  cat >paused.sh <<'SCRIPT'
"$@" <pw & p=$!
until compgen -G '.big.enc.kestrune-*' >/dev/null; do sleep 0.01; done
kill -STOP $p; sleep 1.5; kill -CONT $p; wait $p
SCRIPT
  local run="'$cli' --password-stdin --cipher 3DES"
  local out
  out=$(script -qec "bash paused.sh $run -k big" /dev/null)
  [[ "$out" == *$'\r'"big  "*"% "*" of 64.0 MiB  "*"/s"*$'\e[K\r\e[K' ]] ||
    { echo "progress: $(printf '%q' "$out")"; return 1; }
  rm big.enc
  # Several files at once: the batch's line, whichever file is slow.
  printf 's' >small
  out=$(script -qec "bash paused.sh $run -k -j 2 big small" /dev/null)
  [[ "$out" == *$'\r'"1 of 2 files  "*" MiB  "*"/s"$'\e[K'*$'\r\e[K' ]] ||
    { echo "batch progress: $(printf '%q' "$out")"; return 1; }
  rm big.enc small.enc
  out=$(script -qec "bash paused.sh $run -k big 2>err; $run --no-progress -t big.enc <pw" /dev/null)
  [ -z "$out" ] && [ ! -s err ] || { echo "no progress: $(printf '%q' "$out") $(cat err)"; return 1; }
}

# The completion offers options, and the names after --hash and --cipher.
completion_offers() {  # WORDS... EXPECTED: the last word is completed
  local expected="${*: -1}" words=("${@:1:$#-1}") got
  got=$(bash -c 'source "$1"; shift; COMP_WORDS=(kestrune-cli "$@"); COMP_CWORD=$#
    _kestrune_cli; echo "${COMPREPLY[*]}"' _ "$completion" "${words[@]}")
  [ "$got" = "$expected" ] || { echo "completing ${words[*]}: '$got'"; return 1; }
}

completion() {
  mkdir -p "$work/complete" && cd "$work/complete" && touch a.enc b.txt || return 1
  completion_offers --ci --cipher && completion_offers --cipher A 'AES128 AES192 AES256' &&
    completion_offers --hash S 'SHA1 SHA256 SHA384 SHA512' && completion_offers -kt '' a.enc &&
    mkdir -p sub && completion_offers -re '' sub && completion_offers --decrypt '' 'a.enc sub' &&
    completion_offers --jo --jobs && completion_offers -j '' ''
}

terminal_prompt_confirms_before_encrypting() {
  command -v script >/dev/null || { echo "script(1) missing"; return 1; }
  printf 't' > "$work/t.txt"
  # Mismatched confirmation: nothing happens.
  printf 'one\ntwo\n' | script -qec "'$cli' '$work/t.txt'" /dev/null >/dev/null 2>&1
  [ -e "$work/t.txt" ] && [ ! -e "$work/t.txt.enc" ] || return 1
  printf 'one\none\n' | script -qec "'$cli' '$work/t.txt'" /dev/null >/dev/null 2>&1
  [ -e "$work/t.txt.enc" ] || return 1
  # Decrypting asks once.
  printf 'one\n' | script -qec "'$cli' '$work/t.txt.enc'" /dev/null >/dev/null 2>&1
  [ "$(cat "$work/t.txt")" = "t" ]
}

# The first SIGINT, SIGTERM or SIGHUP stops the file under way as a failure
# would, silently: no temporary, the input as it was, the next path not
# started, exit 128 + N.
signal_stops_the_conversion() {  # SIGNAL STATUS
  local attempt status dir="$work/signal-$1"
  for attempt in 1 2 3; do
    rm -rf "$dir" && mkdir "$dir"
    head -c $((48 * 1024 * 1024 * attempt)) /dev/urandom >"$dir/big" && cp "$dir/big" "$work/big.orig"
    printf 'n' >"$dir/next"
    # Job control, so the background CLI does not start with SIGINT ignored.
    status=$(
      set -m
      printf 'pw\n' | "$cli" --password-stdin -j 1 "$dir/big" "$dir/next" 2>"$dir.err" &
      pid=$! polls=0
      until compgen -G "$dir/.big.enc.kestrune-*.tmp" >/dev/null || [ $polls -ge 500 ]; do
        sleep 0.01; polls=$((polls + 1))
      done
      kill -s "$1" "$pid"
      wait "$pid"; echo $?
    )
    [ -e "$dir/big.enc" ] && continue  # finished before the signal: a larger file
    [ "$status" -eq "$2" ] && [ ! -s "$dir.err" ] && cmp -s "$dir/big" "$work/big.orig" &&
      [ "$(ls -A "$dir")" = "$(printf 'big\nnext')" ] && return 0
    echo "$1: status $status, left: $(ls -A "$dir" | tr '\n' ' ') $(cat "$dir.err")"
    return 1
  done
  echo "$1: every conversion finished before the signal"; return 1
}

stop_signals() {
  signal_stops_the_conversion INT 130 && signal_stops_the_conversion TERM 143 &&
    signal_stops_the_conversion HUP 129
}

# Whatever the signals and whenever they come, a path ends converted
# completely (its container decrypts to the original, the input gone) or
# untouched (the input as it was, no container), and never leaves a
# temporary.
converted_or_untouched() {  # DIR NAME ORIGINAL [CLI-OPTIONS...]
  [ -z "$(compgen -G "$1/.*.kestrune-*.tmp")" ] || { echo "temporary left in $1"; return 1; }
  if [ -e "$1/$2.enc" ]; then
    [ ! -e "$1/$2" ] && printf 'pw\n' | "$cli" --password-stdin -k "${@:4}" "$1/$2.enc" &&
      cmp -s "$1/$2" "$3" && rm "$1/$2" || { echo "$2: not converted completely"; return 1; }
  else
    cmp -s "$1/$2" "$3" || { echo "$2: changed"; return 1; }
  fi
}

# `timeout` sends its signal twice (to the CLI, then to its group); a user
# may press Ctrl-C twice in a row. The second signal ends the process, but
# never before the temporary is gone.
repeated_signals_leave_no_half_file() {
  local dir="$work/repeated" i status
  mkdir -p "$dir" && head -c 30000000 /dev/urandom >"$dir.orig"
  for i in $(seq 1 12); do
    cp "$dir.orig" "$dir/big"
    if [ $((i % 2)) -eq 0 ]; then
      printf 'pw\n' | timeout -s INT 0.$((i % 5 + 1)) "$cli" --password-stdin "$dir/big" 2>/dev/null
    else
      status=$(
        set -m
        printf 'pw\n' | "$cli" --password-stdin "$dir/big" 2>/dev/null &
        pid=$!
        sleep "0.0$i"; kill -TERM "$pid" 2>/dev/null; sleep 0.001; kill -TERM "$pid" 2>/dev/null
        wait "$pid"; echo $?
      )
      [ "$status" -eq 143 ] || [ "$status" -eq 0 ] || { echo "two TERMs: status $status"; return 1; }
    fi
    converted_or_untouched "$dir" big "$dir.orig" || return 1
    rm -f "$dir/big.enc"
  done
}

# A signal at a step of a conversion held there by strace: during the last
# flush (after the last record), and two while the input is removed (after
# the rename). Either way the file under way ends whole, -v names it and the
# next path is not started.
signal_at_each_step() {
  local dir="$work/steps" call pid status
  mkdir -p "$dir" && head -c 5000000 /dev/urandom >"$dir.orig"
  for call in fsync unlinkat; do
    rm -f "$dir/f.enc" && cp "$dir.orig" "$dir/f" && printf 'n' >"$dir/next"
    # LeakSanitizer cannot run under ptrace: a sanitized build ends in its
    # error instead of the exit status looked for.
    printf 'pw\n' | strace -f -o /dev/null -e inject="$call":delay_enter=1500000 \
      env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
      "$cli" --password-stdin -v -j1 "$dir/f" "$dir/next" 2>"$dir.err" &
    sleep 0.7
    pid=$(pgrep -P $!) && kill -TERM "$pid" && sleep 0.1 &&
      { [ "$call" = fsync ] || kill -TERM "$pid"; }
    wait $!; status=$?
    [ "$status" -eq 143 ] && [ -e "$dir/next" ] && [ ! -e "$dir/next.enc" ] ||
      { echo "$call: status $status, $(ls -A "$dir" | tr '\n' ' ')"; return 1; }
    case "$(cat "$dir.err")" in "$dir/f -> $dir/f.enc ("*) ;; *) echo "$call: $(cat "$dir.err")"; return 1 ;; esac
    converted_or_untouched "$dir" f "$dir.orig" || return 1
  done
}

# With -j a signal stops every file under way as it stops one: at one TERM
# or two, no temporary stays, each path ends converted whole or untouched,
# and the exit status is the signal's.
signals_mid_batch() {
  local dir="$work/batch-signals" i name status
  mkdir -p "$dir" && head -c 6000000 /dev/urandom >"$dir.orig"
  for i in 1 2 3 4 5 6; do
    for name in a b c d e f; do cp "$dir.orig" "$dir/$name"; done
    status=$(
      set -m
      printf 'pw\n' | "$cli" --password-stdin -j 3 --cipher 3DES "$dir"/? 2>"$dir.err" &
      pid=$! polls=0
      until compgen -G "$dir/.*.kestrune-*.tmp" >/dev/null || [ $polls -ge 500 ]; do
        sleep 0.01; polls=$((polls + 1))
      done
      sleep "0.0$i"; kill -TERM "$pid"
      [ $((i % 2)) -eq 0 ] && sleep 0.001 && kill -TERM "$pid"
      wait "$pid"; echo $?
    )
    [ "$status" -eq 143 ] && [ ! -s "$dir.err" ] ||
      { echo "-j 3, try $i: status $status, $(cat "$dir.err")"; return 1; }
    for name in a b c d e f; do
      converted_or_untouched "$dir" "$name" "$dir.orig" --cipher 3DES || return 1
    done
    # The last paths were not started: three at a time cannot reach them.
    cmp -s "$dir/f" "$dir.orig" || { echo "-j 3, try $i: f started after the signal"; return 1; }
  done
}

# One file held while its input is removed (after its rename) and others
# being written when two TERMs come: the one finishes, the others stop, and
# nothing is left half done. Only the removal of that input is held, so the
# other files' threads are free to take the signals.
signals_while_one_of_many_commits() {
  local dir="$work/batch-commit" name pid status
  mkdir -p "$dir" && head -c 20000000 /dev/urandom >"$dir.orig" && printf 's' >"$dir.small"
  cp "$dir.small" "$dir/a" && cp "$dir.orig" "$dir/b" && cp "$dir.orig" "$dir/c" && cd "$dir" || return 1
  printf 'pw\n' | strace -f -o /dev/null -P a -e trace=unlinkat -e inject=unlinkat:delay_enter=1500000 \
    env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    "$cli" --password-stdin -j 3 --cipher 3DES a b c 2>"$dir.err" &
  sleep 0.7
  pid=$(pgrep -P $!) && kill -TERM "$pid" && sleep 0.1 && kill -TERM "$pid"
  wait $!; status=$?
  [ "$status" -eq 143 ] && [ -e a.enc ] || { echo "status $status, $(ls -A | tr '\n' ' ')"; return 1; }
  converted_or_untouched "$dir" a "$dir.small" --cipher 3DES &&
    for name in b c; do converted_or_untouched "$dir" "$name" "$dir.orig" --cipher 3DES || return 1; done
}

# While it holds a password the CLI is not dumpable (its /proc files belong
# to root, not to the account it runs as), its core limit is 0 and its
# password buffer is locked.
kept_out_of_core_dumps() {
  local as_user=() fifo="$work/password-fifo"
  [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  mkfifo "$fifo"
  "${as_user[@]}" "$cli" --password-stdin "$work/absent" <"$fifo" 2>/dev/null &
  local pid=$! polls=0
  exec 3>"$fifo"
  until grep -q '^VmLck:[[:space:]]*[1-9]' "/proc/$pid/status" 2>/dev/null || [ $polls -ge 200 ]; do
    sleep 0.01; polls=$((polls + 1))
  done
  local owner limits locked
  owner=$(stat -c %u "/proc/$pid/status")
  limits=$(grep '^Max core file size' "/proc/$pid/limits")
  locked=$(grep '^VmLck:' "/proc/$pid/status")
  printf 'pw\n' >&3; exec 3>&-
  wait "$pid"
  [ "$owner" -eq 0 ] && [[ "$limits" =~ size[[:space:]]+0[[:space:]]+0[[:space:]] ]] &&
    { [ -n "${KESTRUNE_MLOCK_IS_NOOP:-}" ] || [[ "$locked" =~ [1-9] ]]; } || { echo "owner $owner; $limits; $locked"; return 1; }
}

# Stopped mid-file, the CLI holds the key, the digest and the password on
# secret pages only (locked, left out of dumps): the key of a known vector is
# nowhere else in its memory. Reading another process's memory needs root.
no_key_outside_secret_pages() {
  [ "$(id -u)" -eq 0 ] && command -v python3 >/dev/null || { echo "key scan: skipped, needs root"; return 0; }
  local vectors key password dir="$work/scan" pid found
  vectors="$(dirname "$cli_test_script")/vectors/kdf_vectors.tsv"
  IFS=$'\t' read -r key password < <(awk -F'\t' '$1 == "SHA256" && $2 == "AES256" && $6 != "" \
    { print $11 "\t" $14 }' "$vectors" | tail -1)
  mkdir -p "$dir" && head -c 300000000 /dev/zero >"$dir/big"
  printf '%s\n' "$password" | "$cli" --password-stdin "$dir/big" 2>/dev/null &
  pid=$!
  until compgen -G "$dir/.big.enc.kestrune-*.tmp" >/dev/null; do sleep 0.01; done
  sleep 0.3; kill -STOP "$pid"
  found=$(python3 - "$pid" "$key" "$password" <<'SCAN'
import re, sys
pid, key, password = sys.argv[1], bytes.fromhex(sys.argv[2]), sys.argv[3]
secrets = [key, password.encode(), password.encode("utf-16-le")]
regions, flags = [], {}
for line in open(f"/proc/{pid}/smaps"):
    m = re.match(r"([0-9a-f]+)-([0-9a-f]+) (\S+) \S+ \S+ \S+ *(.*)", line)
    if m:
        regions.append((int(m[1], 16), int(m[2], 16), m[3], m[4].strip() or "anonymous"))
    elif line.startswith("VmFlags:"):
        flags[regions[-1][0]] = line.split()[1:]
with open(f"/proc/{pid}/mem", "rb", 0) as mem:
    for start, end, perms, name in regions:
        if "r" not in perms or "dd" in flags.get(start, []):
            continue
        try:
            mem.seek(start)
            data = mem.read(end - start)
        except OSError:
            continue
        for i, secret in enumerate(secrets):
            if secret in data:
                print(["key", "password", "UTF-16 password"][i], "in", name)
SCAN
)
  kill -TERM "$pid"; kill -CONT "$pid"; wait "$pid"
  [ -z "$found" ] || { echo "$found"; return 1; }
}

# At the terminal: Ctrl-D gives no password; a signal at the prompt gives
# the echo back (SIGTSTP until SIGCONT turns it off again, SIGTERM for good).
prompt_ends_cleanly() {
  printf 'p' >"$work/p.txt"
  local out
  out=$(printf '\004' | script -qec "'$cli' '$work/p.txt'" /dev/null 2>&1)
  [ $? -eq 2 ] && [[ "$out" == *"no password given"* ]] || { echo "Ctrl-D: $out"; return 1; }
  cat >"$work/at_prompt.sh" <<'SCRIPT'
echo_is() {  # on|off: waits up to 5 s for the terminal's echo to be so
  local want=echo i
  [ "$1" = off ] && want=-echo
  for i in $(seq 500); do
    stty -a | tr ' ;' '\n\n' | grep -qx -- "$want" && return 0
    sleep 0.01
  done
  echo "echo not $1"; return 1
}
"$1" "$2" & pid=$!
echo_is off && kill -TSTP $pid && echo_is on && kill -CONT $pid && echo_is off &&
  kill -TERM $pid && { wait $pid; [ $? -eq 143 ] || echo "status not 143"; } && echo_is on &&
  echo "prompt signals: fine"
SCRIPT
  out=$(script -qec "bash '$work/at_prompt.sh' '$cli' '$work/p.txt'" /dev/null < <(sleep 30) 2>&1)
  [[ "$out" == *"prompt signals: fine"* ]] && [ -e "$work/p.txt" ] || { echo "signals: $out"; return 1; }
}

names_are_escaped_one_line_each() {
  local err status
  err=$(printf 'pw\n' | "$cli" --password-stdin "$work/"$'two\nlines\e[2J\\' "$work/"$'\xff\xc3' 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "$work/two\\nlines\\x1b[2J\\\\: File open ERROR: Can't open source file. (No such file or directory)
$work/\\xff\\xc3: File open ERROR: Can't open source file. (No such file or directory)" ]
}

# A failure the system gave a reason for names it; a wrong password (above)
# has none. Run as an ordinary user, whom permissions bind.
failures_name_their_cause() {
  local as_user=() dir="$work/causes" err
  [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  mkdir -p "$dir/shut" && chmod 0777 "$dir" && chmod o+x "$work"
  printf 's' > "$dir/unreadable" && chmod 0 "$dir/unreadable"
  printf 'x' > "$dir/shut/x" && chmod 0444 "$dir/shut/x" && chmod 0555 "$dir/shut"
  err=$(printf 'pw\n' | "${as_user[@]}" "$cli" --password-stdin "$dir/unreadable" "$dir/shut/x" 2>&1)
  [ "$err" = "$dir/unreadable: File open ERROR: Can't open source file. (Permission denied)
$dir/shut/x: File open ERROR: Can't open encryption file. (Permission denied)" ] ||
    { echo "$err"; return 1; }
}

# What a path is, when it is no file to convert; an input changed mid-file
# (here on a clock too coarse to show it) says so.
failures_say_what_happened() {
  local dir="$work/what" err
  mkdir -p "$dir/folder" && mkfifo "$dir/pipe"
  err=$(printf 'pw\n' | "$cli" --password-stdin "$dir/folder" "$dir/pipe" 2>&1)
  [ "$err" = "$dir/folder: File open ERROR: Can't open source file. (Is a directory)
$dir/pipe: File open ERROR: Can't open source file. (not a regular file)" ] || { echo "$err"; return 1; }
  local attempt
  for attempt in 1 2 3; do
    rm -f "$dir/doc.enc" && head -c $((attempt * 100000000)) /dev/zero >"$dir/doc"
    touch -d @1700000000 "$dir/doc"
    printf 'pw\n' | "$cli" --password-stdin "$dir/doc" 2>"$dir.err" &
    until compgen -G "$dir/.doc.enc.kestrune-*.tmp" >/dev/null || [ -e "$dir/doc.enc" ]; do sleep 0.005; done
    printf EDITED | dd of="$dir/doc" conv=notrunc status=none; touch -d @1700000000 "$dir/doc"
    wait $! || break  # exit 0: it finished before the edit, so a larger file
  done
  [ "$(cat "$dir.err")" = "$dir/doc: Encrypt ERROR: Can't read source file. (it changed while it was converted)" ] &&
    [ "$(head -c 6 "$dir/doc")" = EDITED ] && [ ! -e "$dir/doc.enc" ] || { echo "edit: $(cat "$dir.err")"; return 1; }
}

# A temporary that cannot be removed (its folder made read-only while it is
# written) stays readable by its owner alone, and is named.
unremovable_temporary_is_named() {
  [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null || { echo "unremovable temporary: skipped, needs root"; return 0; }
  local dir="$work/stuck" err tmp
  mkdir -p "$dir" && chmod o+x "$work" && head -c 100000000 /dev/zero >"$dir/f" && chmod 0644 "$dir/f"
  chown -R 65534:65534 "$dir"
  printf 'pw\n' | setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$cli" --password-stdin "$dir/f" 2>"$dir.err" &
  until compgen -G "$dir/.f.enc.kestrune-*.tmp" >/dev/null; do sleep 0.01; done
  chmod a-w "$dir"; wait $!; chmod u+w "$dir"
  tmp=$(compgen -G "$dir/.f.enc.kestrune-*.tmp")
  err=$(cat "$dir.err")
  [ -n "$tmp" ] && [ "$(stat -c %a "$tmp")" = 600 ] &&
    [ "$err" = "$dir/f: Encrypt ERROR: Can't write encryption file. (Permission denied)
$dir/f: left $tmp: remove it (Permission denied)" ] || { echo "$err; $(ls -lA "$dir")"; return 1; }
}

# An input that still holds its contents after a successful conversion is
# named, with exit status 0.
kept_inputs_are_named() {
  mkdir -p "$work/kept" && cd "$work/kept" || return 1
  printf 'r' > locked && chmod a-w locked
  printf 't' > target && ln -s target link
  printf 'h' > linked && ln linked other-name
  local err status
  err=$(printf 'pw\n' | "$cli" --password-stdin locked link linked 2>&1)
  status=$?
  cd "$work" || return 1
  [ "$status" -eq 0 ] && [ "$err" = "locked: kept: it has no write permission
link: kept: it is a symbolic link; the file it leads to keeps its contents
linked: kept: it has other hard links, which keep its contents" ] &&
    [ -e "$work/kept/locked.enc" ] && [ "$(cat "$work/kept/target")" = t ]
}

# An ordinary user cannot give a file away: the output is then the user's,
# with the input's mode all the same (never widened by the umask).
permissions_kept_when_the_owner_cannot_be() {
  [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null || { echo "owner refusal: skipped, needs root"; return 0; }
  mkdir -p "$work/mine" && chmod 0777 "$work/mine" && chmod o+x "$work"
  printf 'p' > "$work/mine/p" && chown 65534:0 "$work/mine/p" && chmod 0640 "$work/mine/p"
  printf 'pw\n' | (umask 022; setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$cli" --password-stdin "$work/mine/p") || return 1
  [ "$(stat -c '%a %u %g' "$work/mine/p.enc")" = "640 65534 65534" ] && [ ! -e "$work/mine/p" ]
}

# Whatever point memory runs out at, the CLI ends with a message, never an
# abort: the input stays unless its output is complete, nothing is left.
out_of_memory_is_a_failure_not_an_abort() {
  # A sanitizer build reserves terabytes of address space and cannot run
  # under any such limit.
  (ulimit -v 400000; "$cli" --version) >/dev/null 2>&1 ||
    { echo "out of memory: skipped, the CLI cannot run under an address-space limit"; return 0; }
  mkdir -p "$work/oom" && head -c 3000000 /dev/urandom > "$work/oom.ref"
  local limit err status said_so=0
  # Finely near the least the program loads with: there even the memory
  # the runtime keeps for exceptions can be missing.
  for limit in $(seq 20000 250 26000) $(seq 27000 1000 40000); do
    rm -rf "$work/oom"/* "$work/oom"/.[!.]* && cp "$work/oom.ref" "$work/oom/f"
    err=$( (ulimit -v "$limit"; printf 'pw\n' | "$cli" --password-stdin "$work/oom/f") 2>&1)
    status=$?
    [ "$status" -eq 127 ] && continue  # too little to load the program at all
    [ "$status" -le 1 ] || { echo "limit $limit: exit $status"; return 1; }
    [ "$(printf '%s' "$err" | grep -c '')" -le 1 ] || { echo "limit $limit: $err"; return 1; }
    case "$err" in *"(Cannot allocate memory)") said_so=1 ;; esac
    if [ "$status" -eq 0 ]; then [ "$(ls -A "$work/oom")" = f.enc ]
    else [ "$(ls -A "$work/oom")" = f ] && cmp -s "$work/oom/f" "$work/oom.ref"; fi ||
      { echo "limit $limit left: $(ls -A "$work/oom")"; return 1; }
  done
  [ "$said_so" -eq 1 ] || return 1
  # A second file after a first that memory stopped: finely, since only a
  # narrow band of limits runs out just after its temporary is made.
  rm -f "$work/oom/f.enc" && head -c 100000 /dev/urandom >"$work/oom/f" &&
    printf 'pw\n' | "$cli" --password-stdin -k "$work/oom/f"
  mv "$work/oom/f.enc" "$work/oom/g.enc"
  for limit in $(seq 24000 50 32000); do
    (ulimit -v "$limit"; printf 'pw\n' | "$cli" --password-stdin -k "$work/oom/g.enc" "$work/oom/f") 2>/dev/null
    [ -z "$(compgen -G "$work/oom/.*.tmp")" ] || { echo "limit $limit left: $(ls -A "$work/oom")"; return 1; }
    rm -f "$work/oom/f.enc" "$work/oom/g"
  done
}

check "round trip" round_trip
check "folders round trip" folders_round_trip
check "existing output kept" existing_output_is_not_replaced
check "one direction only" one_direction_only
check "wrong password" wrong_password_is_reported_and_keeps_the_container
check "failure does not stop the rest" one_failure_does_not_stop_the_others
check "usage errors" usage_errors_exit_2
check "help and version" help_and_version
check "terminal prompt" terminal_prompt_confirms_before_encrypting
check "accepted passwords" accepted_passwords
check "stop signals" stop_signals
check "repeated signals" repeated_signals_leave_no_half_file
check "signal at each step" signal_at_each_step
check "signals mid-batch" signals_mid_batch
check "signals while one commits" signals_while_one_of_many_commits
check "out of core dumps" kept_out_of_core_dumps
check "no key outside secret pages" no_key_outside_secret_pages
check "prompt ends cleanly" prompt_ends_cleanly
check "names escaped" names_are_escaped_one_line_each
check "causes named" failures_name_their_cause
check "kept inputs named" kept_inputs_are_named
check "failures say what happened" failures_say_what_happened
check "unremovable temporary" unremovable_temporary_is_named
check "out of memory" out_of_memory_is_a_failure_not_an_abort
check "owner refused" permissions_kept_when_the_owner_cannot_be
check "keep" keep_changes_nothing_but_the_removal
check "test" test_checks_and_touches_nothing
check "verbose" verbose_lines
check "jobs keep the order" jobs_keep_the_order_of_the_paths
check "quiet" quiet_keeps_errors
check "progress" progress_only_on_a_terminal
check "completion" completion

echo "cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
