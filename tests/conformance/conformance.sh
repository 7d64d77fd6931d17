# Conformance scenarios: the same Windows calls, and the whole setup and remover, from the same
# starting files on Wine and on our emulated machine (the native build), and then what each
# returned and left behind compared. harness.sh runs them ("harness.sh SCENARIO tests/conformance/conformance.sh")
# and provides the helpers.
#
# The emulation must do what Windows does, and Wine stands in for Windows here, with one known
# difference: when Wine saves a profile it rewrites the whole file in its own form (CRLF line
# ends, no blank lines, no blanks around "=" or inside a header's brackets, nothing after a
# header's "]"), while we keep every byte we need not change, as Windows keeps the comments
# beside the keys it writes. So a case whose starting file is not in Wine's form says why; its
# two results must then read the same through Windows and be the same bytes once both are put
# in Wine's form. Every other case must leave the very same bytes on both.
#
# Environment, besides harness.sh's: VORN_NATIVE_BUILD (the native build folder, which must
# exist), VORN_PROFILE_WRITER_EXE, VORN_REGISTRY_WRITER_EXE, VORN_PROFILE_READER_EXE,
# VORN_PROFILE_GETTER_EXE, VORN_REGISTRY_EDITOR_EXE and VORN_FILE_DELETER_EXE.
# shellcheck shell=bash disable=SC2154  # work, scenario, windows_dir, status, ...: harness.sh's

readonly kNtKeys='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion'
readonly kDescriptionsKey="$kNtKeys\\drivers.desc"
readonly kHandlersKey="$kNtKeys\\Drivers32"
readonly kNoFile='(none)'
# What the setup calls on the 95 family, on the case's file: three writes and the flush.
readonly kSetupWrites='drivers32,vidc.jix1,vornjixd.dll drivers32,vidc.jix2,vornjix2.dll
  drivers32,vidc.uyvy,vornjixd.dll (null),(null),(null)'

# ---------------------------------------------------------------------------------------------
# The native side

# The native build's programs; without them the comparison cannot be made, so that fails.
use_native_build() {
  native_setup=${VORN_NATIVE_BUILD:?}/setup/vornsetup
  native_remover=$VORN_NATIVE_BUILD/setup/vornremove
  native_calls=$VORN_NATIVE_BUILD/tests/conformance
  native_profile_writer=$native_calls/profile_writer
  native_registry_writer=$native_calls/registry_writer
  native_reg_listing=$native_calls/reg_listing
  local program
  for program in "$native_setup" "$native_remover" "$native_profile_writer" \
    "$native_registry_writer" "$native_reg_listing" "$native_calls/profile_getter" \
    "$native_calls/registry_editor" "$native_calls/file_deleter"; do
    [ -x "$program" ] || fail "no $program: build the native preset first" \
      "(cmake --preset native && cmake --build --preset native), or configure this build" \
      "with -DVORN_NATIVE_BUILD=<a native build folder>"
  done
}

# A fresh native machine of the given family: C:\WINDOWS with its SYSTEM32, an empty registry.
new_native_machine() {  # nt or 95
  native_machine="$work/$scenario.machine"
  native_windows_dir="$native_machine/drive_c/WINDOWS"
  rm -rf "$native_machine"
  mkdir -p "$native_windows_dir/SYSTEM32"
  printf 'platform = %s\nwindows = C:\\WINDOWS\nsystem = C:\\WINDOWS\\SYSTEM32\n' "$1" \
    >"$native_machine/machine.conf"
  printf 'REGEDIT4\r\n\r\n' >"$native_machine/HKLM.reg"
}

native_call() {  # program, arguments...
  VORN_MACHINE=$native_machine timeout -k 5 "$kWineTimeout" "$@" </dev/null
}

