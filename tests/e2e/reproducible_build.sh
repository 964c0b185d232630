#!/usr/bin/env bash
# Two builds of one source tree in two folders give the same bytes: tools/release builds
# hingeflow.exe afresh in a folder of its own, and its executable, debug file and package must
# equal those of the build that the other tests use.
#   reproducible_build.sh HINGEFLOW_EXE PACKAGE WORK_DIR
source "$(dirname "$0")/lib.sh"
trap finish EXIT
exe=$(realpath "$1")
package=$(realpath "$2")
work=$(realpath -m "$3")
rm -rf "$work"

RC=0
"$E2E_ROOT/tools/release" --build-dir "$work/build" --out "$work/out" </dev/null \
  >"$work.log" 2>&1 || RC=$?
check "tools/release exits with 0" equals 0 "$RC"
check "and says plainly that nothing is signed" \
  matches '*UNSIGNED*hingeflow.exe and hingeflow-*-x64.msi carry no signature' "$(tail -n 1 "$work.log")"
for pair in "$exe:hingeflow.exe" "$exe.debug:hingeflow.exe.debug" "$package:${package##*/}" \
  "$E2E_ROOT/policy/hingeflow.admx:hingeflow.admx" \
  "$E2E_ROOT/policy/en-US/hingeflow.adml:en-US/hingeflow.adml"; do
  check "${pair##*:} is the same bytes" cmp "${pair%%:*}" "$work/out/${pair##*:}"
done
check "SHA256SUMS matches every file shipped" \
  equals "hingeflow.exe: OK|${package##*/}: OK|hingeflow.exe.debug: OK|hingeflow.admx: OK|en-US/hingeflow.adml: OK|" \
  "$(cd "$work/out" && sha256sum -c SHA256SUMS | tr '\n' '|')"
[ "$FAILURES" -ne 0 ] || rm -rf "$work" "$work.log"
