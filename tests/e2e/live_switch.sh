#!/usr/bin/env bash
# The live switch: a test keyboard plugged in and out while hingeflow's service code runs under
# Wine's SCM, its keyboard interface on time, late, very late, or with no USB interface at all,
# then CYCLES times back to back (10 unless given). The service runs in the bridge host, which
# hands it the device events that Wine drops for services (see live_notification.sh) through the
# SCM as device-event controls.
#   live_switch.sh BRIDGE_HOST_EXE PLUG_EXE DRIVER_SYS PREFIX_DIR [CYCLES]
source "$(dirname "$0")/lib.sh"
start_prefix "$4"
cycles=${5:-10}

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

# event PATTERN ACTION [ARG...]: plugs or unplugs, then waits (15 s at most) until "VALUE|MESSAGES",
# the slate-mode value and the messages the action brought, matches PATTERN; half a second more
# lets any line too many show. Sets EVENT to "VALUE|MESSAGES" for the check.
event() {
  local pattern=$1 seen deadline=$((SECONDS + 15))
  shift
  seen=$(log_messages "$log" | wc -l)
  test_keyboard "$@"
  # shellcheck disable=SC2053
  until [[ "$(slate_mode)|$(log_messages "$log" | tail -n +$((seen + 1)))" == $pattern ]]; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.1
  done
  sleep 0.5
  EVENT="$(slate_mode)|$(log_messages "$log" | tail -n +$((seen + 1)))"
}
# The USB arrival's lines up to its first count of keyboards, which the pattern completes.
usb_arrival=$'V:DBT_DEVICEARRIVAL\nV:event type: 32768\nV:mouse number: 1, keyboard number: '
keyboard_arrival=$'\nV:DBT_DEVICEARRIVAL: keyboard interface\nV:mouse number: 1, keyboard number: 1\nV:exit tablet mode: 1'
keyboard_removal=$'V:DBT_DEVICEREMOVECOMPLETE: keyboard interface\nV:mouse number: 1, keyboard number: 0\nV:enter tablet mode: 1'
removal=$keyboard_removal$'\nV:DBT_DEVICEREMOVECOMPLETE\nV:event type: 32772\nV:mouse number: 1, keyboard number: 0\nV:enter tablet mode: 1'
toggles() { grep -c 'temperal value' <<<"$EVENT" || true; }

# Each case checks the value and the messages together: "VALUE|MESSAGES".
echo "== tablet mode, keyboard plugged in and out"
set_slate_mode 0
pattern="0x1|${usb_arrival}*"$'\nV:exit tablet mode: 1'$keyboard_arrival
event "$pattern" plug
# Its keyboard interface follows the USB one at once: counted at the USB event's first census or
# a retry, and again at its own arrival, which writes 1 over 1.
check "plugged: laptop mode after the USB arrival, then the keyboard's own" matches "$pattern" \
  "$EVENT"
event "0x0|$removal" unplug
check "unplugged: tablet mode after each removal and an empty census" equals "0x0|$removal" "$EVENT"

echo "== plugged while the value already reads 1"
set_slate_mode 1
pattern="0x1|${usb_arrival}*"$'\nV:SetTabletMode, temperal value: 10\nV:exit tablet mode: 1'$keyboard_arrival
event "$pattern" plug
check "laptop mode again, through 10 then 1 as the log says" matches "$pattern" "$EVENT"
check "one attach, one toggle: the keyboard's arrival does not force again" equals 1 "$(toggles)"
event "0x0|$removal" unplug

# The USB event's census retries 3 times, 30 ms apart, after the event's own 10-60 ms: 80 ms lies
# between the slowest event measured and the longest delay always caught by it (README).
echo "== keyboard 80 ms after its USB device"
pattern="0x1|${usb_arrival}0"$'\nV:mouse number: 1, keyboard number: 1, loop: '[123]$'\nV:exit tablet mode: 1'$keyboard_arrival
event "$pattern" plug 80
check "caught by the USB event on a retry, which the log names" matches "$pattern" "$EVENT"
event "0x0|$removal" unplug

# Long after the USB event's retries: what a first attach, with its drivers to install, or a slow
# hub looks like. The keyboard's own arrival catches it.
for delay in 1500 5000; do
  echo "== keyboard $delay ms after its USB device"
  event "0x1|${usb_arrival}0$keyboard_arrival" plug "$delay"
  check "missed by the USB event, caught by the keyboard's arrival" \
    equals "0x1|${usb_arrival}0$keyboard_arrival" "$EVENT"
  event "0x0|$removal" unplug
  check "unplugged as ever" equals "0x0|$removal" "$EVENT"
done

echo "== a keyboard cover on another bus: no USB interface at all"
event "0x1|${keyboard_arrival#$'\n'}" plug 0 no-usb
check "attached: laptop mode on the keyboard's arrival alone" \
  equals "0x1|${keyboard_arrival#$'\n'}" "$EVENT"
event "0x0|$keyboard_removal" unplug
check "detached: tablet mode on the keyboard's removal alone" equals "0x0|$keyboard_removal" \
  "$EVENT"

