#!/usr/bin/env bash
# hingeflow.exe started by hand: arguments that name no role, the usage text, the service role
# outside the SCM, a log that stays off, and a log path prepared by an attacker.
#   console_roles.sh HINGEFLOW_EXE PREFIX_DIR
source "$(dirname "$0")/lib.sh"
start_prefix "$2"

folder="$PREFIX/drive_c/hingeflow"
exe="$folder/hingeflow.exe"
logs="$PREFIX/drive_c/logs"
mkdir -p "$folder" "$logs"
cp "$1" "$exe"

echo "== arguments that name no role"
for arg in Install INSTALL 'install ' uninstal Uninstall '' bogus; do
  run_exe "$exe" "$arg" install
  check "'$arg' prints Invalid argument" equals 'Invalid argument' "$OUT"
  check "'$arg' exits with -1" equals 255 "$RC"
done
check "nothing was registered" key_absent "$SERVICE_KEY"

echo "== usage"
for arg in help '/?' -h --help; do
  run_exe "$exe" "$arg"
  check "'$arg' prints the usage" matches $'Usage: hingeflow.exe [[]install | uninstall | status [[]--json] | help]\n*\n  status --json *' "$OUT"
  check "'$arg' exits with 0" equals 0 "$RC"
done

echo "== only the first argument counts"
run_exe "$exe" install now please
# Wine has no required privileges and keeps no failure actions for a stop with an error (124):
# a line says so for each, and it is still installed.
check "install with more arguments installs" \
  equals $'Installing service\nCouldn\'t set required privileges: 124\nCouldn\'t set failure actions for a stop with an error: 124\nService installed' "$OUT"
run_exe "$exe" uninstall install
check "uninstall with more arguments removes" \
  equals $'Uninstalling service\nDidn\'t control service: 1062\nService uninstalled' "$OUT"
check "exits with 0" equals 0 "$RC"

echo "== no argument, outside the SCM"
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ /d 'C:\logs\by-hand.log' /f >/dev/null
set_slate_mode 0
run_exe "$exe"
check "prints nothing" equals "" "$OUT"
check "exits with 0" equals 0 "$RC"
check "forced laptop mode" equals 0x1 "$(slate_mode)"
check "logged the start-up switch only" \
  equals 'V:InitializeConvertibleSlateMode: 1' "$(log_messages "$logs/by-hand.log")"

echo "== logging off"
install_and_remove() {
  run_exe "$exe" install
  run_exe "$exe" uninstall
  [ "$RC" = 0 ] || { echo "       uninstall failed: $OUT"; return 1; }
}
wine reg delete "$CONFIG_KEY" /v HingeflowServiceLogPath /f >/dev/null
rm -f "$logs/by-hand.log"
check "no log path: install and uninstall work" install_and_remove
check "no log path: no file created" [ -z "$(ls -A "$logs")" ]
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_EXPAND_SZ /d 'C:\logs\expandable.log' \
  /f >/dev/null
check "expandable log path: install and uninstall work" install_and_remove
check "expandable log path: no file created" [ -z "$(ls -A "$logs")" ]
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ /d 'C:\no such folder\x.log' \
  /f >/dev/null
check "log path in a missing folder: install and uninstall work" install_and_remove
check "log path in a missing folder: nothing created" [ ! -e "$PREFIX/drive_c/no such folder" ]

echo "== the log writes only where it is safe to write as SYSTEM"
# An attacker prepares C:\guarded before install runs; hingeflow.exe must refuse the path, write
# nothing through it, and still install and uninstall. Wine stores no events: warn+eventlog
# shows the warning's strings on the program's stderr.
guarded="$PREFIX/drive_c/guarded"
victim="$PREFIX/drive_c/victim.txt"
printf 'precious\r\n' >"$victim"
wine reg add "$CONFIG_KEY" /v HingeflowServiceLogPath /t REG_SZ /d 'C:\guarded\hingeflow.log' \
  /f >/dev/null
# trial DESCRIPTION REASON: REASON is the warning expected, or empty for none.
trial() {
  local warnings
  printf 'precious\r\n' >"$victim"
  WINEDEBUG=-all,warn+eventlog run_exe "$exe" install
  check "$1: install works" \
    equals $'Installing service\nCouldn\'t set required privileges: 124\nCouldn\'t set failure actions for a stop with an error: 124\nService installed' "$OUT"
  warnings=$(tr -d '\r' <"$PREFIX/stderr.log" | sed -n 's/.*warn:eventlog:ReportEventW L"\(.*\)"$/\1/p')
  if [ -n "$2" ]; then
    check "$1: one warning names the path and says why" \
      equals "C:\\\\guarded\\\\hingeflow.log"$'\n'"$2" "$warnings"
  else
    check "$1: no warning" equals "" "$warnings"
  fi
  run_exe "$exe" uninstall
  check "$1: uninstall works" equals 0 "$RC"
  check "$1: nothing written through the path" equals $'precious\r' "$(cat "$victim")"
}
rm -rf "$guarded" && mkdir "$guarded" && ln "$victim" "$guarded/hingeflow.log"
trial "a hard link at the log path" "the file has 2 links"
# Wine 8 makes no junction or reparse point (FSCTL_SET_REPARSE_POINT fails with 50,
# CreateSymbolicLink makes nothing); it follows a Unix link as Windows follows a junction.
rm -rf "$guarded" && mkdir "$guarded" && ln -s "$victim" "$guarded/hingeflow.log"
trial "a link at the log path to a file elsewhere" "the file is not in the folder that was checked"
# A link in place of the folder, to a folder of Windows' own: the path a user who made C:\guarded
# could aim at C:\windows\logs once they replace it (on Windows, with a junction).
mkdir -p "$PREFIX/drive_c/windows/logs"
rm -rf "$guarded" && ln -s "$PREFIX/drive_c/windows/logs" "$guarded"
trial "a link in place of the folder" "the folder is not where the path says"
check "a link in place of the folder: nothing made behind it" \
  [ ! -e "$PREFIX/drive_c/windows/logs/hingeflow.log" ]
rm -f "$guarded" && mkdir -p "$guarded/hingeflow.log"
trial "a folder at the log path" ""
check "a folder at the log path: left empty" [ -z "$(ls -A "$guarded/hingeflow.log")" ]
# Wine keeps no access list set through Win32; it shows a Unix folder writable by all as one
# where Everyone may write.
rm -rf "$guarded" && mkdir "$guarded" && chmod 0777 "$guarded"
trial "a folder writable by users" \
  "the folder is writable by users other than administrators (S-1-1-0)"
check "a folder writable by users: no file made in it" [ -z "$(ls -A "$guarded")" ]
rm -rf "$guarded" && mkdir "$guarded"
trial "a sound folder" ""
check "a sound folder: the log is written" \
  equals $'V:service installed\nV:service uninstalled' "$(log_messages "$guarded/hingeflow.log")"