# Runs the native setup (or the program given) in a folder holding the package; sets
# native_status and native_boxes.
run_native_setup() {  # [program]
  local dir="$work/$scenario.package" drawn="$work/$scenario.native-boxes"
  mkdir -p "$dir"
  cp "$VORN_FIXTURES/vornjixd.dll" "$VORN_FIXTURES/vornjix2.dll" "$dir/"
  native_status=0
  (cd "$dir" && native_call "${1:-$native_setup}" 2>"$drawn") || native_status=$?
  mapfile -t native_boxes < <(drawn_box_texts <"$drawn")
}

run_native_remover() {
  run_native_setup "$native_remover"
}

# The status and the boxes of the last Wine run and the last native run, compared.
compare_outcome() {  # case
  expect_same "$1: exit status" "$status" "$native_status"
  expect_same "$1: boxes" "$(without_trailing_blanks "${boxes[@]}")" \
    "$(printf '%s\n' "${native_boxes[@]}")"
}

# The texts of the boxes the native MessageBoxA drew on standard error (caption row, text rows,
# button row between three borders), spelled as Wine's trace spells them: line feeds as \n.
# Each row is padded to the box's width, so no line keeps its trailing blanks.
drawn_box_texts() {
  awk '
    /^\+-+\+$/ {
      if (++borders % 3 == 2) rows = 0
      if (borders % 3 == 0) {
        text = ""
        for (i = 1; i < rows; i++) text = text (i > 1 ? "\\n" : "") row[i]
        print text
      }
      next
    }
    borders % 3 == 2 { row[++rows] = substr($0, 3, length($0) - 4); sub(/ +$/, "", row[rows]) }'
}