# Fleet policy as Group Policy writes it, while the configuration says 0 built-in keyboards: the
# running service counts the test keyboard as built in, until the policy value goes.
echo "== one built-in keyboard by policy"
policy_key='HKLM\SOFTWARE\Policies\hingeflow'
wine reg add "$policy_key" /v BuiltInHIDKeyboardNumber /t REG_DWORD /d 1 /f >/dev/null
set_slate_mode 0
built_in=$'\nV:built-in keyboards number: 1'
pattern="0x0|V:DBT_DEVICEARRIVAL"$'\nV:event type: 32768'"$built_in"$'\nV:mouse number: 1, keyboard number: '[01]$'\nV:DBT_DEVICEARRIVAL: keyboard interface'"$built_in"$'\nV:mouse number: 1, keyboard number: 1'
event "$pattern" plug
check "plugged: no external input by the policy's count, still tablet mode" matches "$pattern" \
  "$EVENT"
event "0x0|*V:event type: 32772$built_in"$'\nV:mouse number: 1, keyboard number: 0\nV:enter tablet mode: 1' unplug
wine reg delete "$policy_key" /v BuiltInHIDKeyboardNumber /f >/dev/null
pattern="0x1|${usb_arrival}*"$'\nV:exit tablet mode: 1'$keyboard_arrival
event "$pattern" plug
check "the policy value deleted: laptop mode as the configuration says" matches "$pattern" "$EVENT"
event "0x0|$removal" unplug

# A storm: plugged and unplugged back to back, as fast as the controller can. Every event is
# handled in turn however many wait, so the value lags behind while they do; in the end it
# matches the keyboard's state, every message is whole and no event's lines are missing. With
# CYCLES 50 this prints the figures of BENCHMARKS.md.
now_ms() { date +%s%3N; }
# Each kind of message since line $1 counted; every line must be one of these, each event must
# log its header and its first census, and every switch must succeed.
summary() {
  log_messages "$log" | tail -n +$(($1 + 1)) | LC_ALL=C awk '
    $0 == "V:DBT_DEVICEARRIVAL" { usb_in++; header++; next }
    $0 == "V:DBT_DEVICEREMOVECOMPLETE" { usb_out++; header++; next }
    $0 == "V:event type: 32768" || $0 == "V:event type: 32772" { types++; next }
    $0 == "V:DBT_DEVICEARRIVAL: keyboard interface" { kb_in++; header++; next }
    $0 == "V:DBT_DEVICEREMOVECOMPLETE: keyboard interface" { kb_out++; header++; next }
    /^V:mouse number: [0-9]+, keyboard number: [0-9]+$/ { census++; next }
    /^V:mouse number: [0-9]+, keyboard number: [0-9]+, loop: [123]$/ { next }
    $0 == "V:SetTabletMode, temperal value: 10" || $0 ~ /^V:(exit|enter) tablet mode: 1$/ { next }
    { other++; print "       unexpected: " $0 > "/dev/stderr" }
    END { printf "usb %d/%d keyboard %d/%d headers %d types %d censuses %d other %d\n",
          usb_in, usb_out, kb_in, kb_out, header, types, census, other }'
}
# drained: the last USB removal has been handled, through its switch to tablet mode.
drained() {
  [ "$(log_messages "$log" | tail -n +$(($1 + 1)) | grep -cxF 'V:DBT_DEVICEREMOVECOMPLETE')" \
    -eq "$cycles" ] && [ "$(log_messages "$log" | tail -n 1)" = 'V:enter tablet mode: 1' ]
}
echo "== a storm: $cycles plugs and unplugs back to back"
set_slate_mode 1
seen=$(log_messages "$log" | wc -l)
start=$(now_ms)
check "the controller plugged and unplugged $cycles times" test_keyboard storm "$cycles"
stormed=$(now_ms)
# Each event logs within a fraction of a second: 10 s without a new line means no more will come.
lines=0 quiet_since=$SECONDS
until drained "$seen" || [ $((SECONDS - quiet_since)) -ge 10 ]; do
  [ "$(log_messages "$log" | wc -l)" = "$lines" ] || { lines=$(log_messages "$log" | wc -l); quiet_since=$SECONDS; }
  sleep 0.02
done
last_write=$(now_ms)
sleep 1
counts=$(summary "$seen")
echo "       storm $((stormed - start)) ms, last event to last write $((last_write - stormed)) ms," \
  "load average $(cut -d' ' -f1 /proc/loadavg); $counts"
check "every event handled: the last removal ended in tablet mode" drained "$seen"
check "the value matches the keyboard's final state: tablet mode" equals 0x0 "$(slate_mode)"
kb=$(sed -E 's/.*keyboard ([0-9]+)\/.*/\1/' <<<"$counts")
events=$((2 * cycles + 2 * kb))
check "no message lost or malformed: each event logged its header, type and first census" \
  equals "usb $cycles/$cycles keyboard $kb/$kb headers $events types $((2 * cycles)) censuses $events other 0" \
  "$counts"
check "no crash" equals 0 "$(grep -cE 'Unhandled|page fault' "$PREFIX/services.log" || true)"

echo "== net stop"
host_gone() {
  local deadline=$((SECONDS + 10))
  while prefix_processes "$PREFIX" | grep 'hingeflow bridge\\hingeflow_bridge_host' >/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}
start=$(now_ms)
wine net stop HingeflowService >/dev/null 2>&1 || true
until [ "$(service_state HingeflowService)" = 1 ] || [ $(($(now_ms) - start)) -gt 10000 ]; do
  sleep 0.02
done
echo "       net stop to STOPPED $(($(now_ms) - start)) ms"
check "the service has stopped and its process ended" \
  eval 'wait_for_state HingeflowService 1 10 && host_gone'
check "the stop is the last message" equals 'V:HingeflowService OnStop' \
  "$(log_messages "$log" | tail -n 1)"
