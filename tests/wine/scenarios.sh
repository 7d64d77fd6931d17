# The Wine scenarios, one function each; harness.sh runs them and provides the helpers.

readonly kDecoderFiles=(vornjixd.dll vornjix2.dll)
readonly kFormats=(jix1 jix2 uyvy)  # registered as vidc.<format>

expect_nt_values() {
  expect_value "$kNtKey\\drivers.desc" vornjixd.dll "VORN JIX1 Decoder"
  expect_value "$kNtKey\\drivers.desc" vornjix2.dll "VORN JIX2 Decoder"
  expect_nt_handlers
}

expect_nt_handlers() {
  expect_value "$kNtKey\\Drivers32" vidc.jix1 vornjixd.dll
  expect_value "$kNtKey\\Drivers32" vidc.jix2 vornjix2.dll
  expect_value "$kNtKey\\Drivers32" vidc.uyvy vornjixd.dll
}

expect_profile_handlers() {
  expect_system_ini vidc.jix1=vornjixd.dll vidc.jix2=vornjix2.dll vidc.uyvy=vornjixd.dll
}

expect_no_registry_values() {  # [further reg options]
  local name
  for name in "${kDecoderFiles[@]}"; do expect_no_value "$kNtKey\\drivers.desc" "$name" "$@"; done
  for name in "${kFormats[@]}"; do expect_no_value "$kNtKey\\Drivers32" "vidc.$name" "$@"; done
}

expect_installed_files() {
  local file
  for file in "${kDecoderFiles[@]}"; do
    expect_same_file "$system_dir/$file" "$VORN_FIXTURES/$file"
  done
}

# The platform's video subsystem loads each format's decoder from the right file.
expect_probe_finds_package() {
  run_probe
  expect_probe_finds jix1 vornjixd.dll
  expect_probe_finds jix2 vornjix2.dll
  expect_probe_finds uyvy vornjixd.dll
}

expect_nothing_registered() {
  expect_no_registry_values
  expect_system_ini
  run_probe
  local format
  for format in "${kFormats[@]}"; do expect_probe_finds "$format" -; done
}

expect_nt_complete() {
  expect_eq status "$status" 0
  expect_boxes "$kComplete"
  expect_installed_files
  expect_nt_values
  expect_system_ini
  expect_probe_finds_package
}

expect_profile_complete() {
  expect_eq status "$status" 0
  expect_boxes "$kComplete"
  expect_installed_files
  expect_profile_handlers
  expect_no_registry_values
  expect_probe_finds_package
}

# The NT family on a prefix that has the drivers.desc key, as every Windows of the family has.
install_on_nt() {  # Windows version; empty for Wine's default
  new_prefix win32
  [ -z "$1" ] || set_windows_version "$1"
  add_descriptions_key
  run_setup "$(package_dir)"
}

install_on_95_family() {  # Windows version
  new_prefix win32
  set_windows_version "$1"
  run_setup "$(package_dir)"
}

scenario_nt_complete() {  # Wine's default version (Windows 7 in Wine 8)
  install_on_nt ""
  expect_nt_complete
}

scenario_nt_winxp() {
  install_on_nt winxp
  expect_nt_complete
}

scenario_nt_win10() {
  install_on_nt win10
  expect_nt_complete
}

# Before its first copy the setup has Windows load DLLs from System32 only, not from the folder
# it was started from. Wine's relay trace shows the calls the registry names for it, with their
# arguments; the run is otherwise the plain NT one.
scenario_nt_dll_search_narrowed_first() {
  new_prefix win32
  add_descriptions_key
  wine_call wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude \
    /d 'SetDefaultDllDirectories;CopyFileA' /f >/dev/null
  setup_debug=+relay run_setup "$(package_dir)"
  expect_nt_complete
  local calls  # kernel32 may hand a call on to kernelbase, which the trace then names
  calls=$(sed -n -E 's/^[0-9a-f]+:Call (KERNEL32|KERNELBASE)\.(SetDefaultDllDirectories\([^)]*\)|CopyFileA).*/\2/p' \
    "$setup_trace" | tr '\n' ' ')
  expect_eq "relayed calls" "$calls" "SetDefaultDllDirectories(00000800) CopyFileA CopyFileA "
}

