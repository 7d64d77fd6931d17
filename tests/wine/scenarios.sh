# The Wine scenarios, one function each; harness.sh runs them and provides the helpers.

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

expect_installed_files() {
  expect_same_file "$system_dir/vornjixd.dll" "$VORN_FIXTURES/vornjixd.dll"
  expect_same_file "$system_dir/vornjix2.dll" "$VORN_FIXTURES/vornjix2.dll"
}

scenario_nt_complete() {
  new_prefix win32
  add_descriptions_key
  run_setup "$(package_dir)"
  expect_eq status "$status" 0
  expect_boxes "$kComplete"
  expect_installed_files
  expect_nt_values
}

scenario_nt_without_descriptions_key() {
  new_prefix win32
  run_setup "$(package_dir)"
  expect_eq status "$status" 0
  expect_boxes "$kNotComplete"
  expect_installed_files
  expect_nt_handlers
}

# Not a test: what scripts/demo shows.
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
# Windows, it must leave both NT keys exactly as a run of the setup leaves them.

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
  wine_call wineserver -k || true

  new_prefix win32  # a fresh copy again, without the drivers.desc key: the file creates it
  cp "${VORN_REG_FILE:?}" "$WINEPREFIX/drive_c/vorn-decoders.reg"
  wine_call wine regedit /s 'C:\vorn-decoders.reg'
  wine_call wineserver -w
  expect_nt_values
  reg_file_dump_nt_keys "$work/$scenario.by-reg-file"
  diff -u "$work/$scenario.by-setup" "$work/$scenario.by-reg-file" >&2 ||
    fail "the imported file left the NT keys other than the setup did"
}
