#!/usr/bin/env bash
# The end-to-end harness itself: what the other scripts rely on from Wine and from lib.sh.
#   wine_harness.sh PREFIX_DIR
source "$(dirname "$0")/lib.sh"
start_prefix "$1"

echo "== registry round trips through reg.exe"
wine reg add "$CONFIG_KEY" /v HfHarnessText /t REG_SZ /d 'C:\a folder\x y.log' /f >/dev/null
wine reg add "$CONFIG_KEY" /v HfHarnessNumber /t REG_DWORD /d 4294967295 /f >/dev/null
check "text with spaces and backslashes comes back whole" \
  equals 'C:\a folder\x y.log' "$(reg_value "$CONFIG_KEY" HfHarnessText)"
check "value names ignore case" equals REG_DWORD "$(reg_type "$CONFIG_KEY" hfharnessnumber)"
check "numbers come back in hex" equals 0xffffffff "$(reg_value "$CONFIG_KEY" HfHarnessNumber)"
check "a missing value reads as nothing" equals "" "$(reg_value "$CONFIG_KEY" HfHarnessNone || true)"
check "PriorityControl exists in tablet mode" equals 0x0 "$(slate_mode)"
# Wine keeps HKEY_CURRENT_CONFIG only while its server lives.
sleep 3
check "configuration outlives an idle moment" equals 0xffffffff "$(reg_value "$CONFIG_KEY" HfHarnessNumber)"

echo "== programs and their console"
run_exe "$PREFIX/drive_c/windows/system32/cmd.exe" /c 'echo first& echo second& exit 3'
check "console text arrives line by line" equals $'first\nsecond' "$OUT"
check "the exit status is the program's" equals 3 "$RC"

echo "== log lines"
printf '2016-03-01.14:05:09 Verbose: HingeflowService onStart\r\n2016-03-01.14:05:09 ERROR: RegisterDeviceNotification failed\r\n2016-03-01.14:05:09 Verbose: no CR\n16-03-01 14:05:09 Verbose: short date\r\n' >"$PREFIX/sample.log"
check "lines are read by level and malformed ones flagged" equals \
  "$(printf '%s\n' 'V:HingeflowService onStart' 'E:RegisterDeviceNotification failed' \
    'BAD:2016-03-01.14:05:09 Verbose: no CR' $'BAD:16-03-01 14:05:09 Verbose: short date\r')" \
  "$(log_messages "$PREFIX/sample.log")"

echo "== services"
check "a running prefix has its own processes" [ -n "$(prefix_processes "$PREFIX")" ]
check "an unknown service has no state" equals "" "$(service_state HingeflowService)"