scenario_nt_without_descriptions_key() {
  new_prefix win32
  run_setup "$(package_dir)"
  expect_eq status "$status" 0
  expect_boxes "$kNotComplete"
  expect_installed_files
  expect_nt_handlers
  expect_no_key "$kNtKey\\drivers.desc"
  expect_probe_finds_package
}

# A 32-bit setup on 64-bit Windows: redirected to syswow64 and the 32-bit registry view, which
# is where 32-bit video applications look.
scenario_nt_64bit_windows() {
  new_prefix win64
  add_descriptions_key
  run_setup "$(package_dir)"
  expect_nt_complete
  local file
  for file in "${kDecoderFiles[@]}"; do expect_no_file "$windows_dir/system32/$file"; done
  expect_no_registry_values /reg:64
}

scenario_profile_win95() {
  install_on_95_family win95
  expect_profile_complete
}

scenario_profile_win98() {
  install_on_95_family win98
  expect_profile_complete
}

scenario_win31_wrong_version() {
  new_prefix win32
  set_windows_version win31
  add_descriptions_key
  run_setup "$(package_dir)"
  expect_eq status "$status" 2
  expect_boxes "$kWrongVersion"
  expect_installed_files
  expect_nothing_registered
}

scenario_second_file_missing() {
  new_prefix win32
  add_descriptions_key
  local dir
  dir=$(package_dir)
  rm "$dir/vornjix2.dll"
  run_setup "$dir"
  expect_eq status "$status" 1
  expect_boxes "$kInUse"
  expect_same_file "$system_dir/vornjixd.dll" "$VORN_FIXTURES/vornjixd.dll"
  expect_no_file "$system_dir/vornjix2.dll"
  expect_nothing_registered
}

# Only the second file decides: without the first, the setup registers both and says complete.
scenario_first_file_missing() {
  new_prefix win32
  add_descriptions_key
  local dir
  dir=$(package_dir)
  rm "$dir/vornjixd.dll"
  run_setup "$dir"
  expect_eq status "$status" 0
  expect_boxes "$kComplete"
  expect_no_file "$system_dir/vornjixd.dll"
  expect_same_file "$system_dir/vornjix2.dll" "$VORN_FIXTURES/vornjix2.dll"
  expect_nt_values
}

# Older copies: each decoder's place holds the other decoder, a working DLL of different bytes.
scenario_older_copies_replaced() {
  new_prefix win32
  add_descriptions_key
  cp "$VORN_FIXTURES/vornjix2.dll" "$system_dir/vornjixd.dll"
  cp "$VORN_FIXTURES/vornjixd.dll" "$system_dir/vornjix2.dll"
  run_setup "$(package_dir)"
  expect_nt_complete
}

# A second run on the same machine says the same and changes nothing.
run_twice() {
  local dir before
  dir=$(package_dir)
  run_setup "$dir"
  before=$(registration_snapshot)
  run_setup "$dir"
  expect_eq "second run changed the registration" "$(registration_snapshot)" "$before"
}

scenario_second_run_nt() {
  new_prefix win32
  add_descriptions_key
  run_twice
  expect_nt_complete
}

scenario_second_run_win98() {
  new_prefix win32
  set_windows_version win98
  run_twice
  expect_profile_complete
}

scenario_arguments_ignored() {
  new_prefix win32
  add_descriptions_key
  run_setup "$(package_dir)" /u /uninstall -s 'C:\elsewhere' vornjixd.dll
  expect_nt_complete
}

