#!/usr/bin/env bash
# Authenticode signing through the project's signing script, with a throw-away self-signed
# certificate: the signed program verifies and names its signer, a byte changed afterwards breaks
# the signature, and incomplete signing settings sign nothing.
# Usage: authenticode_test.sh EXE SIGN_SCRIPT   (EXE: an unsigned Windows executable)
set -euo pipefail
exe=$1
script=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
signer="MUB-AX throw-away test signer $$"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=$signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

echo "-- an unsigned program does not verify"
if osslsigncode verify -CAfile "$work/cert.pem" -in "$exe" >"$work/unsigned.txt" 2>&1; then
  cat "$work/unsigned.txt"
  fail "the unsigned $exe verified"
fi

echo "-- signed with certificate and key from the environment: verifies, names the signer"
cp "$exe" "$work/signed.exe"
MUBAX_SIGN_CERT="$work/cert.pem" MUBAX_SIGN_KEY="$work/key.pem" MUBAX_SIGN_CAFILE="$work/cert.pem" \
  cmake -DMUBAX_SIGN_FILES="$work/signed.exe" -P "$script"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt"; fail "the signed program does not verify"; }
grep -q "Signature verification: ok" "$work/verify.txt" || fail "no successful verification reported"
grep -q "$signer" "$work/verify.txt" || fail "the signer is not named"
cmp -s "$exe" "$work/signed.exe" && fail "signing left the program unchanged"

echo "-- a byte of the code changed after signing breaks the signature"
cp "$work/signed.exe" "$work/tampered.exe"
# The first byte of .text plus 64: inside the hashed image, away from headers and signature.
read -r textSize textOffset < <(x86_64-w64-mingw32-objdump -h "$work/tampered.exe" |
  awk '$2 == ".text" { print $3, $6 }')
[ -n "${textOffset:-}" ] && [ $((16#$textSize)) -gt 64 ] || fail "no .text section found"
offset=$((16#$textOffset + 64))
python3 - "$work/tampered.exe" "$offset" <<'PY'
import sys
with open(sys.argv[1], "r+b") as exe:
    exe.seek(int(sys.argv[2]))
    byte = exe.read(1)[0]
    exe.seek(int(sys.argv[2]))
    exe.write(bytes([byte ^ 0xFF]))
PY
if osslsigncode verify -CAfile "$work/cert.pem" -in "$work/tampered.exe" >"$work/tampered.txt" 2>&1; then
  cat "$work/tampered.txt"
  fail "the changed program still verifies"
fi
grep -qi "mismatch" "$work/tampered.txt" || { cat "$work/tampered.txt"; fail "no digest mismatch reported"; }

echo "-- an encrypted key with a password file, given as variables"
printf 'throw-away password\n' >"$work/password"
openssl pkey -in "$work/key.pem" -aes256 -passout "file:$work/password" -out "$work/key-encrypted.pem"
cp "$exe" "$work/signed-encrypted.exe"
cmake -DMUBAX_SIGN_FILES="$work/signed-encrypted.exe" -DMUBAX_SIGN_CERT="$work/cert.pem" \
  -DMUBAX_SIGN_KEY="$work/key-encrypted.pem" -DMUBAX_SIGN_PASSWORD_FILE="$work/password" \
  -DMUBAX_SIGN_CAFILE="$work/cert.pem" -P "$script"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed-encrypted.exe" >/dev/null 2>&1 ||
  fail "the program signed with an encrypted key does not verify"

echo "-- a key without its certificate: refused, the program left as it was"
cp "$exe" "$work/half.exe"
if cmake -DMUBAX_SIGN_FILES="$work/half.exe" -DMUBAX_SIGN_KEY="$work/key.pem" -P "$script" \
     >"$work/half.txt" 2>&1; then
  fail "signing went ahead without a certificate"
fi
cmp -s "$exe" "$work/half.exe" || fail "a refused signing changed the program"

echo "-- no certificate and no key: nothing signed, nothing changed"
cp "$exe" "$work/unsigned.exe"
env -u MUBAX_SIGN_CERT -u MUBAX_SIGN_KEY cmake -DMUBAX_SIGN_FILES="$work/unsigned.exe" -P "$script"
cmp -s "$exe" "$work/unsigned.exe" || fail "the program changed without signing settings"

echo "all signing checks passed"
