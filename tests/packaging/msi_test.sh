#!/usr/bin/env bash
# Installs the Windows installer under Wine, in a fresh 64-bit prefix of its own, and checks
# what it did on the machine rather than its exit code (a Wine installer can exit 0 having done
# nothing): the files, the service manager's record of the service (quoted path, description),
# its event source, the running service answering pelluxctl, the settings and the client id.
#
# The package is built here from packaging/windows/pellux.wxs with the x86_64 programs and
# pellux_setup.dll of the x86_64 build (wixl -a x64, Program Files): this machine's 64-bit Wine
# runs no i686 program. The shipped x86 package is checked by its tables (scenario x86-tables).
#
#   msi_test.sh SCENARIO WORK WIN64_BUILD WIN32_BUILD SETUP_DLL
#
# SCENARIO: install, no-vendor, hostile, uninstall, upgrade, upload, x86-tables. WORK is emptied first.
# WIN64_BUILD gives uplinker.exe, pelluxctl.exe, rebooter64.exe, the x86_64 stand-ins of the
# bridge libraries (stand_in/) and the reference server (sim/pellux-reference-server.exe); WIN32_BUILD gives rebooter.exe and, for x86-tables,
# pellux_setup.dll; SETUP_DLL is the x86_64 build's.
set -uo pipefail