# Another process has the installed second decoder loaded: Wine, like Windows, refuses to copy
# over it. The installed copy (here the first decoder's bytes, to tell it apart) stays.
scenario_second_decoder_in_use() {
  new_prefix win32
  add_descriptions_key
  cp "$VORN_FIXTURES/vornjixd.dll" "$system_dir/vornjix2.dll"
  hold_loaded 'C:\windows\system32\vornjix2.dll'
  run_setup "$(package_dir)"
  release_held
  expect_eq status "$status" 1
  expect_boxes "$kInUse"
  expect_same_file "$system_dir/vornjixd.dll" "$VORN_FIXTURES/vornjixd.dll"
  expect_same_file "$system_dir/vornjix2.dll" "$VORN_FIXTURES/vornjixd.dll"
  expect_nothing_registered
}

# ---------------------------------------------------------------------------------------------
# The remover (VORN_REMOVE_EXE) after the setup: the machine as it was before the setup, other
# products' entries included.

expect_same_text() {  # what, got, expected
  [ "$2" = "$3" ] || fail "$1 differs (< got, > expected):
$(diff <(echo "$2") <(echo "$3"))"
}

# Runs the setup, then the remover: each says it is done, the machine is as it was before the
# setup, and the video subsystem finds no decoder of the package.
setup_then_remove() {
  local dir before
  dir=$(package_dir)
  before=$(machine_snapshot)
  run_setup "$dir"
  expect_eq "status of the setup" "$status" 0
  expect_boxes "$kComplete"
  run_remover "$dir"
  expect_eq status "$status" 0
  expect_boxes "$kRemoved"
  expect_same_text "the machine after the removal" "$(machine_snapshot)" "$before"
  expect_nothing_registered
}

# A second run finds nothing to remove, says so as a removal, and changes nothing.
scenario_remove_nt() {
  msi_prefix win32
  setup_then_remove
  local after
  after=$(machine_snapshot)
  run_remover "$(package_dir)"
  expect_eq "status of the second run" "$status" 0
  expect_boxes "$kRemoved"
  expect_same_text "the machine after the second run" "$(machine_snapshot)" "$after"
}

# The view the 32-bit setup wrote: syswow64 and WOW6432Node.
scenario_remove_nt_64bit() {
  msi_prefix win64
  setup_then_remove
}

scenario_remove_95_family() {
  new_prefix win32
  set_windows_version win98
  setup_then_remove
}

# Another product takes over one of our formats, and a video application holds the second
# decoder: the registration goes but the product's value, the first file goes, the second stays
# until the next run, once the application has let go.
scenario_remove_in_use_and_taken_over() {
  msi_prefix win32
  local dir
  dir=$(package_dir)
  run_setup "$dir"
  expect_nt_complete
  wine_call wine reg add "$kNtKey\\Drivers32" /v vidc.uyvy /d otheruyvy.dll /f >/dev/null
  hold_loaded 'C:\windows\system32\vornjix2.dll'
  run_remover "$dir"
  release_held
  expect_eq status "$status" 1
  expect_boxes "$kRemovalInUse"
  expect_no_file "$system_dir/vornjixd.dll"
  expect_same_file "$system_dir/vornjix2.dll" "$VORN_FIXTURES/vornjix2.dll"
  expect_no_value "$kNtKey\\drivers.desc" vornjixd.dll
  expect_no_value "$kNtKey\\Drivers32" vidc.jix2
  expect_value "$kNtKey\\Drivers32" vidc.uyvy otheruyvy.dll

  run_remover "$dir"
  expect_eq "status of the next run" "$status" 0
  expect_boxes "$kRemoved"
  expect_no_file "$system_dir/vornjix2.dll"
  expect_value "$kNtKey\\Drivers32" vidc.uyvy otheruyvy.dll
}

# Wine runs every program as an administrator; key_guard leaves both keys as Windows leaves
# them to a user who is not one, to read only. The remover then changes nothing and says so.
scenario_remove_not_administrator() {
  msi_prefix win32
  local dir after_setup output
  dir=$(package_dir)
  run_setup "$dir"
  expect_nt_complete
  after_setup=$(machine_snapshot)
  output=$(wine_call wine "${VORN_KEY_GUARD_EXE:?}" \
    'SOFTWARE\Microsoft\Windows NT\CurrentVersion\drivers.desc' \
    'SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32' | tr -d '\r') ||
    fail "key_guard: $output"
  run_remover "$dir"
  expect_eq status "$status" 0
  expect_boxes "$kNotRemoved"
  expect_same_text "the machine after the refused removal" "$(machine_snapshot)" "$after_setup"
  expect_probe_finds_package
}

