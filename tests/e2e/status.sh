#!/usr/bin/env bash
# hingeflow.exe status on a convertible under Wine: the test keyboard counted and Wine's own
# virtual devices not, with the reason; the service before and after install; the decision with
# the keyboard attached and detached; fleet policy winning over the configuration, value by value;
# JSON that Python parses; nothing written, not even the missing log file made.
#   status.sh HINGEFLOW_EXE PLUG_EXE DRIVER_SYS PREFIX_DIR
source "$(dirname "$0")/lib.sh"
start_prefix "$4"

folder="$PREFIX/drive_c/Program Files/hingeflow"
exe="$folder/hingeflow.exe"
mkdir -p "$folder" "$PREFIX/drive_c/ProgramData/hingeflow"
cp "$1" "$exe"
log="$PREFIX/drive_c/ProgramData/hingeflow/hingeflow.log"
wine reg add "$CONFIG_KEY" /v HingeflowTriggerDevice /t REG_SZ /d keyboard /f >/dev/null
wine reg add "$CONFIG_KEY" /v BuiltInHIDKeyboardNumber /t REG_DWORD /d 0 /f >/dev/null
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ \
  /d 'C:\ProgramData\hingeflow\hingeflow.log' /f >/dev/null
install_test_keyboard "$2" "$3"
test_keyboard plug

# status_json PYTHON_EXPRESSION: evaluated over the parsed JSON of `status --json` as `s`.
status_json() {
  run_exe "$exe" status --json
  [ "$RC" = 0 ] || { echo "       exit status $RC"; return 1; }
  python3 -c 'import json, sys; s = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))' \
    "$PREFIX/stdout.log" "$1"
}
# section HEADING: the lines of $OUT from the one starting with HEADING to the next blank one.
section() {
  printf '%s\n' "$OUT" | awk -v heading="$1" 'index($0, heading) == 1 { on = 1 } on && $0 == "" { exit } on'
}

echo "== before install, keyboard attached"
set_slate_mode 0
run_exe "$exe" status
check "exits with 0" equals 0 "$RC"
check "prints only printable ASCII" equals "" "$(printf '%s' "$OUT" | LC_ALL=C tr -d '\n -~')"
check "the service is not installed" equals 'Service HingeflowService: not installed' \
  "$(section Service)"
check "the slate-mode value" equals 'Slate mode: ConvertibleSlateMode is 0, tablet mode' \
  "$(section 'Slate mode')"
check "the configuration as the service reads it" equals \
  'Configuration (HKEY_CURRENT_CONFIG\System\CurrentControlSet):
  policy HKEY_LOCAL_MACHINE\SOFTWARE\Policies\hingeflow: absent
  HingeflowTriggerDevice (configuration): "keyboard", the keyboard trigger
  BuiltInHIDKeyboardNumber (configuration): 0 built-in keyboards
  HingeflowExternalDevicesOnly (default): absent (error 2), so all devices count
  HingeflowServiceLogPath (configuration): "C:\ProgramData\hingeflow\hingeflow.log", where the service would log' \
  "$(section Configuration)"
# Wine gives no device a container.
check "the test keyboard counted, Wine's own devices not, with the reason" equals \
  'Devices:
  keyboard 0: "Wine HID device"
    not counted: not described as the standard HID keyboard in English, and its matching device ID is not set (error 1168)
    container: unknown: DEVPKEY_Device_ContainerId, error 1168
    with external devices only: not counted; without: not counted
  keyboard 1: "HID Keyboard Device"
    counted: described as Windows describes the standard HID keyboard in English
    container: unknown: DEVPKEY_Device_ContainerId, error 1168
    with external devices only: counted; without: counted
  mouse 0: "Wine HID device"
    not counted: not described as the standard HID mouse in English, and its matching device ID is not set (error 1168)
    container: unknown: DEVPKEY_Device_ContainerId, error 1168
    with external devices only: not counted; without: not counted' \
  "$(section Devices)"
check "the decision" equals \
  'Decision, under the keyboard trigger: external input is more counted keyboards than the 0 built in
  counted now: 0 mice, 1 keyboard
  external input: yes
  an arrival (USB device, keyboard or mouse), or a resume from sleep, would switch to laptop mode
  a removal (USB device, keyboard or mouse) would change nothing' \
  "$(section Decision)"
