#!/usr/bin/env bash
# One harness for every Wine scenario: each runs vornsetup.exe in a fresh Wine prefix on a
# virtual display, presses OK on its boxes, and checks what it said and what it left behind.
#
#   harness.sh templates          make the prefix templates (once per test run)
#   harness.sh SCENARIO           run one scenario from scenarios.sh
#
# Environment: VORN_WINE_WORK (a work folder), VORN_SETUP_EXE, VORN_FIXTURES (a folder with the
# two decoder files), and optionally VORN_PROBE_EXE.
set -euo pipefail

readonly kCaption="VORN VORN Video Decoder Setup"
readonly kWineTimeout=60  # seconds any one Wine call may take before the scenario fails
readonly kNtKey='HKLM\Software\Microsoft\Windows NT\CurrentVersion'

work=${VORN_WINE_WORK:?}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko install dialogs
export WINEDEBUG=-all

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs a Wine command with a time limit, so a stuck box fails the test instead of hanging it.
wine_call() {
  timeout -k 5 "$kWineTimeout" "$@"
}

make_template() {  # win32 or win64
  local prefix="$work/template-$1"
  rm -rf "$prefix"
  WINEPREFIX=$prefix WINEARCH=$1 wine_call wineboot -i
  WINEPREFIX=$prefix wine_call wineserver -w
}

# A fresh Windows for one scenario: a copy of the template of that kind (win32 or win64).
new_prefix() {
  export WINEPREFIX="$work/prefix-$scenario"
  [ -d "$work/template-$1" ] || fail "no $1 template: run 'harness.sh templates' first"
  rm -rf "$WINEPREFIX"
  cp -a "$work/template-$1" "$WINEPREFIX"
  if [ "$1" = win64 ]; then system_dir="$WINEPREFIX/drive_c/windows/syswow64"
  else system_dir="$WINEPREFIX/drive_c/windows/system32"; fi
  windows_dir="$WINEPREFIX/drive_c/windows"
  # Wake the prefix with a quiet process first: the very first box of a new prefix is flaky.
  wine_call wine cmd /c exit
}

set_windows_version() {  # winxp, win10, win98, win31, ...
  wine_call wine reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null
  wine_call wineserver -w
}

# Imports a REGEDIT4 text (CRLF added here) as regedit would.
import_reg() {  # lines...
  local file="$WINEPREFIX/drive_c/import.reg"
  printf '%s\r\n' REGEDIT4 "" "$@" >"$file"
  wine_call wine regedit /s 'C:\import.reg'
  wine_call wineserver -w
}

# The key a fresh Wine lacks and Windows has; made without a default value, as on Windows.
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
    for window in $(xdotool search --name "$kCaption" 2>/dev/null); do
      # A new box ignores keys for a moment: keep pressing until it is gone.
      xdotool key --window "$window" Return 2>/dev/null || true
    done
    sleep 0.3
  done
}

# Runs the setup in folder $1 with any further arguments; sets status and boxes (the texts
# as Wine's trace spells them: line feeds as \n).
run_setup() {
  local dir=$1
  shift
  cp "$VORN_SETUP_EXE" "$WINEPREFIX/drive_c/vornsetup.exe"
  local trace="$work/$scenario.trace"
  (cd "$dir" && WINEDEBUG=trace+msgbox wine_call wine 'C:\vornsetup.exe' "$@" 2>"$trace") &
  local pid=$!
  press_ok_until_done "$pid"
  status=0
  wait "$pid" || status=$?
  wine_call wineserver -w
  boxes=()
  local line
  while IFS= read -r line; do
    line=${line#*MSGBOX_OnInit L\"}
    boxes+=("${line%\"}")
  done < <(grep -a 'MSGBOX_OnInit' "$trace" | tr -d '\r' || true)
}

# Reads a registry value into value_data and value_type (both empty when it is missing).
read_value() {  # key, name, [further reg options]
  value_data="" value_type=""
  local output line
  output=$(wine_call wine reg query "$1" /v "$2" "${@:3}" 2>/dev/null | tr -d '\r') || return 0
  line=$(grep -F "    $2    " <<<"$output" | head -1) || return 0
  value_type=$(awk -F'    ' '{print $3}' <<<"$line")
  value_data=$(awk -F'    ' '{print $4}' <<<"$line")
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
  expect_eq "$1\\$2" "$value_data" "$3"
  expect_eq "type of $1\\$2" "$value_type" "REG_SZ"
}

expect_no_value() {  # key, name, [further reg options]
  read_value "$1" "$2" "${@:3}"
  expect_eq "$1\\$2 (should be missing)" "$value_type$value_data" ""
}

expect_same_file() {  # got, expected
  cmp -s "$1" "$2" || fail "$1 differs from $2"
}

readonly kComplete='            Installation is complete.            '
readonly kNotComplete='          Installation is NOT complete.          '
readonly kInUse='Previous installed VORN video decoder is in use.\nPlease stop the video application or reboot your system first.\nThen install VORN video decoder again.'
readonly kWrongVersion='Wrong Windows Version'

main() {
  mkdir -p "$work"
  if [ "$1" = templates ]; then
    make_template win32
    make_template win64
    return
  fi
  scenario=$1
  # shellcheck source=tests/wine/scenarios.sh
  source "$(dirname "$0")/scenarios.sh"
  declare -F "scenario_$scenario" >/dev/null || fail "no scenario '$scenario'"
  trap 'wineserver -k 2>/dev/null || true' EXIT
  "scenario_$scenario"
  wine_call wineserver -k || true
  rm -rf "$WINEPREFIX"
  echo "PASS: $scenario"
}

main "$@"
