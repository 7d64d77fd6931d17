#!/usr/bin/env bash
# One harness for every Wine scenario: each runs vornsetup.exe (and vornremove.exe) in a fresh
# Wine prefix on a virtual display, presses OK on its boxes, and checks what it said and what it
# left behind.
#
#   harness.sh templates          make the prefix templates (once per test run)
#   harness.sh SCENARIO [FILE]    run one scenario from scenarios.sh, or from FILE
#
# Environment: VORN_WINE_WORK (a work folder), VORN_SETUP_EXE, VORN_FIXTURES (a folder with the
# two decoder files), and optionally VORN_REMOVE_EXE, VORN_PROBE_EXE, VORN_HOLDER_EXE and
# VORN_WINE_SLOWDOWN (how
# many times longer Wine may take than on a kernel that runs 32-bit programs itself; 1 unless
# Wine's 32-bit half runs under an emulator: scripts/i386-emulator slowdown).
#
# What a scenario may call (names kept stable; scenarios.sh and other files rely on them):
#   new_prefix win32|win64        a fresh Windows; sets WINEPREFIX, system_dir, windows_dir
#   set_windows_version VERSION   winxp, win10, win98, win31, ... (HKCU\Software\Wine)
#   import_reg LINES...           imports REGEDIT4 lines, into the view a 32-bit program sees
#   add_descriptions_key          makes the drivers.desc key a fresh Wine lacks
#   package_dir                   prints a folder holding both decoders, to start the setup in
#   run_setup DIR [ARGS...]       runs the setup in DIR; sets status, boxes and setup_trace (its
#                                 Wine trace; setup_debug names further WINEDEBUG channels)
#   run_remover DIR [ARGS...]     runs the remover in DIR, likewise
#   hold_loaded WINDOWS_PATH      keeps a DLL loaded by another process until release_held
#   release_held                  ends that process
#   run_probe                     asks the video subsystem; sets probe_lines
#   read_value KEY NAME [OPTS]    sets value_data and value_type (empty when missing)
#   registration_snapshot         prints both NT keys and system.ini, to compare two states
#   machine_snapshot              the same and the system directory's files, sizes and times
#   expect_boxes TEXTS...         the boxes shown, all of them, in order
#   expect_value KEY NAME DATA [OPTS]   a REG_SZ value; expect_no_value, expect_no_key
#   expect_same_file, expect_no_file
#   expect_system_ini [LINES...]  system.ini is the template's plus these lines at its end
#   expect_probe_finds FOURCC FILE      after run_probe: listed once and opened from FILE ("-")
#   expect_eq WHAT GOT EXPECTED   every expect_* fails the scenario naming what differs
# A scenario's wineserver stays up between calls, so nothing needs 'wineserver -w' (which would
# now wait for the server to linger out).
set -euo pipefail

readonly kCaption="VORN VORN Video Decoder Setup"
readonly kSlowdown=${VORN_WINE_SLOWDOWN:-1}
# Seconds any one Wine call may take before the scenario fails.
readonly kWineTimeout=$((60 * kSlowdown))
# The holder lets go by itself after this many seconds, even if nobody stops it.
readonly kHoldSeconds=$((50 * kSlowdown))
readonly kServerLinger=30  # seconds the wineserver outlives its last process, even if killed
readonly kNtKey='HKLM\Software\Microsoft\Windows NT\CurrentVersion'

work=${VORN_WINE_WORK:?}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko install dialogs
export WINEDEBUG=-all

fail() {
  echo "FAIL: ${scenario:-harness}: $*" >&2
  # What Wine complained of in the last program's run (a display it could not reach, say).
  [ ! -s "${setup_trace:-}" ] || grep -a ':err:' "$setup_trace" | tail -n 5 >&2 || true
  exit 1
}

# Runs a Wine command with a time limit, so a stuck box fails the test instead of hanging it.
# Each call is counted in a file, which subshells and background runs add to as well: any Wine
# process may change the registry, and a key listed since the last one need not be asked again.
wine_call() {
  echo >>"$work/${scenario:-templates}.wine-calls"
  timeout -k 5 "$kWineTimeout" "$@"
}