if [ $# -ne 5 ]; then
  echo "usage: msi_test.sh SCENARIO WORK WIN64_BUILD WIN32_BUILD SETUP_DLL" >&2
  exit 2
fi
scenario=$1
work=$(readlink -m "$2")
win64=$(readlink -m "$3")
win32=$(readlink -m "$4")
setup=$(readlink -m "$5")
source_tree=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
version=$(sed -n 's/^project(Pellux VERSION \([0-9]*\.[0-9]*\.[0-9]*\).*/\1/p' \
  "$source_tree/CMakeLists.txt")

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX="$work/prefix"
# The event log's reports, with their ids, reach the error stream of the server's first
# process; every Wine command here appends its error stream to one file.
export WINEDEBUG=-all,+eventlog,fixme+advapi
debug="$work/wine-debug.txt"

program_folder='C:\Program Files\Pellux'
unix_folder="$WINEPREFIX/drive_c/Program Files/Pellux"
services_key='HKLM\System\CurrentControlSet\Services\Pellux'
event_source_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\Pellux'
settings_key='HKLM\Software\Pellux\Tracker'
libraries=(DSI_SiUSBXp_3_1.DLL DSI_CP210xManufacturing_3_1.dll libusb0.dll)

fail() {
  echo "FAIL ($scenario): $*" >&2
  exit 1
}
note() {
  echo "== $*"
}

cleanup() {
  "$WINESERVER" -k 2>/dev/null
}
trap cleanup EXIT

wine() {
  "$WINE" "$@" 2>>"$debug"
}

# A Unix path as Wine's Z: drive names it.
winpath() {
  local path
  path=$(readlink -f "$1")
  echo "Z:${path//\//\\}"
}

# The data of one registry value, or nothing when the key or the value is missing.
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
reg_key_exists() {
  wine reg query "$1" >/dev/null 2>&1
}

# msiexec /i PACKAGE [PROPERTY=VALUE...] with a verbose log in LOG (a Unix path).
msi_install() {
  local package=$1 log=$2
  shift 2
  note "msiexec /i $(basename "$package") $*"
  wine msiexec /i "$(winpath "$package")" /qn /l*v "$(winpath "$log")" "$@"
  echo "   exit $?"
  [ -f "$log" ] || fail "msiexec wrote no log $log"
}
msi_remove() {
  local package=$1 log=$2
  note "msiexec /x $(basename "$package")"
  wine msiexec /x "$(winpath "$package")" /qn /l*v "$(winpath "$log")"
  echo "   exit $?"
  [ -f "$log" ] || fail "msiexec wrote no log $log"
}
log_says() {
  grep -a -q -F -- "$2" "$1" || fail "the installer's log $1 does not say: $2"
}

# The service as the service manager has it: RUNNING within 30 s.
wait_running() {
  local state=""
  for _ in $(seq 60); do
    state=$(wine sc query Pellux | tr -d '\r' | sed -n 's/^ *STATE *: *[0-9]* *//p')
    [ "$state" = RUNNING ] && return 0
    sleep 0.5
  done
  fail "the service Pellux is not running (state: ${state:-none})"
}

expect_installed() {
  for file in uplinker.exe rebooter.exe rebooter64.exe pelluxctl.exe html_templates/standard_error.tpl; do
    [ -f "$unix_folder/$file" ] || fail "$program_folder holds no $file"
    cmp -s "$unix_folder/$file" "$work/Pellux/$file" || fail "$program_folder\\$file is not the shipped one"
  done
  local image
  image=$(reg_value "$services_key" ImagePath)
  [ "$image" = "\"$program_folder\\uplinker.exe\"" ] ||
    fail "the service's ImagePath is [$image], not the program's quoted path"
  [ "$(reg_value "$services_key" DisplayName)" = "Pellux Data Uploader" ] ||
    fail "the service has no display name"
  reg_value "$services_key" Description | grep -q "Pellux" || fail "the service has no description"
  [ "$(reg_value "$services_key" Start)" = 0x2 ] || fail "the service does not start automatically"
  [ "$(reg_value "$event_source_key" EventMessageFile)" = "$program_folder\\uplinker.exe" ] ||
    fail "the event source Pellux does not name the program as its message file"
  wait_running
  local status
  status=$(wine "$program_folder\\pelluxctl.exe" status | tr -d '\r')
  echo "$status" | grep -q "^base station:" || fail "pelluxctl status got no answer: $status"
  [ -d "$WINEPREFIX/drive_c/ProgramData/Pellux/Tracker/logs" ] ||
    fail "no activity log folder ProgramData\\Pellux\\Tracker\\logs"
  note "installed: files, service (quoted path, description, event source) running, pelluxctl answers"
}

expect_libraries() {
  for library in "${libraries[@]}"; do
    cmp -s "$unix_folder/$library" "$win64/stand_in/$library" ||
      fail "$program_folder holds no copy of $library"
  done
}

expect_no_library() {
  for library in "${libraries[@]}"; do
    [ ! -e "$unix_folder/$library" ] || fail "$program_folder holds $library, which was not given"
  done
}

expect_removed() {
  reg_key_exists "$services_key" && fail "the service Pellux is still registered"
  reg_key_exists "$event_source_key" && fail "the event source Pellux is still registered"
  [ ! -e "$unix_folder" ] || fail "$program_folder is still there: $(ls -A "$unix_folder")"
  note "removed: no service, no event source, no program folder"
}

# The client id, once the service has made it (it reads its client settings at start).
client_id() {
  local id=""
  for _ in $(seq 40); do
    id=$(reg_value "$settings_key" ClientId)
    [ -n "$id" ] && break
    sleep 0.5
  done
  echo "$id"
}

product_registered() {
  reg_key_exists "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{$1}"
}
product_code() {
  sed -n 's/.*product {\([0-9A-F-]*\)}.*/\1/p' "$work/make-msi-$1.txt"
}

# The x86_64 folder and package of this version (and of another for the upgrade).
build_package() {
  local package_version=$1
  "$source_tree/scripts/make-msi.sh" x64 "$work/Pellux" "$setup" "$work/msi" "$package_version" \
    >"$work/make-msi-$package_version.txt" || fail "make-msi.sh failed"
  echo "$work/msi/pellux-$package_version-x64.msi"
}

prepare() {
  rm -rf "$work"
  mkdir -p "$work"
  for file in "$win64/service/uplinker.exe" "$win64/tools/pelluxctl/pelluxctl.exe" \
      "$win64/service/rebooter64.exe" "$win32/service/rebooter.exe" "$setup"; do
    [ -f "$file" ] || fail "$file is missing (make win64 win32 builds it)"
  done
  "$source_tree/scripts/make-windows-folder.sh" "$win64" "$win32" "$win64" "$work/Pellux" \
    >/dev/null || fail "make-windows-folder.sh failed"
  package=$(build_package "$version")
  "$source_tree/scripts/make-wine-prefix.sh" "$WINEPREFIX" >/dev/null || fail "no Wine prefix"
  : >"$debug"
}

scenario_install() {
  prepare
  msi_install "$package" "$work/install.log" "VENDORDIR=$(winpath "$win64/stand_in")"
  log_says "$work/install.log" "RegisterService: the service Pellux is registered as \"$program_folder\\uplinker.exe\""
  log_says "$work/install.log" "CreateDataFolder: the activity log's folder C:\\ProgramData\\Pellux\\Tracker\\logs is there"
  expect_installed
  expect_libraries
  for library in "${libraries[@]}"; do
    log_says "$work/install.log" "CopyVendorLibraries: copied $(winpath "$win64/stand_in")\\$library to $program_folder\\$library"
  done
  # The service was installed (event 100) and started (event 105).
  grep -a -q 'ReportEventA (.*,0x00000064,' "$debug" || fail "no event 100 (installed) was reported"
  grep -a -q 'ReportEventA (.*,0x00000069,' "$debug" || fail "no event 105 (started) was reported"
  # With every library there, none is reported missing (event 113).
  ! grep -a -q 'ReportEventA (.*,0x00000071,' "$debug" || fail "a library given was reported missing"
}

scenario_no_vendor() {
  prepare
  # An administrator's settings from before: the activity log switched on, kept for a day.
  wine reg add "$settings_key" /v LogActivity /t REG_DWORD /d 1 /f >/dev/null
  wine reg add "$settings_key" /v MaxLogDays /t REG_DWORD /d 1 /f >/dev/null
  msi_install "$package" "$work/install.log"
  log_says "$work/install.log" "CopyVendorLibraries: no VENDORDIR given: no bridge library copied; the service looks for them in $program_folder\\"
  expect_installed
  expect_no_library
  # The service says, for each library, which file it looked for and where: in the event log
  # (event 113) and in its activity log.
  local reports
  reports=$(grep -a -c 'ReportEventA (.*,0x00000071,' "$debug")
  [ "$reports" -eq 3 ] || fail "the service reported $reports missing libraries (event 113), not 3"
  local logged=""
  for _ in $(seq 20); do
    logged=$(cat "$WINEPREFIX"/drive_c/ProgramData/Pellux/Tracker/logs/* 2>/dev/null | tr -d '\r')
    echo "$logged" | grep -q "libusb0.dll" && break
    sleep 0.5
  done
  for library in "${libraries[@]}"; do
    echo "$logged" | grep -q -F "$library is not in $program_folder\\" ||
      fail "the activity log does not say that $library is missing from $program_folder"
  done
  note "the service reports each missing library with its folder, in the event log and its log"
}

scenario_hostile() {
  prepare
  # A vendor folder of things that are no usable library: a folder, a text, an i686 program.
  local vendor="$work/vendor"
  mkdir -p "$vendor/DSI_SiUSBXp_3_1.DLL"
  echo "not a library" >"$vendor/DSI_CP210xManufacturing_3_1.dll"
  cp "$win32/service/rebooter.exe" "$vendor/libusb0.dll"
  # The program folder is the package's own, whatever the command line names.
  msi_install "$package" "$work/install.log" "VENDORDIR=$(winpath "$vendor")" \
    'ProgramFolder=C:\users\Public\Pellux' 'TARGETDIR=C:\users\Public\target' \
    'INSTALLDIR=C:\users\Public\install' 'PROGRAMFOLDER=C:\users\Public\upper'
  expect_installed
  expect_no_library
  for folder in Pellux target install upper; do
    [ ! -e "$WINEPREFIX/drive_c/users/Public/$folder" ] || fail "something was put in C:\\users\\Public\\$folder"
  done
  log_says "$work/install.log" "$(winpath "$vendor")\\DSI_SiUSBXp_3_1.DLL is a folder or a link, not a library: not copied"
  log_says "$work/install.log" "$(winpath "$vendor")\\DSI_CP210xManufacturing_3_1.dll is no Windows library (no PE image header): not copied"
  log_says "$work/install.log" "$(winpath "$vendor")\\libusb0.dll is built for i386, the service for x86-64: not copied"
  msi_remove "$package" "$work/remove.log"
  expect_removed

  # VENDORDIR values that name no usable folder: each refused with its reason, and the service
  # installed and running all the same.
  local -a values=(
    'relative\vendor'
    'C:\vendor|C:\windows'
    "$(winpath "$win64/stand_in")\\..\\stand_in"
    '\\.\pipe\PelluxService'
    "$(winpath "$win64/stand_in"):stream"
    "C:\\$(printf 'a%.0s' $(seq 300))"
    'C:\no\such\folder'
  )
  local -a reasons=(
    "is no absolute path"
    "holds a character no Windows path may hold"
    "has a \".\" or \"..\" step"
    "has a \".\" or \"..\" step"
    "holds a ':' past its drive"
    "is longer than 200 characters"
    "VENDORDIR C:\\no\\such\\folder\\ is no folder (GetFileAttributesW(C:\\no\\such\\folder\\) failed: error 3"
  )
  for i in "${!values[@]}"; do
    local log="$work/install-$i.log"
    msi_install "$package" "$log" "VENDORDIR=${values[$i]}"
    log_says "$log" "${reasons[$i]}"
    expect_installed
    expect_no_library
    msi_remove "$package" "$work/remove-$i.log"
    expect_removed
  done

  # The remembered folder is checked as a given one: one written there by hand is refused too.
  wine reg add 'HKLM\Software\Pellux\Setup' /v VendorFolder /t REG_SZ /d 'C:\a|b\..' /f >/dev/null
  msi_install "$package" "$work/install-remembered.log"
  log_says "$work/install-remembered.log" "VENDORDIR refused, no bridge library copied: the folder name holds a character no Windows path may hold"
  expect_installed
  expect_no_library
  msi_remove "$package" "$work/remove-remembered.log"
  expect_removed
}

scenario_uninstall() {
  prepare
  msi_install "$package" "$work/install.log" "VENDORDIR=$(winpath "$win64/stand_in")"
  expect_installed
  local id
  id=$(client_id)
  [ -n "$id" ] || fail "the service made no client id"
  wine reg add "$settings_key" /v LogActivity /t REG_DWORD /d 1 /f >/dev/null
  msi_remove "$package" "$work/remove.log"
  log_says "$work/remove.log" "UnregisterService: the service Pellux is removed"
  expect_removed
  [ "$(reg_value "$settings_key" ClientId)" = "$id" ] || fail "the client id did not survive the removal"
  [ "$(reg_value "$settings_key" LogActivity)" = 0x1 ] || fail "the settings did not survive the removal"
  [ -d "$WINEPREFIX/drive_c/ProgramData/Pellux/Tracker/logs" ] || fail "the activity log's folder went"
  note "settings and client id $id kept"
}

scenario_upgrade() {
  prepare
  local older=$package
  local newer_version
  newer_version=$(echo "$version" | awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }')
  local newer
  newer=$(build_package "$newer_version")
  msi_install "$older" "$work/install-older.log" "VENDORDIR=$(winpath "$win64/stand_in")"
  expect_installed
  local id
  id=$(client_id)
  [ -n "$id" ] || fail "the service made no client id"
  product_registered "$(product_code "$version")" || fail "version $version is not registered"

  local vendor
  vendor="$(winpath "$win64/stand_in")\\"
  [ "$(reg_value 'HKLM\Software\Pellux\Setup' VendorFolder)" = "$vendor" ] ||
    fail "VENDORDIR is not remembered"

  # The newer version, without VENDORDIR: it replaces the older and copies the libraries again
  # from the remembered folder.
  msi_install "$newer" "$work/install-newer.log"
  log_says "$work/install-newer.log" "RegisterService: the service Pellux is registered as"
  log_says "$work/install-newer.log" "CopyVendorLibraries: copied ${vendor}libusb0.dll"
  expect_installed
  expect_libraries
  product_registered "$(product_code "$version")" && fail "version $version is still registered beside $newer_version"
  product_registered "$(product_code "$newer_version")" || fail "version $newer_version is not registered"
  [ "$(reg_value "$settings_key" ClientId)" = "$id" ] || fail "the client id changed with the upgrade"

  # The same version again is the same product: nothing is installed twice.
  msi_install "$newer" "$work/install-again.log"
  expect_installed
  [ "$(reg_value "$settings_key" ClientId)" = "$id" ] || fail "the client id changed on installing again"

  msi_remove "$newer" "$work/remove.log"
  expect_removed
  msi_install "$older" "$work/install-after.log"
  expect_installed
  expect_libraries
  [ "$(reg_value "$settings_key" ClientId)" = "$id" ] || fail "the client id changed on installing after a removal"
  note "upgrade, installing again and after a removal keep client id $id"
}

# The installed service at work: with the stand-ins as the vendor's libraries (their file in the
# program folder attaches a virtual base station with its tracker), it links the tracker and
# posts its session to the reference server (the x86_64 build's, under Wine in the same prefix).
scenario_upload() {
  prepare
  local server="$win64/sim/pellux-reference-server.exe"
  [ -f "$server" ] || fail "$server is missing (make win64 builds it)"
  printf '%s\n' \
    '<p><response host="{host}" port="{port}" path="/done"/><clientDisplay><message>Upload complete.</message></clientDisplay><device action="close" sleepPeriod="15"/></p>' \
    '---' \
    '<p><device action="close"/></p>' >"$work/scenario.txt"
  "$WINE" "$server" --scenario "$(winpath "$work/scenario.txt")" >"$work/server.txt" 2>>"$debug" &
  local port=""
  for _ in $(seq 60); do
    port=$(tr -d '\r' <"$work/server.txt" | sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p')
    [ -n "$port" ] && break
    sleep 0.5
  done
  [ -n "$port" ] || fail "the reference server did not start"
  # An administrator's settings from before: the server, and the activity log on.
  wine reg add "$settings_key" /v ServerHost /t REG_SZ /d 127.0.0.1 /f >/dev/null
  wine reg add "$settings_key" /v ServerPort /t REG_DWORD /d "$port" /f >/dev/null
  wine reg add "$settings_key" /v ErrorHost /t REG_SZ /d 127.0.0.1 /f >/dev/null
  wine reg add "$settings_key" /v ErrorPort /t REG_DWORD /d "$port" /f >/dev/null
  wine reg add "$settings_key" /v LogActivity /t REG_DWORD /d 1 /f >/dev/null
  wine reg add "$settings_key" /v MaxLogDays /t REG_DWORD /d 1 /f >/dev/null
  msi_install "$package" "$work/install.log" "VENDORDIR=$(winpath "$win64/stand_in")"
  expect_installed
  expect_libraries
  # The base station plugged in: the stand-ins read their file at their first call, in the
  # service's next start.
  printf '%s' '{"DSI_SiUSBXp_3_1.DLL": [{"command": "attach", "serial": "7703155", "stationSerial": 7703155}], "libusb0.dll": [{"command": "bus", "busses": []}]}' \
    >"$unix_folder/PelluxStandIn.json"
  wine "$program_folder\\uplinker.exe" /P >/dev/null
  wine "$program_folder\\uplinker.exe" /S >/dev/null
  wait_running
  local posts=0
  for _ in $(seq 120); do
    posts=$(grep -c '^POST ' "$work/server.txt")
    [ "$posts" -ge 2 ] && break
    sleep 0.5
  done
  [ "$posts" -ge 2 ] || fail "the service posted $posts request(s), not its session; the server saw: $(cat "$work/server.txt")"
  local status
  status=$(wine "$program_folder\\pelluxctl.exe" status | tr -d '\r')
  echo "$status" | grep -Eq "^base station: +open, " || fail "pelluxctl status says: $status"
  # The doctor of the installed service: the service, its pipe, the libraries copied from
  # VENDORDIR and the server hold; the station (a virtual one, not in the device manager) and
  # the data folder (Wine keeps no access list on this file system) are only shown.
  local doctor
  doctor=$(wine "$program_folder\\pelluxctl.exe" doctor | tr -d '\r' || true)
  for check in "service" "daemon" "bridge library DSI_SiUSBXp_3_1.DLL" \
    "bridge library DSI_CP210xManufacturing_3_1.dll" "bridge library libusb0.dll" "upload server"; do
    echo "$doctor" | grep -q "^OK    $check: " || fail "pelluxctl doctor says of $check: $doctor"
  done
  printf 'pelluxctl doctor:\n%s\n' "$doctor"
  rm -f "$unix_folder/PelluxStandIn.json"
  msi_remove "$package" "$work/remove.log"
  expect_removed
  note "installed service uploaded its session ($posts requests) and pelluxctl saw the station open"
}

# The shipped package, as built by `make msi`: what 64-bit Windows reads from its tables.
scenario_x86_tables() {
  rm -rf "$work"
  mkdir -p "$work"
  local setup32="$win32/packaging/windows/pellux_setup.dll"
  [ -f "$setup32" ] || fail "$setup32 is missing (make win32 builds it)"
  "$source_tree/scripts/make-windows-folder.sh" "$win32" "$win32" "$win64" "$work/Pellux" \
    >/dev/null || fail "make-windows-folder.sh failed"
  "$source_tree/scripts/make-msi.sh" x86 "$work/Pellux" "$setup32" "$work/msi" >/dev/null ||
    fail "make-msi.sh failed"
  local package="$work/msi/pellux-$version.msi"
  [ -f "$package" ] || fail "no $package"
  msiinfo suminfo "$package" | grep -q '^Template: Intel;1033$' || fail "the package is not for x86"
  mkdir -p "$work/tables"
  # The tables, and the streams (below its working folder).
  (cd "$work/tables" && msidump -d "$work/tables" -t -s "$package" >/dev/null) || fail "msidump failed"
  grep -q -P '^ProgramFolder\tProgramFilesFolder\tPellux\r?$' "$work/tables/Directory.idt" ||
    fail "the program folder is not [ProgramFilesFolder]Pellux"
  local files
  files=$(tail -n +4 "$work/tables/File.idt" | cut -f3 | tr -d '\r' | sort | tr '\n' ' ')
  [ "$files" = "pelluxctl.exe rebooter.exe rebooter64.exe standard_error.tpl uplinker.exe " ] ||
    fail "the package's files are [$files]"
  # No component of the 64-bit view (attribute 256).
  for attributes in $(tail -n +4 "$work/tables/Component.idt" | cut -f4 | tr -d '\r'); do
    (( (attributes & 256) == 0 )) || fail "a component is marked 64-bit"
  done
  local binary
  binary=$(find "$work/tables" -name 'Binary.SetupActions' | head -1)
  [ -n "$binary" ] || fail "the package carries no SetupActions binary"
  x86_64-w64-mingw32-objdump -f "$binary" | grep -q 'file format pei-i386' ||
    fail "the package's actions are not an i686 library"
  for program in uplinker.exe pelluxctl.exe rebooter.exe; do
    x86_64-w64-mingw32-objdump -f "$work/Pellux/$program" | grep -q 'file format pei-i386' ||
      fail "$program is not an i686 program"
  done
  x86_64-w64-mingw32-objdump -f "$work/Pellux/rebooter64.exe" | grep -q 'file format pei-x86-64' ||
    fail "rebooter64.exe is not an x86_64 program"
  note "x86 package: Program Files (x86)\\Pellux, 32-bit components, i686 programs and actions, rebooter64.exe x86_64"
}

case "$scenario" in
  install) scenario_install ;;
  no-vendor) scenario_no_vendor ;;
  hostile) scenario_hostile ;;
  uninstall) scenario_uninstall ;;
  upgrade) scenario_upgrade ;;
  upload) scenario_upload ;;
  x86-tables) scenario_x86_tables ;;
  *) echo "msi_test.sh: no scenario $scenario" >&2; exit 2 ;;
esac
echo "PASSED ($scenario)"
