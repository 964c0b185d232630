#!/usr/bin/env bash
# The live switch: a test keyboard plugged in and out while hingeflow's service code runs under
# Wine's SCM. The service runs in the bridge host, which hands it the USB events that Wine drops
# for services (see live_notification.sh) through the SCM as device-event controls.
#   live_switch.sh BRIDGE_HOST_EXE PLUG_EXE DRIVER_SYS PREFIX_DIR
source "$(dirname "$0")/lib.sh"
start_prefix "$4"

folder="$PREFIX/drive_c/hingeflow bridge"
mkdir -p "$folder"
cp "$1" "$folder/"
host="$folder/$(basename "$1")"
log="$folder/service.log"
# Wine's virtual mouse is counted and its keyboard is not: the test keyboard is the only one.
wine reg add 'HKLM\System\CurrentControlSet\Enum\HID\VID_845E&PID_0001\0&0000&0&0' \
  /v DeviceDesc /t REG_SZ /d 'HID-compliant mouse' /f >/dev/null
wine reg add "$CONFIG_KEY" /v HingeflowTriggerDevice /t REG_SZ /d both /f >/dev/null
wine reg add "$CONFIG_KEY" /v BuiltInHIDKeyboardNumber /t REG_DWORD /d 0 /f >/dev/null
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ \
  /d 'C:\hingeflow bridge\service.log' /f >/dev/null
install_test_keyboard "$2" "$3"

run_exe "$host" install
check "the bridge host runs as HingeflowService" net_start HingeflowService

# event ACTION [ARG] LAST_MESSAGE: plugs or unplugs and sets EVENT to the messages it brought, once
# LAST_MESSAGE has been logged (or, for a missed attach, the census retries are long over).
event() {
  local last=${*: -1} seen deadline=$((SECONDS + 10))
  seen=$(log_messages "$log" | wc -l)
  test_keyboard "${@:1:$#-1}"
  while ! log_messages "$log" | tail -n +$((seen + 1)) | grep -xF "$last" >/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.1
  done
  sleep 0.5
  EVENT=$(log_messages "$log" | tail -n +$((seen + 1)))
}
arrival=$'V:DBT_DEVICEARRIVAL\nV:event type: 32768\nV:mouse number: 1, keyboard number: '
removal=$'V:DBT_DEVICEREMOVECOMPLETE\nV:event type: 32772\nV:mouse number: 1, keyboard number: 0\nV:enter tablet mode: 1'

# Each case checks the value and the messages together: "VALUE|MESSAGES".
echo "== tablet mode, keyboard plugged in and out"
set_slate_mode 0
event plug 'V:exit tablet mode: 1'
# Its keyboard interface follows the USB one at once: counted at the first census or a retry.
check "plugged: laptop mode after the arrival, the census and the switch" \
  matches "0x1|${arrival}*"$'\nV:exit tablet mode: 1' "$(slate_mode)|$EVENT"
event unplug 'V:enter tablet mode: 1'
check "unplugged: tablet mode after the removal and an empty census" \
  equals "0x0|$removal" "$(slate_mode)|$EVENT"

echo "== plugged while the value already reads 1"
set_slate_mode 1
event plug 'V:exit tablet mode: 1'
check "laptop mode again, through 10 then 1 as the log says" \
  matches "0x1|${arrival}*"$'\nV:SetTabletMode, temperal value: 10\nV:exit tablet mode: 1' \
  "$(slate_mode)|$EVENT"
event unplug 'V:enter tablet mode: 1'

# The presence check retries 3 times, 30 ms apart, after the event's own 10-60 ms: 80 ms lies
# between the slowest event measured and the longest delay always caught (README).
echo "== keyboard 80 ms after its USB device"
event plug 80 'V:exit tablet mode: 1'
check "caught on a retry, which the log names" matches \
  "0x1|${arrival}0"$'\nV:mouse number: 1, keyboard number: 1, loop: '[123]$'\nV:exit tablet mode: 1' \
  "$(slate_mode)|$EVENT"
event unplug 'V:enter tablet mode: 1'

echo "== keyboard 300 ms after its USB device"
event plug 300 "${arrival##*$'\n'}0"
check "missed: tablet mode stays after an empty census" \
  equals "0x0|${arrival}0" "$(slate_mode)|$EVENT"
event unplug 'V:enter tablet mode: 1'
check "unplugged as ever" equals "$removal" "$EVENT"

echo "== net stop"
host_gone() {
  local deadline=$((SECONDS + 10))
  while prefix_processes "$PREFIX" | grep 'hingeflow bridge\\hingeflow_bridge_host' >/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
wine net stop HingeflowService >/dev/null 2>&1 || true
check "the service has stopped and its process ended" \
  eval 'wait_for_state HingeflowService 1 10 && host_gone'
check "the stop is the last message" equals 'V:HingeflowService OnStop' \
  "$(log_messages "$log" | tail -n 1)"