# Wine's box texts without the trailing blanks of their lines, to compare with drawn_box_texts.
without_trailing_blanks() {  # texts...
  [ $# -eq 0 ] || printf '%s\n' "$@" | sed 's/ *\\n/\\n/g; s/ *$//'
}

# ---------------------------------------------------------------------------------------------
# Comparing

mismatches=()

mismatch() {  # what differs
  mismatches+=("$*")
}

# Ends the scenario, failing it with every difference found.
report_mismatches() {
  [ ${#mismatches[@]} -eq 0 ] || fail "Wine and the emulation differ:
$(printf -- '- %s\n' "${mismatches[@]}")"
}

expect_same() {  # what, Wine's, the emulation's
  [ "$2" = "$3" ] || mismatch "$1:
$(diff <(echo "$2") <(echo "$3") | sed 's/^</  Wine      /; s/^>/  emulation /')"
}

# Writes a starting file, or makes sure there is none.
place_file() {  # content or $kNoFile, path
  rm -f "$2"
  [ "$1" = "$kNoFile" ] || printf '%s' "$1" >"$2"
}

# Sets the variable named first to a file's bytes, all of them (a command substitution would
# drop its final line feeds).
read_bytes() {  # variable, path
  local bytes
  bytes=$(cat "$2" && echo .)
  printf -v "$1" '%s' "${bytes%.}"
}

# A file's lines with their ends shown (CR as ^M, LF as $), or "(none)".
shown() {  # path, [filter]
  if [ -e "$1" ]; then "${2:-cat}" <"$1" | cat -A; else echo "$kNoFile"; fi
}

# A profile in the form Wine saves it: each line as Wine reads it (ended by CR or LF, without
# the blanks around it, around its "=" or inside a header's brackets, and without what follows
# a header's "]"), blank lines dropped, and every line ending in CRLF.
wine_form() {
  awk '
    BEGIN { RS = "[\r\n]+" }
    function trim(s) { gsub(/^[ \t]+|[ \t]+$/, "", s); return s }
    function last_index(s, c,   i) {
      for (i = length(s); i > 0; i--) if (substr(s, i, 1) == c) return i
      return 0
    }
    {
      line = trim($0)
      if (line == "") next
      if (substr(line, 1, 1) == "[" && (end = last_index(line, "]")) > 0) {
        printf "[%s]\r\n", trim(substr(line, 2, end - 2))
      } else if ((equals = index(line, "=")) > 0) {
        printf "%s=%s\r\n", trim(substr(line, 1, equals - 1)), trim(substr(line, equals + 1))
      } else {
        printf "%s\r\n", line
      }
    }'
}

# What Wine and the emulation left of one profile, judged as its case says (see the top).
# Cases that may differ in form are also listed in reread_cases, for read_through_windows.
reread_cases=()
compare_profile() {  # case, why, starting content, Wine's file, the emulation's file
  local name=$1 why=$2 start=$3 wine_file=$4 native_file=$5
  if [ "$why" = - ]; then
    expect_same "$name: the file's bytes (CR shown as ^M)" "$(shown "$wine_file")" \
      "$(shown "$native_file")"
    return
  fi
  # Only Wine's rewriting excuses a difference: a file already in its form must come out alike.
  if [ "$start" = "$kNoFile" ] ||
    [ "$(printf '%s' "$start" | wine_form | cat -A)" = "$(printf '%s' "$start" | cat -A)" ]; then
    mismatch "$name: starts in Wine's form, so both must leave the same bytes; drop its reason"
  fi
  expect_same "$name ($why): the file in Wine's form" "$(shown "$wine_file" wine_form)" \
    "$(shown "$native_file" wine_form)"
  reread_cases+=("$name")
}

# Reads each reread case's two files through Windows itself (profile_reader.exe): Wine's result
# as NAME.ini, the emulation's copied beside it as NAME.emulated.ini.
read_through_windows() {  # the emulation's folder of case files
  [ ${#reread_cases[@]} -gt 0 ] || return 0
  local name files=() readings
  for name in "${reread_cases[@]}"; do
    cp "$1/$name.ini" "$windows_dir/$name.emulated.ini"
    files+=("$name.ini" "$name.emulated.ini")
  done
  readings=$(wine_call wine "${VORN_PROFILE_READER_EXE:?}" "${files[@]}" | tr -d '\r')
  for name in "${reread_cases[@]}"; do
    expect_same "$name: read through Windows" \
      "$(awk -F'|' -v f="$name.ini" '$1 == f { sub(/^[^|]*\|/, ""); print }' <<<"$readings")" \
      "$(awk -F'|' -v f="$name.emulated.ini" '$1 == f { sub(/^[^|]*\|/, ""); print }' \
        <<<"$readings")"
  done
}

# ---------------------------------------------------------------------------------------------
# WritePrivateProfileStringA, case by case

case_names=() case_whys=() case_starts=() case_calls=()

# One case: profile_case NAME WHY START [CALLS]
#   WHY    "-" where both must leave the same bytes, or why only Wine's form of them can agree
#   START  the file's bytes before the calls, or "(none)" for no file
#   CALLS  SECTION,KEY,VALUE[,FILE] each, blank separated; "(null)" is NULL, FILE is the case's
#          file NAME.ini unless given ('""' for an empty name); by default the setup's three
#          writes and its flush
profile_case() {
  case_names+=("$1")
  case_whys+=("$2")
  case_starts+=("$3")
  case_calls+=("${4:-$kSetupWrites}")
}

readonly kWineRewritesLf="Wine writes CRLF line ends throughout"
readonly kWineDropsBlankLines="Wine drops blank lines"
readonly kWineDropsBlanks="Wine drops the blanks around ="
readonly kWineRewritesHeader="Wine drops blanks inside a header and what follows it"

profile_cases() {
  profile_case section_in_other_case - \
    $'[boot]\r\nshell=Explorer.exe\r\n[Drivers32]\r\nmsacm.imaadpcm=imaadp32.acm\r\n'
  profile_case section_and_key_in_capitals - \
    $'[DRIVERS32]\r\nVIDC.JIX1=old.dll\r\nmsacm.imaadpcm=imaadp32.acm\r\n'
  profile_case missing_section - $'[boot]\r\nshell=Explorer.exe\r\n'
  profile_case missing_file - "$kNoFile"
  profile_case empty_file - ''
  local crlf=$'; for 16-bit app support\r\n[386Enh]\r\nwoafont=dosapp.fon\r\n[drivers32]\r\n'
  crlf+=$'msacm.imaadpcm=imaadp32.acm\r\n[mci]\r\ncdaudio=mcicda.dll\r\n'
  profile_case crlf - "$crlf"
  profile_case lf "$kWineRewritesLf" "${crlf//$'\r'/}"
  profile_case key_twice - $'[drivers32]\r\nvidc.jix1=first.dll\r\nvidc.jix1=second.dll\r\n'
  profile_case value_replaced - \
    $'[drivers32]\r\nvidc.jix1=old.dll\r\nvidc.jix2=old2.dll\r\nvidc.uyvy=old.dll\r\n'
  # Nothing to change: Wine does not save, so even a file in another form stays as it is.
  profile_case same_values_again - \
    $'[drivers32]\n vidc.jix1 = vornjixd.dll \n\nvidc.jix2=vornjix2.dll\nvidc.uyvy=vornjixd.dll'
  profile_case no_final_line_break - $'[drivers32]\r\nmsacm.imaadpcm=imaadp32.acm'
  profile_case no_final_line_break_lf "$kWineRewritesLf" $'[boot]\nshell=Explorer.exe'
  profile_case two_sections - \
    $'[drivers32]\r\nmsacm.imaadpcm=imaadp32.acm\r\n[boot]\r\n[Drivers32]\r\nvidc.jix1=old\r\n'
  profile_case comments_and_blank_lines "$kWineDropsBlankLines" \
    $'; top\r\n\r\n[drivers32]\r\n; decoders\r\nmsacm.imaadpcm=imaadp32.acm\r\n; end\r\n\r\n'
  profile_case blanks_around_equals "$kWineDropsBlanks" \
    $'[drivers32]\r\nvidc.jix1 = old.dll\r\nmsacm.imaadpcm = imaadp32.acm\r\n'
  profile_case header_with_blanks_and_remark "$kWineRewritesHeader" $' [ Drivers32 ] ; video\r\n'
  profile_case lone_carriage_return "$kWineRewritesLf" \
    $'[drivers32]\r\nvidc.jix1=old.dll\rmsacm.imaadpcm=imaadp32.acm\r\n'
  # Other calls of the API: deleting, and the answers to a missing section name and a flush.
  profile_case delete_key - $'[drivers32]\r\nvidc.jix1=old.dll\r\nvidc.jix2=old2.dll\r\n' \
    'drivers32,VIDC.JIX1,(null) drivers32,vidc.none,(null)'
  profile_case delete_section - $'[boot]\r\nb=2\r\n[Drivers32]\r\nvidc.jix1=old.dll\r\n' \
    'drivers32,(null),(null) drivers32,(null),(null)'
  profile_case delete_in_missing_file - "$kNoFile" 'drivers32,vidc.jix1,(null)'
  profile_case no_section_name - $'[drivers32]\r\n' '(null),vidc.jix1,vornjixd.dll'
  profile_case flush_of_missing_file - "$kNoFile" '(null),(null),(null)'
  profile_case empty_file_name - "$kNoFile" \
    'drivers32,vidc.jix1,vornjixd.dll,"" (null),(null),(null),""'
}

# Every case in one Wine process and in one native process, each case on its own file.
scenario_profile_calls() {
  use_native_build
  new_prefix win32
  new_native_machine 95
  profile_cases
  local i call section key value file arguments=()
  for i in "${!case_names[@]}"; do
    place_file "${case_starts[$i]}" "$windows_dir/${case_names[$i]}.ini"
    place_file "${case_starts[$i]}" "$native_windows_dir/${case_names[$i]}.ini"
    for call in ${case_calls[$i]}; do
      IFS=, read -r section key value file <<<"$call"
      case $file in
        '') file=${case_names[$i]}.ini ;;
        '""') file='' ;;
      esac
      arguments+=("$section" "$key" "$value" "$file")
    done
  done
  expect_same "what the calls returned" \
    "$(wine_call wine "${VORN_PROFILE_WRITER_EXE:?}" "${arguments[@]}" | tr -d '\r')" \
    "$(native_call "$native_profile_writer" "${arguments[@]}")"
  for i in "${!case_names[@]}"; do
    compare_profile "${case_names[$i]}" "${case_whys[$i]}" "${case_starts[$i]}" \
      "$windows_dir/${case_names[$i]}.ini" "$native_windows_dir/${case_names[$i]}.ini"
  done
  read_through_windows "$native_windows_dir"
  report_mismatches
}

# ---------------------------------------------------------------------------------------------
# The whole setup on the 95 family: vornsetup.exe under Wine (Windows 98) on a Windows whose
# system.ini is X, the native vornsetup on a machine whose system.ini is X.

scenario_profile_setup() {
  use_native_build
  new_prefix win32
  set_windows_version win98
  local wine_ini hand_edited
  read_bytes wine_ini "$template_dir/drive_c/windows/system.ini"
  hand_edited=$'; by hand\n\n[boot]\nshell = Explorer.exe\n\n[Drivers32]\n; decoders\n'
  hand_edited+=$'VIDC.JIX1 = old.dll\nmsacm.imaadpcm=imaadp32.acm\n\n[mci]\ncdaudio=mcicda.dll'
  compare_profile_setup wines_own - "$wine_ini"
  compare_profile_setup hand_edited "$kWineRewritesLf; $kWineDropsBlankLines" "$hand_edited"
  read_through_windows "$work/$scenario.results"
  report_mismatches
}

compare_profile_setup() {  # case, why, system.ini before
  new_native_machine 95
  place_file "$3" "$windows_dir/system.ini"
  place_file "$3" "$native_windows_dir/system.ini"
  run_setup "$(package_dir)"
  run_native_setup
  compare_outcome "$1"
  # Kept under the case's name, for read_through_windows.
  mkdir -p "$work/$scenario.results"
  cp "$windows_dir/system.ini" "$windows_dir/$1.ini"
  cp "$native_windows_dir/system.ini" "$work/$scenario.results/$1.ini"
  compare_profile "$1" "$2" "$3" "$windows_dir/system.ini" "$native_windows_dir/system.ini"
  # Then the remover on both, from what each setup left.
  run_remover "$(package_dir)"
  run_native_remover
  compare_outcome "$1, removed"
  cp "$windows_dir/system.ini" "$windows_dir/$1.removed.ini"
  cp "$native_windows_dir/system.ini" "$work/$scenario.results/$1.removed.ini"
  compare_profile "$1.removed" "$2" "$3" "$windows_dir/system.ini" "$native_windows_dir/system.ini"
}

# ---------------------------------------------------------------------------------------------
# The registry: the same values to start with, the same calls or the whole NT setup on both,
# then both keys listed as reg.exe lists them.

# Sets both NT keys to what the lines say, on Wine by importing them (after deleting the keys)
# and on the native machine as the whole of its HKLM.reg (the deletions are no-ops there).
start_registry() {  # REGEDIT4 lines after the deletions
  local lines=("[-$kDescriptionsKey]" "[-$kHandlersKey]" "$@")
  import_reg "${lines[@]}"
  printf '%s\r\n' REGEDIT4 "" "${lines[@]}" >"$native_machine/HKLM.reg"
}

# Values of every type the setup meets, some of them its own names in other letter cases.
readonly kExistingValues=(
  "[$kDescriptionsKey]"
  '"VORNJIXD.DLL"="Old JIX1 Decoder"'
  '"msrle32.dll"="Microsoft RLE"'
  "[$kHandlersKey]"
  '"VIDC.JIX1"="old.dll"'
  '"vidc.uyvy"="vornjixd.dll"'
  '"count"=dword:0000001f'
  '"path"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,78,00'
  '"list"=hex(7):61,2e,64,6c,6c,00,62,2e,64,6c,6c,00,00'
  '"bin"=hex:01,ab'
  '@="default"'
)

# Both keys, values sorted: Windows promises no order, and Wine lists them by name.
compare_nt_keys() {  # case
  local key wine_listing native_listing
  for key in "$kDescriptionsKey" "$kHandlersKey"; do
    wine_listing=$(wine_call wine reg query "$key" 2>/dev/null | tr -d '\r' | LC_ALL=C sort) ||
      wine_listing='(no key)'
    native_listing=$(native_call "$native_reg_listing" "$native_machine/HKLM.reg" "$key" |
      LC_ALL=C sort) || native_listing='(no key)'
    expect_same "$1: $key" "$wine_listing" "$native_listing"
  done
}

# Opens, sets and closes as the registrar does, on both, with keys spelled in ways Windows takes.
registry_calls() {
  local drivers32='SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32'
  local calls=(
    "$drivers32|COUNT|string now|vidc.jix2|vornjix2.dll"
    "$drivers32||new default"
    'software\MICROSOFT\windows nt\currentversion\DRIVERS32|vidc.list|case of the path'
    "$drivers32\\\\|vidc.trailing|two trailing backslashes"
    'SOFTWARE\\Microsoft\Windows NT\CurrentVersion\Drivers32|vidc.double|a doubled backslash'
    '\SOFTWARE\Microsoft'
    "$drivers32\\vidc.jix1"
    'SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers'
    ''
  )
  local call arguments
  for call in "${calls[@]}"; do
    IFS='|' read -r -a arguments <<<"$call"
    [ ${#arguments[@]} -gt 0 ] || arguments=('')
    expect_same "registry calls: $call" \
      "$(wine_call wine "${VORN_REGISTRY_WRITER_EXE:?}" "${arguments[@]}" | tr -d '\r')" \
      "$(native_call "$native_registry_writer" "${arguments[@]}")"
  done
}

scenario_registry() {
  use_native_build
  new_prefix win32
  new_native_machine nt
  start_registry "${kExistingValues[@]}"
  registry_calls
  compare_nt_keys "registry calls"

  new_native_machine nt
  start_registry "${kExistingValues[@]}"
  compare_nt_setup "setup over values of every type"

  # Wine's own Windows has no drivers.desc key: the setup says it is not complete.
  new_native_machine nt
  start_registry "[$kHandlersKey]" '"vidc.mrle"="msrle32.dll"'
  compare_nt_setup "setup without drivers.desc"
  report_mismatches
}

# The setup, then the remover, on both.
compare_nt_setup() {  # case
  run_setup "$(package_dir)"
  run_native_setup
  compare_outcome "$1"
  compare_nt_keys "$1"
  run_remover "$(package_dir)"
  run_native_remover
  compare_outcome "$1, removed"
  compare_nt_keys "$1, removed"
}

# ---------------------------------------------------------------------------------------------
# The remover's further calls, each case on the same starting files on both.

# DeleteFileA: the calls in order, in one process on each side, then which of the files are left.
# held.dll is loaded by another process under Wine and locked (flock) on the native side, as a
# running video application holds its decoder.
readonly kDeletions=(
  'C:\windows\system32\plain.dll'
  'C:\windows\system32\plain.dll'
  'c:\WINDOWS\SYSTEM32\PLAIN2.DLL'
  'C:\windows\system32\dotted.dll.'
  'C:\windows\system32\nofolder\x.dll'
  'C:\windows\system32\dotted.dll\x'
  'C:\windows\system32\ro.dll'
  'C:\windows\system32\afolder'
  'C:\windows\system32\afolder\'
  'C:\windows\system32\held.dll'
  'C:\'
  ''
  '(null)'
)
readonly kDeletedFiles=(plain.dll plain2.dll dotted.dll ro.dll afolder held.dll)

# Lays the files out in a system directory.
place_deletion_files() {  # folder
  local file
  for file in plain.dll plain2.dll dotted.dll ro.dll held.dll; do
    cp "$VORN_FIXTURES/vornjixd.dll" "$1/$file"
  done
  chmod 444 "$1/ro.dll"
  mkdir -p "$1/afolder"
}

left_files() {  # folder
  local file
  for file in "${kDeletedFiles[@]}"; do [ ! -e "$1/$file" ] || echo "$file"; done
}

scenario_file_deletion() {
  use_native_build
  new_prefix win32
  new_native_machine nt
  local native_system="$native_windows_dir/SYSTEM32" holder
  place_deletion_files "$system_dir"
  place_deletion_files "$native_system"
  hold_loaded 'C:\windows\system32\held.dll'
  # The lock lives in the sleep's descriptor, so that stopping it lets go.
  (exec 9<"$native_system/held.dll" && flock 9 && exec sleep "$kHoldSeconds") >/dev/null 2>&1 &
  holder=$!
  while flock -n "$native_system/held.dll" true; do sleep 0.05; done  # until it holds it
  expect_same "what the calls returned" \
    "$(wine_call wine "${VORN_FILE_DELETER_EXE:?}" "${kDeletions[@]}" | tr -d '\r')" \
    "$(native_call "$native_calls/file_deleter" "${kDeletions[@]}" 2>/dev/null)"
  release_held
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  expect_same "the files left" "$(left_files "$system_dir")" "$(left_files "$native_system")"
  chmod 644 "$system_dir/ro.dll"
  report_mismatches
}

# RegQueryValueExA, RegDeleteValueA, RegSetValueExA: one registry_editor process per row, its calls
# separated by line feeds, on keys that start alike; then both keys listed.
readonly kNtSubKey='Software\Microsoft\Windows NT\CurrentVersion'
readonly kRegistryRows=(
  "open|$kNtSubKey\\Drivers32|3
query|t.sz|16
query|t.sz|4
query|t.sz|3
query|T.SZ|0
query|t.sz|size
query|t.sz|none
close
query|t.sz|16"
  "open|$kNtSubKey\\Drivers32|3
query|t.dword|16
query|t.dword|3
query|t.bin|4
query|t.bin|5
query|t.empty|0
query|t.multi|16
query|t.multi|4
query|t.expand|16
query|t.hi|16
query|vidc.uyvy|16
delete|t.hi
close"
  "open|$kNtSubKey\\Drivers32|3
query|t.missing|16
query|t.missing|size
query|t.missing|none
query|(null)|16
query||16
root
query|t.sz|16"
  "open|$kNtSubKey\\Drivers32|3
set|t.cut|abcd|3
query|t.cut|16
query|t.cut|3
set|t.cut2|abcd|4
query|t.cut2|4
delete|T.CUT
query|t.cut|16
delete|t.cut
close"
  "open|$kNtSubKey\\Drivers32|20006
query|t.sz|16
delete|t.missing
close
open|$kNtSubKey\\Drivers32|1
delete|t.sz
delete|t.missing
close
open|$kNtSubKey\\Drivers32|2
query|t.sz|none
delete|t.bin
delete|t.bin
set|t.new|xyz
delete|t.new
delete|t.new
close"
  "open|$kNtSubKey\\drivers.desc|3
delete|VORNJIXD.DLL
query|vornjixd.dll|size
close"
)

scenario_registry_queries() {
  use_native_build
  new_prefix win32
  new_native_machine nt
  start_registry "[$kDescriptionsKey]" '"vornjixd.dll"="VORN JIX1 Decoder"' "[$kHandlersKey]" \
    '"t.sz"="abc"' '"t.dword"=dword:01020304' '"t.bin"=hex:01,02,03,04,05' '"t.empty"=""' \
    '"t.multi"=hex(7):61,00,62,00,00' '"t.expand"=hex(2):25,61,25,00' '"t.hi"=hex(1):e9,41,00' \
    '"vidc.uyvy"="VornJixD.DLL"'
  local row calls
  for row in "${kRegistryRows[@]}"; do
    mapfile -t calls <<<"$row"
    expect_same "registry calls: ${calls[*]}" \
      "$(wine_call wine "${VORN_REGISTRY_EDITOR_EXE:?}" "${calls[@]}" | tr -d '\r')" \
      "$(native_call "$native_calls/registry_editor" "${calls[@]}" 2>/dev/null)"
  done
  compare_nt_keys "registry calls"
  report_mismatches
}

# GetPrivateProfileStringA: one profile_getter process for all rows, each SECTION KEY DEFAULT
# SIZE FILE ("_" for a blank), over the same file. A row after "|" lists cut to the buffer, where Windows ends
# the list with two zeros and Wine with one (Wine's own tests show Windows' second one): only what
# comes before the buffer's last byte is compared there.
readonly kProfileFile=$'; top\r\n[drivers32]\r\n  vidc.jix1 =  vornjixd.dll  \r\nVIDC.JIX2="quoted"\r\nvidc.q1="half\r\nvidc.q2=\'single\'\r\nnoequals\r\n; comment=x\r\n\r\nvidc.long=0123456789abcdefghij\r\nvidc.empty=\r\n[ Other ]\r\na=1\r\n[drivers32]\r\nvidc.second=2\r\n[mci]\r\n[e]\r\n; c\r\n'
readonly kProfileReads=(
  'drivers32 vidc.jix1 def 16 t.ini' 'DRIVERS32 _vidc.jix2_ def 16 t.ini'
  'drivers32 vidc.q1 def 16 t.ini' 'drivers32 vidc.q2 def 16 t.ini'
  'drivers32 noequals def 16 t.ini' 'drivers32 vidc.long def 16 t.ini'
  'drivers32 vidc.long def 0 t.ini' 'drivers32 vidc.long def 1 t.ini'
  'drivers32 vidc.long def 2 t.ini' 'drivers32 vidc.empty def 16 t.ini'
  'drivers32 vidc.missing def__ 16 t.ini' 'drivers32 vidc.missing __def 16 t.ini'
  'drivers32 vidc.missing "def"_ 16 t.ini' 'drivers32 vidc.missing (null) 16 t.ini'
  'drivers32 vidc.missing __ 16 missing.ini' 'drivers32 vidc.second def 16 t.ini'
  'other a def 16 t.ini' 'drivers32 vidc.jix1 def 16 C:\windows\T.INI'
  'drivers32 vidc.jix1 def 16 (null)' 'drivers32 ;_comment def 16 t.ini'
  'drivers32 (null) def 64 t.ini' '(null) (null) def 64 t.ini' '(null) x def 16 missing.ini'
  'mci (null) def 16 t.ini' 'e (null) def 16 t.ini' 'drivers32 (null) def 2 t.ini'
  'drivers32 vidc.jix1 def 16 C:\windows' 'drivers32 vidc.jix1 def 16 nofolder\t.ini'
  '(null) (null) def 1 t.ini'
  '| drivers32 (null) def 20 t.ini' '| (null) (null) def 10 t.ini' '| (null) (null) def 3 t.ini'
)

scenario_profile_reads() {
  use_native_build
  new_prefix win32
  new_native_machine 95
  printf '%s' "$kProfileFile" >"$windows_dir/t.ini"
  printf '%s' "$kProfileFile" >"$native_windows_dir/t.ini"
  local row words arguments=() cut=()
  for row in "${kProfileReads[@]}"; do
    if [ "${row:0:2}" = '| ' ]; then cut+=(1); row=${row:2}; else cut+=(0); fi
    read -r -a words <<<"$row"
    arguments+=("${words[@]//_/ }")  # "_" stands for a blank
  done
  local wine_lines native_lines i
  mapfile -t wine_lines < <(wine_call wine "${VORN_PROFILE_GETTER_EXE:?}" "${arguments[@]}" |
    tr -d '\r')
  mapfile -t native_lines < <(native_call "$native_calls/profile_getter" "${arguments[@]}" \
    2>/dev/null)
  for i in "${!cut[@]}"; do
    if [ "${cut[$i]}" = 1 ]; then
      expect_same "profile read (a cut list)" "${wine_lines[$i]%|*}" "${native_lines[$i]%|*}"
    else
      expect_same "profile read" "${wine_lines[$i]:-}" "${native_lines[$i]:-}"
    fi
  done
  report_mismatches
}
