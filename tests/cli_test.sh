#!/usr/bin/env bash
# kestrune-cli as a user runs it: exit codes, messages, files on disk.
set -uo pipefail
cli=$(realpath "$1")
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
  [ "$status" -eq 1 ] && [ "$err" = "$work/absent: File open ERROR: Can't open source file." ] &&
    [ -e "$work/y.txt.enc" ]
}

usage_errors_exit_2() {
  "$cli" 2>/dev/null; [ $? -eq 2 ] || return 1
  printf 'pw\n' | "$cli" --password-stdin --hash SHA3 "$work/z" 2>/dev/null; [ $? -eq 2 ] || return 1
  printf 'pw\n' | "$cli" --password-stdin --bogus "$work/z" 2>/dev/null; [ $? -eq 2 ] || return 1
  printf '\xff\xfe\n' | "$cli" --password-stdin "$work/z" 2>/dev/null; [ $? -eq 2 ] || return 1
  "$cli" --password-stdin "$work/z" </dev/null 2>/dev/null; [ $? -eq 2 ]
}

help_and_version() {
  "$cli" --help | grep -q -- '--password-stdin' && "$cli" --version | grep -qx 'kestrune-cli 1.0.4'
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

names_are_escaped_one_line_each() {
  local err status
  err=$(printf 'pw\n' | "$cli" --password-stdin "$work/"$'two\nlines\e[2J\\' "$work/"$'\xff\xc3' 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$err" = "$work/two\\nlines\\x1b[2J\\\\: File open ERROR: Can't open source file.
$work/\\xff\\xc3: File open ERROR: Can't open source file." ]
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
  mkdir -p "$work/oom" && head -c 3000000 /dev/urandom > "$work/oom.ref"
  local limit err status said_so=0
  for limit in $(seq 20000 1000 40000); do
    rm -rf "$work/oom"/* "$work/oom"/.[!.]* && cp "$work/oom.ref" "$work/oom/f"
    err=$( (ulimit -v "$limit"; printf 'pw\n' | "$cli" --password-stdin "$work/oom/f") 2>&1)
    status=$?
    [ "$status" -eq 127 ] && continue  # too little to load the program at all
    [ "$status" -le 1 ] || { echo "limit $limit: exit $status"; return 1; }
    [ "$(printf '%s' "$err" | grep -c '')" -le 1 ] || { echo "limit $limit: $err"; return 1; }
    case "$err" in *"(out of memory)") said_so=1 ;; esac
    if [ "$status" -eq 0 ]; then [ "$(ls -A "$work/oom")" = f.enc ]
    else [ "$(ls -A "$work/oom")" = f ] && cmp -s "$work/oom/f" "$work/oom.ref"; fi ||
      { echo "limit $limit left: $(ls -A "$work/oom")"; return 1; }
  done
  [ "$said_so" -eq 1 ]
}

check "round trip" round_trip
check "wrong password" wrong_password_is_reported_and_keeps_the_container
check "failure does not stop the rest" one_failure_does_not_stop_the_others
check "usage errors" usage_errors_exit_2
check "help and version" help_and_version
check "terminal prompt" terminal_prompt_confirms_before_encrypting
check "names escaped" names_are_escaped_one_line_each
check "kept inputs named" kept_inputs_are_named
check "out of memory" out_of_memory_is_a_failure_not_an_abort
check "owner refused" permissions_kept_when_the_owner_cannot_be

echo "cli: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
