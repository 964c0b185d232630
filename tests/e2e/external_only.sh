#!/usr/bin/env bash
# External devices only under Wine: the test keyboard placed by its container properties
# (SetupDiSetDevicePropertyW, which Wine stores) in the machine's own container or in one of its
# own. The service, in the bridge host (see live_switch.sh), and hingeflow.exe status follow
# HingeflowExternalDevicesOnly as it is set between plugs, in the configuration or by policy.
#   external_only.sh BRIDGE_HOST_EXE HINGEFLOW_EXE PLUG_EXE DRIVER_SYS PREFIX_DIR
source "$(dirname "$0")/lib.sh"
start_prefix "$5"

folder="$PREFIX/drive_c/hingeflow bridge"
mkdir -p "$folder"
cp "$1" "$2" "$folder/"
host="$folder/$(basename "$1")"
exe="$folder/$(basename "$2")"
log="$folder/service.log"
# The keyboard trigger with no built-in keyboard: with the mode off, the test keyboard is external
# input wherever Windows places it. Wine's own keyboard is not counted.
wine reg add "$CONFIG_KEY" /v HingeflowTriggerDevice /t REG_SZ /d keyboard /f >/dev/null
wine reg add "$CONFIG_KEY" /v BuiltInHIDKeyboardNumber /t REG_DWORD /d 0 /f >/dev/null
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ \
  /d 'C:\hingeflow bridge\service.log' /f >/dev/null
install_test_keyboard "$3" "$4"
run_exe "$host" install
check "the bridge host runs as HingeflowService" net_start HingeflowService

external_only() {
  wine reg add "$CONFIG_KEY" /v HingeflowExternalDevicesOnly /t REG_DWORD /d "$1" /f >/dev/null
}
# since: the messages after line $SEEN of the log.
since() { log_messages "$log" | tail -n +$((SEEN + 1)); }
# wait_for N LINE: until LINE has been logged N times since line $SEEN (15 s at most).
logged() { [ "$(since | grep -cxF "$2" || true)" -ge "$1" ]; }
wait_for() { eventually 15 logged "$@"; }
# plug_as MODE CONTAINER: plugs the keyboard placed in CONTAINER with the mode set to MODE, waits
# until its keyboard interface has arrived, and leaves SEEN at the line before.
plug_as() {
  external_only "$1"
  set_slate_mode 0
  SEEN=$(log_messages "$log" | wc -l)
  test_keyboard plug-as "$2"
  wait_for 1 'V:DBT_DEVICEARRIVAL: keyboard interface'
}
# Unplugs it and waits until both removals, its USB device's and its keyboard's, are decided,
# together or apart: the decider takes events in order, so every decision of the plug is done by
# then.
removals_decided() {
  log_messages "$log" | tail -n +$(($1 + 1)) | LC_ALL=C awk '
    /^V:DBT_DEVICEREMOVECOMPLETE/ { removals++; switched = 0; next }
    /^V:enter tablet mode: 1$/ { switched = 1 }
    END { exit !(removals == 2 && switched) }'
}
unplug() {
  local seen
  seen=$(log_messages "$log" | wc -l)
  test_keyboard unplug
  eventually 15 removals_decided "$seen"
}
# decided_in_mode: how often laptop mode was written since $SEEN, and whether every decision since
# took the census in the mode (without a built-in number).
decided_in_mode() {
  local exits mode numbers
  exits=$(since | grep -c 'exit tablet mode' || true)
  mode=$(since | grep -cxF 'V:external devices only' || true)
  numbers=$(since | grep -c 'built-in keyboards number' || true)
  echo "$exits $([ "$mode" -gt 0 ] && [ "$numbers" -eq 0 ] && echo in-mode || echo not-in-mode)"
}
# section HEADING: the lines of $OUT from the one starting with HEADING to the next blank one.
section() {
  printf '%s\n' "$OUT" | awk -v heading="$1" 'index($0, heading) == 1 { on = 1 } on && $0 == "" { exit } on'
}
# The test keyboard's lines in the Devices section: the one after Wine's own keyboard.
test_keyboard_lines() { section Devices | grep -A3 '^  keyboard 1: "HID Keyboard Device"' | tail -n +2; }

echo "== external devices only, the keyboard in the machine's container"
plug_as 1 builtin
run_exe "$exe" status
check "status: built in, so not counted in the mode, counted without it" equals \
  '    counted: described as Windows describes the standard HID keyboard in English
    container: built in (this machine'"'"'s container)
    with external devices only: not counted; without: counted' "$(test_keyboard_lines)"
check "status: the number not used, no external input" equals \
  'Decision, under the keyboard trigger, external devices only: external input is at least 1 counted keyboard
  counted now: 0 mice, 0 keyboards
  external input: no' "$(section Decision | head -n 3)"
unplug
check "the service left it out: tablet mode throughout" equals 0x0 "$(slate_mode)"
check "and decided in the mode, switching to laptop mode never" equals "0 in-mode" \
  "$(decided_in_mode)"

echo "== the mode off: the same keyboard counts as ever"
plug_as 0 builtin
check "laptop mode" wait_for 1 'V:exit tablet mode: 1'
check "the value" equals 0x1 "$(slate_mode)"
unplug
check "tablet mode again once it goes" equals 0x0 "$(slate_mode)"
check "no decision in the mode" equals 0 "$(since | grep -cxF 'V:external devices only' || true)"

echo "== external devices only, the keyboard in a container of its own"
plug_as 1 attached
check "laptop mode" wait_for 1 'V:exit tablet mode: 1'
check "the value" equals 0x1 "$(slate_mode)"
run_exe "$exe" status --json
check "status --json: attached and counted, the mode from the configuration" \
  equals "False {6b1d3c2a-5e4f-4a7b-9c8d-1e2f3a4b5c6d} attached True True configuration" \
  "$(python3 -c 'import json, sys
s = json.load(open(sys.argv[1]))
d = [d for d in s["devices"] if d["description"] == "HID Keyboard Device"][0]
m = s["configuration"]["HingeflowExternalDevicesOnly"]
print(d["inLocalMachineContainer"], d["containerId"], d["container"], d["countedExternalOnly"],
      m["externalDevicesOnly"], m["source"])' "$PREFIX/stdout.log")"
unplug
check "tablet mode once it goes" equals 0x0 "$(slate_mode)"

# As Group Policy writes it, while the configuration says 0.
echo "== external devices only by policy, the keyboard in the machine's container"
policy_key='HKLM\SOFTWARE\Policies\hingeflow'
wine reg add "$policy_key" /v HingeflowExternalDevicesOnly /t REG_DWORD /d 1 /f >/dev/null
plug_as 0 builtin
run_exe "$exe" status --json
check "status --json: the mode on, from policy" equals "True policy" "$(python3 -c 'import json, sys
m = json.load(open(sys.argv[1]))["configuration"]["HingeflowExternalDevicesOnly"]
print(m["externalDevicesOnly"], m["source"])' "$PREFIX/stdout.log")"
unplug
check "the service followed policy: tablet mode throughout, decided in the mode" \
  equals "0 in-mode" "$(decided_in_mode)"
wine reg delete "$policy_key" /v HingeflowExternalDevicesOnly /f >/dev/null
plug_as 0 builtin
check "the policy value deleted: the configuration's 0 decides, laptop mode" \
  wait_for 1 'V:exit tablet mode: 1'
unplug