# Not a test: what scripts/demo-wine shows.
scenario_demo() {
  new_prefix win32
  add_descriptions_key
  run_setup "$(package_dir)"
  local box
  for box in "${boxes[@]}"; do echo "box: \"$box\""; done
  echo "exit status: $status"
  ls -l "$system_dir"/vornjix*.dll
  wine_call wine reg query "$kNtKey\\drivers.desc" | tr -d '\r'
  wine_call wine reg query "$kNtKey\\Drivers32" | tr -d '\r'
}

# ---------------------------------------------------------------------------------------------
# The release's REGEDIT4 file (release/, VORN_REG_FILE): imported with regedit into a fresh
# Windows, it must leave both NT keys exactly as a run of the setup leaves them; the removal
# file (VORN_REMOVE_REG_FILE) takes the five values away again.

reg_file_dump_nt_keys() {  # output file: both keys' values, types and data as reg.exe lists them
  local key
  for key in drivers.desc Drivers32; do
    wine_call wine reg query "$kNtKey\\$key" | tr -d '\r'
  done >"$1"
}

scenario_reg_file_matches_setup() {
  new_prefix win32
  add_descriptions_key
  run_setup "$(package_dir)"
  expect_eq status "$status" 0
  expect_boxes "$kComplete"
  reg_file_dump_nt_keys "$work/$scenario.by-setup"
  stop_prefix

  new_prefix win32  # a fresh copy again, without the drivers.desc key: the file creates it
  cp "${VORN_REG_FILE:?}" "$WINEPREFIX/drive_c/vorn-decoders.reg"
  wine_call wine regedit /s 'C:\vorn-decoders.reg'
  expect_nt_values
  reg_file_dump_nt_keys "$work/$scenario.by-reg-file"
  diff -u "$work/$scenario.by-setup" "$work/$scenario.by-reg-file" >&2 ||
    fail "the imported file left the NT keys other than the setup did"

  # The removal file takes the five values away again, and another product's value stays.
  import_reg "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]" \
    '"vidc.othr"="other.dll"'
  local others
  others=$(wine_call wine reg query "$kNtKey\\Drivers32" | tr -d '\r' | grep -v -F vorn)
  cp "${VORN_REMOVE_REG_FILE:?}" "$WINEPREFIX/drive_c/vorn-decoders-remove.reg"
  wine_call wine regedit /s 'C:\vorn-decoders-remove.reg'
  expect_no_registry_values
  expect_same_text "Drivers32 after the removal file" \
    "$(wine_call wine reg query "$kNtKey\\Drivers32" | tr -d '\r')" "$others"
}

# ---------------------------------------------------------------------------------------------
# The Windows Installer package (release/): VORN_MSI, and VORN_MSI_NEXT, the same package a
# version later. Wine's msiexec runs the standard actions of these tables as Windows does; where
# a case rests on a Wine behaviour beyond that, it says so. Wine ends msiexec with the low byte
# of Windows' exit code, so a failure is checked as any nonzero status.

readonly kUninstallKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

msi_property() {  # package, name
  msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v name="$2" '$1 == name { print $2 }'
}

# A fresh Windows whose two keys hold a value of another program each, as every Windows has.
msi_prefix() {  # win32 or win64
  new_prefix "$1"
  import_reg "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\drivers.desc]" \
    '"other.dll"="Another Decoder"' "" \
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32]" \
    '"vidc.othr"="other.dll"'
  others=$(registration_snapshot)
}

