#!/usr/bin/env bash
# A native program's command line: --help and --version answer with status 0, any other argument
# gets one line on standard error and status 64, and none of them opens or makes a machine (HOME
# an empty folder, started in an empty folder). With its manual page: the page renders without a
# warning and gives the same exit statuses as --help. Run on the build's programs and on the
# packaged ones.
#   command_line.sh PROGRAM VERSION [PAGE]
set -euo pipefail
program=$(realpath "$1")
version=$2
page=${3:-}
name=$(basename "$program")

fail() {
  echo "FAIL: $name: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-command-line.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/home" "$work/cwd" "$work/said"

run() {  # arguments...: sets status, out and err
  status=0
  (cd "$work/cwd" && env -u VORN_MACHINE HOME="$work/home" "$program" "$@" \
    >"$work/said/out" 2>"$work/said/err" </dev/null) || status=$?
  out=$(cat "$work/said/out")
  err=$(cat "$work/said/err")
}

# Each row: the status, what standard output holds, what standard error holds, the arguments.
refused() {  # the argument named, then the arguments
  local named=$1
  shift
  run "$@"
  [ "$status" = 64 ] || fail "$* ended with $status, not 64"
  [ -z "$out" ] || fail "$* wrote on standard output: $out"
  [ "$err" = "$name: unexpected argument '$named'; see '$name --help'" ] ||
    fail "$* said: $err"
}
refused --bogus --bogus
refused /S /S --uninstall
refused -h -h
refused --help=all --help=all
refused --version --help --version
refused extra --version extra
refused '' ''
refused '\x1b[2J' $'\e[2J'

run --version
[ "$status:$out:$err" = "0:$name $version:" ] || fail "--version: $status, '$out', '$err'"

run --help
[ "$status" = 0 ] && [ -z "$err" ] || fail "--help ended with $status, saying: $err"
[ "$(head -n 1 <<<"$out")" = "Usage: $name [--help | --version]" ] || fail "--help's usage line"
for says in VORN_MACHINE '~/.vornsetup/machine' 'Exit status:' '  64  ' '--version'; do
  grep -q -F -e "$says" <<<"$out" || fail "--help does not say '$says'"
done
awk 'length > 79 { print; bad = 1 } END { exit bad }' <<<"$out" >&2 ||
  fail "--help has lines wider than 79 columns"

help=$out
statuses() {  # the statuses a text lists, each on a line of its own
  awk '$1 ~ /^[0-9]+$/ { print $1 }' | LC_ALL=C sort -n | tr '\n' ' '
}
if [ -n "$page" ]; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" \
    2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page renders with warnings: $warnings"
  # Wide enough to set every paragraph on one line.
  text=$(LC_ALL=C MANWIDTH=1000 man -l "$page")
  grep -q -x -E " +$name - .+" <<<"$text" || fail "$page does not name $name"
  grep -q -E "^$name $version +" <<<"$(tail -n 1 <<<"$text")" || fail "$page is not of $version"
  for says in VORN_MACHINE '~/.vornsetup/machine'; do
    grep -q -F -e "$says" <<<"$text" || fail "$page does not say '$says'"
  done
  listed=$(sed -n '/^Exit status:/,/^$/p' <<<"$help" | statuses)
  [ "$(sed -n '/^EXIT STATUS/,/^[A-Z]/p' <<<"$text" | statuses)" = "$listed" ] ||
    fail "$page's exit statuses are not --help's, $listed"
fi

# An answer that cannot be written is a failure, not a silent success.
status=0
(cd "$work/cwd" && HOME="$work/home" "$program" --version >/dev/full) || status=$?
[ "$status" = 74 ] || fail "--version into a full disk ended with $status, not 74"

left=$(cd "$work" && find home cwd -mindepth 1)
[ -z "$left" ] || fail "the runs made: $left"
# Without arguments the program does open its machine, so the check above could see one made.
run
[ -d "$work/home/.vornsetup/machine" ] || fail "without arguments no machine was opened"
echo "$name: --help, --version and 8 refused command lines answered, nothing made${page:+; $page agrees}"