# Sets listing to a key's values as 'reg query' lists them (empty when the key is missing). Wine
# is asked only when a Wine process started since may have changed them: each of its processes
# takes a second or more where it runs under an emulator.
declare -A listings=() listed_after=()
list_key() {  # key, [further reg options]
  local id="$*" calls
  calls=$(wc -c <"$work/$scenario.wine-calls" 2>/dev/null || echo 0)
  if [ "${listed_after[$id]:-}" != "$calls" ]; then
    listings[$id]=$(timeout -k 5 "$kWineTimeout" wine reg query "$@" 2>/dev/null | tr -d '\r') ||
      listings[$id]=""
    listed_after[$id]=$calls
  fi
  listing=${listings[$id]}
}

# A virtual display of the scenario's own for its boxes, so that scenarios can run side by side.
# Each display number is taken under a lock that its Xvfb holds for as long as it runs: Xvfb's
# own choice of a free number (-displayfd without one) takes no lock, and two servers starting
# and stopping at once left a scenario with a display Wine could not reach.
start_display() {
  local number
  for number in $(seq 50 99); do
    serve_display "$number" || continue
    export DISPLAY=":$number"
    return
  done
  fail "no display could be started"
}

serve_display() {  # number: starts Xvfb there and waits until it serves; false if it cannot
  local ready="$work/$scenario.display" _
  : >"$ready"
  (
    exec {lock}>"${TMPDIR:-/tmp}/.vorn-display-$1.lock"
    flock -n "$lock" || exit 1
    exec Xvfb ":$1" -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$ready"
  ) >/dev/null 2>&1 &
  display_pid=$!
  for _ in $(seq $((100 * kSlowdown))); do  # 10 s natively
    [ ! -s "$ready" ] || return 0
    kill -0 "$display_pid" 2>/dev/null || break
    sleep 0.1
  done
  { kill "$display_pid" && wait "$display_pid"; } 2>/dev/null || true
  display_pid=""
  return 1
}

make_template() {  # win32 or win64
  local prefix="$work/template-$1"
  rm -rf "$prefix"
  WINEPREFIX=$prefix WINEARCH=$1 wine_call wineboot -i
  WINEPREFIX=$prefix wine_call wineserver -w
}

# A fresh Windows for one scenario: a copy of the template of that kind (win32 or win64).
new_prefix() {
  template_dir="$work/template-$1"
  export WINEPREFIX="$work/prefix-$scenario"
  [ -d "$template_dir" ] || fail "no $1 template: run 'harness.sh templates' first"
  rm -rf "$WINEPREFIX"
  cp -a "$template_dir" "$WINEPREFIX"
  windows_dir="$WINEPREFIX/drive_c/windows"
  # A 32-bit program's system32 is syswow64 on 64-bit Windows.
  if [ "$1" = win64 ]; then system_dir="$windows_dir/syswow64"; regedit='C:\windows\syswow64\regedit.exe'
  else system_dir="$windows_dir/system32"; regedit=regedit; fi
  # One server for the whole scenario: registry changes reach every later process through it,
  # and no call waits for a server to start or to linger out. Killed when the scenario ends;
  # should that be skipped, it still goes on its own.
  wine_call wineserver -p"$kServerLinger"
  # Wake the prefix with a quiet process first: the very first box of a new prefix is flaky.
  # Under the i386 emulator that first process now and then never returns (its services.exe
  # waits forever): then the prefix gets a new server and one more try.
  wake_prefix || { stop_prefix && wine_call wineserver -p"$kServerLinger" && wake_prefix; } ||
    fail "the new prefix did not start"
}

wake_prefix() {
  echo >>"$work/$scenario.wine-calls"
  timeout -k 5 $((20 * kSlowdown)) wine cmd /c exit
}