msiexec_run() {  # msiexec's arguments, a package given as its file on the host; sets status
  local args=() arg
  for arg in "$@"; do
    if [ -f "$arg" ]; then
      cp "$arg" "$WINEPREFIX/drive_c/$(basename "$arg")"
      arg="C:\\$(basename "$arg")"
    fi
    args+=("$arg")
  done
  status=0
  wine_call wine msiexec "${args[@]}" || status=$?
}

# Installed, and listed for the inventory (Programs and Features): on 64-bit Windows in the
# 32-bit view, where Wine lists a 32-bit package.
expect_msi_installed() {  # package
  expect_installed_files
  expect_nt_values
  expect_probe_finds_package
  local product="$kUninstallKey\\$(msi_property "$1" ProductCode)"
  expect_value "$product" DisplayName "$(msi_property "$1" ProductName)"
  expect_value "$product" DisplayVersion "$(msi_property "$1" ProductVersion)"
}

expect_msi_removed() {  # package
  local file
  for file in "${kDecoderFiles[@]}"; do expect_no_file "$system_dir/$file"; done
  expect_eq "both keys after the removal" "$(registration_snapshot)" "$others"
  expect_no_key "$kUninstallKey\\$(msi_property "$1" ProductCode)"
}

scenario_msi_install() {
  msi_prefix win32
  msiexec_run /i "$VORN_MSI" /qn
  expect_eq status "$status" 0
  expect_msi_installed "$VORN_MSI"
}

# A 32-bit package on 64-bit Windows: syswow64 and the 32-bit registry view, as for the setup.
scenario_msi_install_64bit() {
  msi_prefix win64
  msiexec_run /i "$VORN_MSI" /qn
  expect_eq status "$status" 0
  expect_msi_installed "$VORN_MSI"
  local file
  for file in "${kDecoderFiles[@]}"; do expect_no_file "$windows_dir/system32/$file"; done
  expect_no_registry_values /reg:64
}

# The five values go, every other value of both keys stays, and so do both keys.
scenario_msi_remove() {
  msi_prefix win32
  msiexec_run /i "$VORN_MSI" /qn
  msiexec_run /x "$VORN_MSI" /qn /l*v 'C:\remove.log'
  expect_eq status "$status" 0
  expect_msi_removed "$VORN_MSI"
  [ -s "$WINEPREFIX/drive_c/remove.log" ] || fail "msiexec wrote no log"
}

# Wine 8's msiexec has no /f for an installed product, so the repair is asked for with the
# properties /f sets on Windows.
scenario_msi_repair() {
  msi_prefix win32
  msiexec_run /i "$VORN_MSI" /qn
  rm "$system_dir/vornjix2.dll"
  wine_call wine reg delete "$kNtKey\\Drivers32" /v vidc.jix2 /f >/dev/null
  msiexec_run /i "$VORN_MSI" REINSTALL=ALL REINSTALLMODE=amus /qn
  expect_eq status "$status" 0
  expect_msi_installed "$VORN_MSI"
}

# The newer version replaces the older one, which is then no longer listed; the older one does
# not go back over the newer.
scenario_msi_upgrade() {
  msi_prefix win32
  msiexec_run /i "$VORN_MSI" /qn
  msiexec_run /i "$VORN_MSI_NEXT" /qn
  expect_eq status "$status" 0
  expect_msi_installed "$VORN_MSI_NEXT"
  expect_no_key "$kUninstallKey\\$(msi_property "$VORN_MSI" ProductCode)"
  msiexec_run /i "$VORN_MSI" /qn
  [ "$status" -ne 0 ] || fail "the older version installed over the newer"
  expect_msi_installed "$VORN_MSI_NEXT"
}

# The 95 family reads system.ini, which the package does not write: it refuses to install.
# Rests on Wine's msi setting Version9X and not VersionNT for a 95-family version.
scenario_msi_95_family_refused() {
  msi_prefix win32
  set_windows_version win98
  msiexec_run /i "$VORN_MSI" /qn
  [ "$status" -ne 0 ] || fail "installed on the 95 family"
  expect_msi_removed "$VORN_MSI"
}
