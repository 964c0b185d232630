#!/usr/bin/env bash
# tools/release with a certificate, as a fleet signs with its own: a throwaway CA, a code-signing
# certificate in a password-protected .pfx and a timestamping key, all made here and removed with
# the prefix. Both signatures verify against that CA with their timestamps, the package holds the
# signed executable, one changed byte breaks either signature, and both still install and run
# under Wine.
#   signed_release.sh HINGEFLOW_EXE PREFIX_DIR
source "$(dirname "$0")/lib.sh"
exe=$(realpath "$1")
start_prefix "$2"

pki="$PREFIX/pki"
out="$PREFIX/release"
mkdir -p "$pki"
password='correct horse battery staple'
printf '%s\n' "$password" >"$pki/password"

# certificate NAME ISSUER EXTENSIONS: a key and a certificate for NAME, signed by ISSUER's.
certificate() {
  openssl req -new -newkey rsa:2048 -nodes -subj "/CN=hingeflow test $1" \
    -keyout "$pki/$1.key" -out "$pki/$1.csr" 2>/dev/null
  openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$2.pem" -CAkey "$pki/$2.key" -CAcreateserial \
    -days 2 -extfile <(printf '%s\n' "$3" | tr ';' '\n') -out "$pki/$1.pem" 2>/dev/null
}
for ca in ca other-ca; do
  openssl req -x509 -new -newkey rsa:2048 -nodes -days 2 -subj "/CN=hingeflow test $ca" \
    -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' \
    -keyout "$pki/$ca.key" -out "$pki/$ca.pem" 2>/dev/null
done
certificate signer ca 'basicConstraints=CA:FALSE;keyUsage=critical,digitalSignature;extendedKeyUsage=codeSigning'
certificate tsa ca 'basicConstraints=CA:FALSE;keyUsage=critical,digitalSignature;extendedKeyUsage=critical,timeStamping'
openssl pkcs12 -export -inkey "$pki/signer.key" -in "$pki/signer.pem" -certfile "$pki/ca.pem" \
  -passout "file:$pki/password" -out "$pki/signer.pfx"
rm "$pki/signer.key"
cat >"$pki/tsa.cnf" <<EOF
[tsa]
default_tsa = throwaway
[throwaway]
serial = $pki/tsa.serial
signer_cert = $pki/tsa.pem
signer_key = $pki/tsa.key
certs = $pki/ca.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
echo 01 >"$pki/tsa.serial"

# The timestamp server lives only while the release is made, and always ends before the prefix.
/usr/bin/python3 "$(dirname "$0")/timestamp_server.py" "$pki/tsa.cnf" "$pki/tsa.port" \
  </dev/null >/dev/null 2>"$pki/tsa.log" &
tsa=$!
stop_timestamp_server() {
  kill "$tsa" 2>/dev/null || true
  wait "$tsa" 2>/dev/null || true
}
end() {
  local status=$?
  stop_timestamp_server
  (exit "$status")
  finish
}
trap end EXIT
for _ in $(seq 200); do
  [ ! -s "$pki/tsa.port" ] || break
  sleep 0.1
done
[ -s "$pki/tsa.port" ] || { echo "the timestamp server did not start: $(cat "$pki/tsa.log")"; exit 1; }

echo "== tools/release with a certificate"
RC=0
"$E2E_ROOT/tools/release" --exe "$exe" --out "$out" --sign-pfx "$pki/signer.pfx" \
  --password-file "$pki/password" --timestamp-url "http://127.0.0.1:$(cat "$pki/tsa.port")" \
  </dev/null >"$pki/release.log" 2>&1 || RC=$?
stop_timestamp_server
check "exits with 0" equals 0 "$RC"
[ "$RC" = 0 ] || cat "$pki/release.log" "$pki/tsa.log"
check "says the files are signed and timestamped" \
  matches '*hingeflow.exe and hingeflow-*-x64.msi are signed with *signer.pfx and timestamped by http://127.0.0.1:*' \
  "$(tail -n 1 "$pki/release.log")"
package=$(ls "$out"/hingeflow-*-x64.msi)
fails() { ! "$@"; }
# verify FILE CA: the signature chains to CA and carries a timestamp that verifies.
verify() {
  osslsigncode verify -CAfile "$pki/$2.pem" -TSA-CAfile "$pki/ca.pem" -in "$1" >"$pki/verify.log" 2>&1 &&
    grep -x 'Timestamp Server Signature verification: ok' "$pki/verify.log" >/dev/null
}
for file in "$out/hingeflow.exe" "$package"; do
  check "the signature of ${file##*/} verifies, timestamp included" verify "$file" ca
  check "and is not taken for another CA's" fails verify "$file" other-ca
done
mkdir "$PREFIX/extracted"
msiextract -C "$PREFIX/extracted" "$package" >/dev/null
check "the package holds the signed executable, byte for byte" \
  cmp "$PREFIX/extracted/hingeflow/hingeflow.exe" "$out/hingeflow.exe"
check "SHA256SUMS matches every file shipped" \
  equals "hingeflow.exe: OK|${package##*/}: OK|hingeflow.exe.debug: OK|hingeflow.admx: OK|en-US/hingeflow.adml: OK|" \
  "$(cd "$out" && sha256sum -c SHA256SUMS | tr '\n' '|')"
check "the password is in no file of the release nor in what it printed" \
  fails grep -rF "$password" "$out" "$pki/release.log"

echo "== one changed byte"
# flip FILE OFFSET: the byte at OFFSET, one bit changed.
flip() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N 1 "$1" | tr -d ' ')
  printf '%b' "\\0$(printf %03o $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
cp "$out/hingeflow.exe" "$PREFIX/tampered.exe"
flip "$PREFIX/tampered.exe" $(($(stat -c %s "$exe") / 2))
check "in the executable's code fails its verification" fails verify "$PREFIX/tampered.exe" ca
# The cabinet's stream, which holds the executable: its signature "MSCF" starts a sector.
cp "$package" "$PREFIX/tampered.msi"
cabinet=$(grep -abo MSCF "$PREFIX/tampered.msi" | head -n 1 | cut -d: -f1)
flip "$PREFIX/tampered.msi" $((cabinet + 200))
check "in the package's cabinet fails its verification" fails verify "$PREFIX/tampered.msi" ca

echo "== the signed executable under Wine"
folder="$PREFIX/drive_c/Program Files/hingeflow signed"
mkdir -p "$folder"
cp "$out/hingeflow.exe" "$folder/"
run_exe "$folder/hingeflow.exe" install
check "installs" equals 0 "$RC"
# A value neither mode has: only the service's own writes, 1 at start-up and then its start's
# decision, 0 with nothing attached that it counts, can turn it into 0.
set_slate_mode 2
check "starts with net start" net_start HingeflowService
check "switches as it starts" eventually 10 eval '[ "$(slate_mode)" = 0x0 ]'
run_exe "$folder/hingeflow.exe" uninstall
check "uninstalls" equals 0 "$RC"
# By its Windows path, in a pattern that grep's own command line, listed too, does not match.
service_process_alive() { prefix_processes "$PREFIX" | grep '[a-z]\\hingeflow\.exe' >/dev/null; }
service_gone() { ! service_process_alive && key_absent "$SERVICE_KEY"; }
check "the service is gone" eventually 10 service_gone

echo "== the signed package under Wine's msiexec"
msiexec /i "$(winepath -w "$package")"
check "installs silently" equals 0 "$RC"
check "starts the service" wait_for_state HingeflowService 4 10
msiexec /x "$(winepath -w "$package")"
check "uninstalls silently" equals 0 "$RC"
check "the service is gone" eventually 10 service_gone