check "Python parses the JSON: the keyboard counted by its description" \
  equals "['englishDescription']" \
  "$(status_json "[d['verdict'] for d in s['devices'] if d['description'] == 'HID Keyboard Device']")"
check "and the decision" equals "True laptop mode no change" \
  "$(status_json "' '.join(str(s['decision'][k]) for k in ('externalInput', 'arrival', 'removal'))")"
run_exe "$exe" help
check "status and help leave the missing log file missing" [ ! -e "$log" ]

echo "== installed"
run_exe "$exe" install
check "installs" equals 0 "$RC"
check "installed, stopped, registered with this executable" \
  equals "True stopped automatic True" \
  "$(status_json "' '.join(str(s['service'][k]) for k in ('installed', 'state', 'startType', 'imageIsThisExecutable'))")"
check "running once started" net_start HingeflowService
check "and says so" equals running "$(status_json "s['service']['state']")"
# The start decides from what is attached: the test keyboard, so laptop mode.
check "its start decided" eventually 10 eval \
  'log_messages "$log" | grep -xF "V:start decision: exit tablet mode: 1" >/dev/null'

# As Group Policy writes it, while HKEY_CURRENT_CONFIG says otherwise: one value of the right
# type, which wins, and one of the wrong type, which is passed over.
echo "== fleet policy"
policy_key='HKLM\SOFTWARE\Policies\hingeflow'
wine reg add "$policy_key" /v BuiltInHIDKeyboardNumber /t REG_DWORD /d 1 /f >/dev/null
wine reg add "$policy_key" /v HingeflowTriggerDevice /t REG_DWORD /d 1 /f >/dev/null
run_exe "$exe" status
check "the policy value wins, the mistyped one is passed over with why" equals \
  'Configuration (HKEY_CURRENT_CONFIG\System\CurrentControlSet):
  policy HKEY_LOCAL_MACHINE\SOFTWARE\Policies\hingeflow: present: a value set there wins over the same value here
  HingeflowTriggerDevice (configuration): "keyboard", the keyboard trigger
    policy value refused: it is REG_DWORD, not REG_SZ
  BuiltInHIDKeyboardNumber (policy): 1 built-in keyboard
  HingeflowExternalDevicesOnly (default): absent (error 2), so all devices count
  HingeflowServiceLogPath (configuration): "C:\ProgramData\hingeflow\hingeflow.log", where the service would log' \
  "$(section Configuration)"
check "and the decision follows the policy" matches '*counted now: 0 mice, 1 keyboard*external input: no*' \
  "$(section Decision)"
sources="' '.join(s['configuration'][v]['source'] for v in ('HingeflowTriggerDevice', 'BuiltInHIDKeyboardNumber')) + ' ' + s['configuration']['policyKey']"
check "status --json names each source and the policy key" \
  equals 'configuration policy HKEY_LOCAL_MACHINE\SOFTWARE\Policies\hingeflow' "$(status_json "$sources")"
wine reg delete "$policy_key" /v BuiltInHIDKeyboardNumber /f >/dev/null
check "deleting the policy value hands it back to the configuration" \
  equals 'configuration 0' \
  "$(status_json "s['configuration']['BuiltInHIDKeyboardNumber']['source'] + ' ' + str(s['decision']['builtInKeyboards'])")"
wine reg delete "$policy_key" /f >/dev/null

echo "== keyboard detached"
test_keyboard unplug
run_exe "$exe" status
check "the decision turns" equals \
  'Decision, under the keyboard trigger: external input is more counted keyboards than the 0 built in
  counted now: 0 mice, 0 keyboards
  external input: no
  an arrival (USB device, keyboard or mouse), or a resume from sleep, would change nothing
  a removal (USB device, keyboard or mouse) would switch to tablet mode' \
  "$(section Decision)"

echo "== nothing written"
check "no log line from status" equals \
  "$(printf '%s\n' 'V:service installed' 'V:InitializeConvertibleSlateMode: 1' \
    'V:HingeflowService onStart' 'V:display state not watched: no Modern Standby' \
    'V:start decision: exit tablet mode: 1')" \
  "$(log_messages "$log")"
check "the service runs on" equals 4 "$(service_state HingeflowService)"
run_exe "$exe" uninstall
check "and is removed" equals 0 "$RC"
