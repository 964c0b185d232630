# Sourced by the end-to-end scripts: one throwaway Wine prefix per script with one persistent
# wineserver, removed on exit whatever happened, and checks that keep going after a failure so
# that one run reports every broken behaviour.
#
#   source lib.sh; start_prefix DIR; check "what" test ...; ...   (exit status: 0 = all passed)

set -euo pipefail
E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
FAILURES=0
PREFIX=

# prefix_processes DIR: the live processes started for that prefix (they inherit WINEPREFIX).
# Matches here and in the scripts read their whole input, never `grep -q`: it stops at the first
# match, and under pipefail the writer's broken pipe then fails the whole test.
prefix_processes() {
  local pid
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)" != Z ] || continue
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null |
      grep -xF "WINEPREFIX=$1" >/dev/null; then
      echo "  $pid $({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
    fi
  done
}

finish() {
  local status=$?
  if [ -n "$PREFIX" ]; then
    "$E2E_ROOT/tools/wine-prefix" down "$PREFIX" || status=1
    local left
    left=$(prefix_processes "$PREFIX")
    if [ -n "$left" ]; then
      echo "FAIL - processes of $PREFIX outlived it:"
      echo "$left"
      status=1
    fi
  fi
  if [ "$status" -ne 0 ]; then
    echo "ABORTED (exit status $status)"
  elif [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES check(s) FAILED"
    status=1
  fi
  exit "$status"
}

# start_prefix DIR [CHANNELS]: CHANNELS (e.g. fixme+win) are shown in DIR/services.log, the
# stderr of the prefix's first process, which services and the programs they start inherit.
start_prefix() {
  PREFIX=$(realpath -m "$1")
  export WINEPREFIX=$PREFIX
  trap finish EXIT
  trap 'exit 130' INT TERM
  WINEDEBUG="$WINEDEBUG${2:+,$2}" "$E2E_ROOT/tools/wine-prefix" up "$PREFIX"
  # Windows on a convertible has this key; a fresh prefix does not.
  wine reg add 'HKLM\System\CurrentControlSet\Control\PriorityControl' /v ConvertibleSlateMode \
    /t REG_DWORD /d 0 /f >/dev/null
}

# check DESCRIPTION COMMAND...: runs the command as a test and reports it.
check() {
  local description=$1
  shift
  if "$@"; then
    echo "ok   - $description"
  else
    echo "FAIL - $description"
    FAILURES=$((FAILURES + 1))
  fi
}

# equals EXPECTED ACTUAL: true when they are equal; otherwise shows both.
equals() {
  [ "$1" = "$2" ] && return 0
  printf '       expected: %q\n       actual:   %q\n' "$1" "$2"
  return 1
}

# matches PATTERN ACTUAL: true when ACTUAL matches the shell pattern.
matches() {
  # shellcheck disable=SC2053
  [[ "$2" == $1 ]] && return 0
  printf '       expected a match of: %q\n       actual:   %q\n' "$1" "$2"
  return 1
}

# run_exe EXE ARGS...: runs a Windows program from its own folder; its console text (CR LF
# turned into LF) lands in OUT and its exit status in RC. Output goes through files, never a
# pipe that a process started along the way could hold open.
run_exe() {
  local exe=$1
  shift
  RC=0
  (cd "$(dirname "$exe")" && wine "./$(basename "$exe")" "$@") \
    </dev/null >"$PREFIX/stdout.log" 2>"$PREFIX/stderr.log" || RC=$?
  OUT=$(tr -d '\r' <"$PREFIX/stdout.log")
}

# reg_value KEY NAME: the data of one value as `reg query` shows it, or nothing (status 1) when
# the value or its key is missing.
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -F'    ' -v name="$2" 'tolower($2) == tolower(name) { print $4; found = 1 } END { exit !found }'
}

# key_absent KEY: true when `reg query` finds no such key.
key_absent() {
  ! wine reg query "$1" >/dev/null 2>&1
}

