#!/usr/bin/env bash
# The Windows Installer package as a fleet tool runs it, silently: what it holds for Windows alone
# (the log folder's DACL, the properties a non-administrator may not set), an install with the
# configuration as properties, an uninstall while the service runs, a bad value refused, an
# upgrade from an older package, a downgrade refused.
#   msi_package.sh PACKAGE PREFIX_DIR MAKE_PACKAGE...   (MAKE_PACKAGE... VERSION OUTPUT makes one)
source "$(dirname "$0")/lib.sh"
package=$(realpath "$1")
start_prefix "$2"
shift 2

version=${package##*/hingeflow-}
version=${version%-x64.msi}
older="$PREFIX/hingeflow-0.0.1-x64.msi"
folder="$PREFIX/drive_c/Program Files/hingeflow"
# Where HKEY_CURRENT_CONFIG points on Windows. Wine keeps that hive apart, so the values are
# checked where the package writes them.
PROFILE_KEY='HKLM\SYSTEM\CurrentControlSet\Hardware Profiles\Current\System\CurrentControlSet'

configuration() {
  local name
  for name in HingeflowTriggerDevice BuiltInHIDKeyboardNumber HingeflowExternalDevicesOnly \
    HingeflowServiceLogPath; do
    printf '%s|' "$(reg_value "$PROFILE_KEY" $name)"
  done
}
registration() {
  local name
  for name in ImagePath DisplayName Type Start ErrorControl ObjectName DependOnService; do
    printf '%s|' "$(reg_value "$SERVICE_KEY" $name)"
  done
}
# The versions of hingeflow that Windows lists as installed programs.
installed_versions() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null |
    tr -d '\r' | awk -F'    ' '/^HKEY/ { name = "" } $2 == "DisplayName" { name = $4 }
                               $2 == "DisplayVersion" && name == "hingeflow" { print $4 }'
}
service_process_alive() { prefix_processes "$PREFIX" | grep 'hingeflow\\hingeflow.exe' >/dev/null; }
service_gone() { ! service_process_alive && key_absent "$SERVICE_KEY"; }
EVENT_SOURCE_KEY='HKLM\System\CurrentControlSet\Services\EventLog\Application\HingeflowService'

registered='"C:\Program Files\hingeflow\hingeflow.exe"|hingeflow tirgger service|0x10|0x2|0x1|LocalSystem||'
configured='keyboard|0x2|0x1|C:\hingeflow logs\service.log|'

# table NAME: the rows of one of the package's tables, without the three header lines.
table() { msiinfo export "$package" "$1" | tr -d '\r' | tail -n +4; }

echo "== what the package holds"
# Wine's msi does not apply this table: its content is checked here, its effect only Windows shows.
check "locks the log folder: SYSTEM's, full control for SYSTEM and Administrators, Users read" \
  equals $'LogFolder\tLOGFOLDER\tCreateFolder\tO:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)\t' \
  "$(table MsiLockPermissionsEx)"
check "has no LockPermissions table beside it" \
  equals "" "$(msiinfo tables "$package" | tr -d '\r' | grep -x LockPermissions || true)"
check "takes LOGPATH from an administrator's installation only" \
  equals $'SecureCustomProperties\tOLDERHINGEFLOW;NEWERHINGEFLOW;TRIGGERDEVICE;BUILTINKEYBOARDS;EXTERNALONLY' \
  "$(table Property | grep '^SecureCustomProperties' || true)"

echo "== silent install with the configuration"
msiexec /i "$(winepath -w "$package")" TRIGGERDEVICE=keyboard BUILTINKEYBOARDS=2 EXTERNALONLY=1 \
  'LOGPATH=C:\hingeflow logs\service.log'
check "exits with 0" equals 0 "$RC"
check "puts the executable in Program Files" [ -f "$folder/hingeflow.exe" ]
check "makes the suggested log folder" [ -d "$PREFIX/drive_c/ProgramData/hingeflow" ]
check "registers the service as hingeflow.exe install does" equals "$registered" "$(registration)"
check "writes the four values, the numbers as REG_DWORDs" equals "$configured" "$(configuration)"
check "starts the service" wait_for_state HingeflowService 4 10
check "its process is alive" service_process_alive
check "registers the event source in the installed executable" \
  equals 'C:\Program Files\hingeflow\hingeflow.exe' "$(reg_value "$EVENT_SOURCE_KEY" EventMessageFile)"
check "lists the product" equals "$version" "$(installed_versions)"

echo "== silent uninstall while the service runs"
msiexec /x "$(winepath -w "$package")"
check "exits with 0" equals 0 "$RC"
check "stops and deletes the service" eventually 10 service_gone
check "removes the executable and its folder" [ ! -e "$folder" ]
check "removes the event source" key_absent "$EVENT_SOURCE_KEY"
check "no longer lists the product" equals "" "$(installed_versions)"
check "leaves the configuration" equals "$configured" "$(configuration)"

echo "== a value that cannot be a number of keyboards"
for value in two -1 1.5 ' 3'; do
  msiexec /i "$(winepath -w "$package")" "BUILTINKEYBOARDS=$value" TRIGGERDEVICE=mouse
  check "BUILTINKEYBOARDS='$value' is refused" equals 67 "$RC"
done
for value in yes 2; do
  msiexec /i "$(winepath -w "$package")" "EXTERNALONLY=$value"
  check "EXTERNALONLY='$value' is refused" equals 67 "$RC"
done
check "installs no file" [ ! -e "$folder" ]
check "registers no service" key_absent "$SERVICE_KEY"
check "lists no product" equals "" "$(installed_versions)"
check "writes no value" equals "$configured" "$(configuration)"

echo "== upgrade from an older package"
"$@" 0.0.1 "$older" >/dev/null
msiexec /i "$(winepath -w "$older")" TRIGGERDEVICE=mouse BUILTINKEYBOARDS=1
check "the older package installs" equals 0 "$RC"
msiexec /i "$(winepath -w "$package")" 'LOGPATH=C:\logs\new.log' EXTERNALONLY=0
check "exits with 0" equals 0 "$RC"
check "replaces the older version" equals "$version" "$(installed_versions)"
check "keeps the values it is not given, writes those it is: the mode turned off with 0" \
  equals 'mouse|0x1|0x0|C:\logs\new.log|' "$(configuration)"
check "registers the service as before" equals "$registered" "$(registration)"
check "and its event source, which the older version's removal took away" \
  equals 'C:\Program Files\hingeflow\hingeflow.exe' "$(reg_value "$EVENT_SOURCE_KEY" EventMessageFile)"
check "starts it" wait_for_state HingeflowService 4 10

echo "== downgrade"
msiexec /i "$(winepath -w "$older")"
check "is refused" equals 67 "$RC"
check "the newer version stays" equals "$version" "$(installed_versions)"
check "the service still runs" equals 4 "$(service_state HingeflowService)"
