#!/usr/bin/env bash
# hingeflow.exe as an administrator uses it: installed from a folder whose path has spaces,
# started by the SCM, removed while running, removed again.
#   service_lifecycle.sh HINGEFLOW_EXE PREFIX_DIR
source "$(dirname "$0")/lib.sh"
start_prefix "$2"

folder="$PREFIX/drive_c/Program Files/hingeflow e2e"
exe="$folder/hingeflow.exe"
mkdir -p "$folder" "$PREFIX/drive_c/hingeflow logs"
cp "$1" "$exe"
log="$PREFIX/drive_c/hingeflow logs/service.log"
SOURCE_KEY='HKLM\System\CurrentControlSet\Services\EventLog\Application\HingeflowService'
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ /d 'C:\hingeflow logs\service.log' \
  /f >/dev/null

service_process_alive() { prefix_processes "$PREFIX" | grep 'hingeflow e2e\\hingeflow.exe' >/dev/null; }
wait_until_gone() {
  local deadline=$((SECONDS + $1))
  while service_process_alive; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

echo "== install"
run_exe "$exe" install
# Wine has no required privileges and keeps no failure actions for a stop with an error (124):
# a line says so for each, and the installation stands.
check "prints the install lines" \
  equals $'Installing service\nCouldn\'t set required privileges: 124\nCouldn\'t set failure actions for a stop with an error: 124\nService installed' "$OUT"
check "exits with 0" equals 0 "$RC"
check "registers the quoted path" \
  equals '"C:\Program Files\hingeflow e2e\hingeflow.exe"' "$(reg_value "$SERVICE_KEY" ImagePath)"
check "registers the display name" \
  equals 'hingeflow tirgger service' "$(reg_value "$SERVICE_KEY" DisplayName)"
check "registers an own-process service" equals 0x10 "$(reg_value "$SERVICE_KEY" Type)"
check "registers automatic start" equals 0x2 "$(reg_value "$SERVICE_KEY" Start)"
check "registers normal error control" equals 0x1 "$(reg_value "$SERVICE_KEY" ErrorControl)"
check "registers no dependencies" equals "" "$(reg_value "$SERVICE_KEY" DependOnService || true)"
check "describes what the service does" \
  matches 'Switches Windows between tablet and laptop mode *hinge sensor.' \
  "$(reg_value "$SERVICE_KEY" Description)"
check "registers the event source's messages in the executable" \
  equals 'REG_EXPAND_SZ C:\Program Files\hingeflow e2e\hingeflow.exe' \
  "$(reg_type "$SOURCE_KEY" EventMessageFile) $(reg_value "$SOURCE_KEY" EventMessageFile)"
check "and its categories" \
  equals 'REG_EXPAND_SZ C:\Program Files\hingeflow e2e\hingeflow.exe 0x2' \
  "$(reg_type "$SOURCE_KEY" CategoryMessageFile) $(reg_value "$SOURCE_KEY" CategoryMessageFile) $(reg_value "$SOURCE_KEY" CategoryCount)"
check "with the error and warning types" equals 0x3 "$(reg_value "$SOURCE_KEY" TypesSupported)"

echo "== install again"
run_exe "$exe" install
check "prints the SCM's refusal and the summary" \
  equals $'Installing service\nCouldn\'t create service: 1073\nCouldn\'t install service: 1073' "$OUT"
check "exits with -1" equals 255 "$RC"

echo "== net start"
set_slate_mode 0
wine net start HingeflowService >/dev/null 2>&1 || true
check "the service runs" wait_for_state HingeflowService 4 10
# The SCM keeps saying RUNNING for a service process that died: look at the process itself.
check "its process is alive" service_process_alive
# Laptop mode forced at start-up, then the start's decision: Wine's own HID devices are not
# counted, so nothing is attached and the service switches to tablet mode.
check "start-up forced laptop mode" eval \
  'log_messages "$log" | grep -xF "V:InitializeConvertibleSlateMode: 1" >/dev/null'
check "and, with no keyboard attached, the start decided tablet mode" \
  eventually 10 eval '[ "$(slate_mode)" = 0x0 ] &&
    log_messages "$log" | grep -xF "V:start decision: enter tablet mode: 1" >/dev/null'


echo "== uninstall while running"
run_exe "$exe" uninstall
check "prints stop and removal" equals $'Uninstalling service\nStoping service HingeflowService\nService stopped\nService uninstalled' "$OUT"
check "exits with 0" equals 0 "$RC"
check "the service is gone from the registry" key_absent "$SERVICE_KEY"
check "and so is its event source" key_absent "$SOURCE_KEY"
check "the service is gone from the SCM" equals "" "$(service_state HingeflowService)"
check "its process has ended" wait_until_gone 10

echo "== uninstall again"
run_exe "$exe" uninstall
# The wording of the open failure is hingeflow's own; its code is the SCM's.
check "prints the SCM's 1060 and the summary" \
  matches $'Uninstalling service\n*: 1060\nCouldn\'t uninstall service: 1060' "$OUT"
check "exits with -1" equals 255 "$RC"

echo "== diagnostic log"
# Device events cannot be produced under Wine: the notification registration shows only by the
# absence of its failure line between start and stop. Wine leaves the power capabilities' AoAc
# unwritten, which reads as no Modern Standby.
check "holds every step, each line timestamped and ending in CR LF" equals \
  "$(printf '%s\n' 'V:service installed' 'V:InitializeConvertibleSlateMode: 1' \
    'V:HingeflowService onStart' 'V:display state not watched: no Modern Standby' \
    'V:query value (BuiltInHIDKeyboardNumber) failed: 2' \
    'V:query value (HingeflowTriggerDevice) failed: 2' 'V:mouse number: 0, keyboard number: 0' 'V:start decision: enter tablet mode: 1' \
    'V:HingeflowService OnStop' 'V:service uninstalled')" \
  "$(log_messages "$log")"