# Ends every process of the scenario's prefix. wineserver -k stops those it serves; a process
# that was starting as the server went (a services.exe, seen under the i386 emulator) waits
# forever for a server that is gone, holding the test's output open, so that ctest waits too.
stop_prefix() {
  [ -n "${WINEPREFIX:-}" ] || return 0  # without one, wineserver -k would stop ~/.wine's server
  timeout $((10 * kSlowdown)) wineserver -k 2>/dev/null || true
  local environ
  for environ in /proc/[0-9]*/environ; do
    grep -qzx "WINEPREFIX=$WINEPREFIX" "$environ" 2>/dev/null || continue
    environ=${environ#/proc/}
    kill -KILL "${environ%/environ}" 2>/dev/null || true
  done
}

set_windows_version() {  # winxp, win10, win98, win31, ...
  wine_call wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null
}

# Imports a REGEDIT4 text (CRLF added here) as regedit would; on 64-bit Windows as the 32-bit
# regedit, so keys below HKLM\Software land where the 32-bit setup looks.
import_reg() {  # lines...
  local file="$WINEPREFIX/drive_c/import.reg"
  printf '%s\r\n' REGEDIT4 "" "$@" >"$file"
  wine_call wine "$regedit" /s 'C:\import.reg'
}

# The key a fresh Wine lacks and Windows has; made without a default value, as on Windows
# ('reg add' would give it an empty one).
add_descriptions_key() {
  import_reg "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]"
}

# A folder holding the package, to start the setup in.
package_dir() {
  local dir="$WINEPREFIX/drive_c/package"
  mkdir -p "$dir"
  cp "$VORN_FIXTURES/vornjixd.dll" "$VORN_FIXTURES/vornjix2.dll" "$dir/"
  echo "$dir"
}

# Presses OK on every box of the setup until it ends.
press_ok_until_done() {  # pid
  while kill -0 "$1" 2>/dev/null; do
    local window
    for window in $(timeout 5 xdotool search --name "$kCaption" 2>/dev/null); do
      # A new box ignores keys for a moment: keep pressing until it is gone.
      timeout 5 xdotool key --window "$window" Return 2>/dev/null || true
    done
    sleep 0.3
  done
}

# Runs a program (the setup or the remover, given as its file) in folder $2 with any further
# arguments; sets status and boxes (the texts as Wine's trace spells them: line feeds as \n).
run_program() {  # exe, dir, args...
  local name
  name=$(basename "$1")
  local dir=$2
  cp "$1" "$WINEPREFIX/drive_c/$name"
  shift 2
  setup_trace="$work/$scenario.trace"
  (cd "$dir" && WINEDEBUG="trace+msgbox${setup_debug:+,$setup_debug}" \
    wine_call wine "C:\\$name" "$@" 2>"$setup_trace") &
  local pid=$!
  press_ok_until_done "$pid"
  status=0
  wait "$pid" || status=$?
  # 124 and 137: timeout stopped it, most likely at a box nobody could press.
  case $status in 124 | 137) fail "$name did not end within ${kWineTimeout}s" ;; esac
  boxes=()
  local line
  while IFS= read -r line; do
    line=${line#*MSGBOX_OnInit L\"}
    boxes+=("${line%\"}")
  done < <(grep -a 'MSGBOX_OnInit' "$setup_trace" | tr -d '\r' || true)
}

run_setup() {  # dir, args...
  run_program "$VORN_SETUP_EXE" "$@"
}

run_remover() {  # dir, args...
  run_program "${VORN_REMOVE_EXE:?}" "$@"
}

# Starts another process that loads a DLL and keeps it, and returns once it holds it.
hold_loaded() {  # Windows path of the DLL
  local out="$work/$scenario.holder"
  : >"$out"
  # timeout itself, not a subshell around it, so that release_held reaches the holder: timeout
  # hands the signal on.
  timeout -k 5 "$kWineTimeout" wine "${VORN_HOLDER_EXE:?}" "$1" "$kHoldSeconds" >"$out" 2>/dev/null &
  holder_pid=$!
  local _
  for _ in $(seq $((100 * kSlowdown))); do  # 10 s natively
    grep -q '^holding' "$out" && return 0
    kill -0 "$holder_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "the holder did not load $1: $(tr -d '\r' <"$out")"
}

release_held() {
  kill "$holder_pid" 2>/dev/null || true
  wait "$holder_pid" 2>/dev/null || true
}

# Asks the platform's video subsystem what it finds (see tests/fixtures/probe.cpp).
run_probe() {
  local output
  output=$(wine_call wine "${VORN_PROBE_EXE:?}" | tr -d '\r') || fail "the probe failed"
  mapfile -t probe_lines <<<"$output"
}

# Reads a registry value into value_data and value_type (both empty when it is missing).
read_value() {  # key, name, [further reg options]
  value_data="" value_type=""
  list_key "$1" "${@:3}"
  local line
  # A value's line: its name between four blanks each side; names match without regard to case.
  line=$(grep -i -F "    $2    " <<<"$listing" | head -1) || return 0
  value_type=$(awk -F'    ' '{print $3}' <<<"$line")
  value_data=$(awk -F'    ' '{print $4}' <<<"$line")
}

# Both NT keys and system.ini as text: equal snapshots mean nothing registration-related changed.
registration_snapshot() {
  local key
  for key in "$kNtKey\\drivers.desc" "$kNtKey\\Drivers32"; do
    wine_call wine reg query "$key" 2>&1 | tr -d '\r' || true
  done
  cat "$windows_dir/system.ini"
}

# Everything a setup may change: both NT keys, system.ini, and the system directory's files,
# each with its size and modification time (summing the prefix's 500 MB took seconds).
machine_snapshot() {
  registration_snapshot
  find "$system_dir" -maxdepth 1 -type f -printf '%f %s %T@\n' | LC_ALL=C sort
}

expect_eq() {  # what, got, expected
  [ "$2" = "$3" ] || fail "$1: got [$2], expected [$3]"
}

expect_boxes() {  # expected texts, in order
  expect_eq "number of boxes" "${#boxes[@]}" "$#"
  local i=0 text
  for text in "$@"; do
    expect_eq "box $((i + 1))" "${boxes[$i]}" "$text"
    i=$((i + 1))
  done
}

expect_value() {  # key, name, data, [further reg options]
  read_value "$1" "$2" "${@:4}"
  local what="$1\\$2${4:+ ${*:4}}"
  expect_eq "$what" "$value_data" "$3"
  expect_eq "type of $what" "$value_type" "REG_SZ"
}

expect_no_value() {  # key, name, [further reg options]
  read_value "$1" "$2" "${@:3}"
  expect_eq "$1\\$2${3:+ ${*:3}} (should be missing)" "$value_type$value_data" ""
}

expect_no_key() {  # key, [further reg options]
  ! wine_call wine reg query "$1" "${@:2}" >/dev/null 2>&1 || fail "$1 ${*:2} should not exist"
}

expect_same_file() {  # got, expected
  cmp -s "$1" "$2" || fail "$1 differs from $2"
}

expect_no_file() {
  [ ! -e "$1" ] || fail "$1 should not exist"
}

# system.ini as the template had it, byte for byte, then the given lines (with CRLF). Wine's
# system.ini ends with its [drivers32] section, so that is where new entries of it go.
expect_system_ini() {  # appended lines...
  local expected="$work/$scenario.system.ini"
  cp "$template_dir/drive_c/windows/system.ini" "$expected"
  [ $# -eq 0 ] || printf '%s\r\n' "$@" >>"$expected"
  cmp -s "$windows_dir/system.ini" "$expected" ||
    fail "system.ini differs (< got, > expected):
$(diff <(tr -d '\r' <"$windows_dir/system.ini") <(tr -d '\r' <"$expected"))"
}

# The probe lists the handler exactly once and, opening it, reaches the file expected.
expect_probe_finds() {  # fourcc, file ("-" for none)
  local listed
  listed=$(printf '%s\n' "${probe_lines[@]}" | grep -c -x "listed $1" || true)
  if [ "$2" = - ]; then expect_eq "probe: times $1 is listed" "$listed" 0
  else expect_eq "probe: times $1 is listed" "$listed" 1; fi
  local opened
  opened=$(printf '%s\n' "${probe_lines[@]}" | grep "^open $1 " || true)
  expect_eq "probe: file opened for $1" "$opened" "open $1 $2"
}

readonly kComplete='            Installation is complete.            '
readonly kNotComplete='          Installation is NOT complete.          '
readonly kInUse='Previous installed VORN video decoder is in use.\nPlease stop the video application or reboot your system first.\nThen install VORN video decoder again.'
readonly kWrongVersion='Wrong Windows Version'
readonly kRemoved='The VORN video decoders are removed.'
readonly kNotRemoved='The VORN video decoders are NOT completely removed.\nWindows did not let the remover change their registration.\nRun the remover again as an administrator.'
readonly kRemovalInUse='A VORN video decoder is in use and could not be removed.\nPlease close the video application or restart Windows.\nThen run the remover again.'

main() {
  mkdir -p "$work"
  if [ "$1" = templates ]; then
    make_template win32
    make_template win64
    return
  fi
  scenario=$1
  # shellcheck source=tests/wine/scenarios.sh
  source "${2:-$(dirname "$0")/scenarios.sh}"
  declare -F "scenario_$scenario" >/dev/null || fail "no scenario '$scenario'"
  # The display is waited for as it goes: one going away removes its socket and lock file, which
  # a display started meanwhile under the same number would lose.
  trap 'stop_prefix
    [ -z "${display_pid:-}" ] || { kill "$display_pid" && wait "$display_pid"; } 2>/dev/null || true' EXIT
  rm -f "$work/$scenario.wine-calls"
  start_display
  "scenario_$scenario"
  stop_prefix
  rm -rf "$WINEPREFIX"
  echo "PASS: $scenario"
}

main "$@"