# reg_type KEY NAME: the type of one value (REG_SZ, REG_DWORD, ...).
reg_type() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -F'    ' -v name="$2" 'tolower($2) == tolower(name) { print $3; found = 1 } END { exit !found }'
}

SLATE_KEY='HKLM\System\CurrentControlSet\Control\PriorityControl'
CONFIG_KEY='HKCC\System\CurrentControlSet'
SERVICE_KEY='HKLM\System\CurrentControlSet\Services\HingeflowService'

slate_mode() { reg_value "$SLATE_KEY" ConvertibleSlateMode; }
set_slate_mode() {
  wine reg add "$SLATE_KEY" /v ConvertibleSlateMode /t REG_DWORD /d "$1" /f >/dev/null
}

# service_state NAME: the SCM's state number (1 stopped, 3 stop pending, 4 running), or nothing.
service_state() {
  wine sc query "$1" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $3 }'
}

# eventually SECONDS COMMAND...: true once COMMAND is; the SCM and Wine's msi let a service
# stop after they return. What Wine does is seen only from outside, through its registry, the
# SCM and the log, so it is looked at again every POLL_S seconds (0.2 unless set), where a
# measured figure needs a finer step.
eventually() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep "${POLL_S:-0.2}"
  done
}

# msiexec ARGS...: a silent run. RC is the low byte of its status: 1603, a refused or failed
# installation, reads 67.
msiexec() {
  RC=0
  wine msiexec "$@" /qn </dev/null >/dev/null 2>&1 || RC=$?
}

# wait_for_state NAME STATE SECONDS: `net stop` returns while the service is still stopping.
wait_for_state() {
  local deadline=$((SECONDS + $3))
  while [ "$(service_state "$1")" != "$2" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# net_start NAME: starts a service and waits until it runs. A launch of net.exe that failed
# without a word, about once in 1,000 under load, is tried once more.
net_start() {
  local attempt
  for attempt in 1 2; do
    wine net start "$1" </dev/null >"$PREFIX/stdout.log" 2>"$PREFIX/stderr.log" && break
    [ ! -s "$PREFIX/stdout.log" ] && [ ! -s "$PREFIX/stderr.log" ] || break
  done
  wait_for_state "$1" 4 10 && return 0
  echo "       net start $1 said: $(cat "$PREFIX/stdout.log" "$PREFIX/stderr.log" | tr -d '\r')"
  return 1
}

# log_messages FILE: each line's level and message ("V:service installed"), or "BAD:line" for
# a line that is not "YYYY-MM-DD.HH:MM:SS Verbose: ..." (or " ERROR: ") ending in CR LF.
log_messages() {
  [ -f "$1" ] || return 0
  LC_ALL=C awk '
    /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\.[0-9][0-9]:[0-9][0-9]:[0-9][0-9] Verbose: .*\r$/ {
      print "V:" substr($0, 30, length($0) - 30); next }
    /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]\.[0-9][0-9]:[0-9][0-9]:[0-9][0-9] ERROR: .*\r$/ {
      print "E:" substr($0, 28, length($0) - 28); next }
    { print "BAD:" $0 }' "$1"
}

# install_test_keyboard PLUG_EXE DRIVER_SYS: the test keyboard's controller and driver copied into
# the prefix, the driver registered and started in Wine's driver host.
install_test_keyboard() {
  TEST_KEYBOARD="$PREFIX/drive_c/test keyboard/test_keyboard_plug.exe"
  mkdir -p "$(dirname "$TEST_KEYBOARD")"
  cp "$1" "$2" "$(dirname "$TEST_KEYBOARD")/"
  test_keyboard setup
}

# test_keyboard plug [DELAY_MS] | unplug: the test keyboard comes or goes; a failure says why.
test_keyboard() {
  run_exe "$TEST_KEYBOARD" "$@"
  [ "$RC" = 0 ] && return 0
  echo "       test_keyboard_plug $*: exit status $RC: $(tr -d '\r' <"$PREFIX/stderr.log")"
  return 1
}
