#!/usr/bin/env bash
# scripts/sign-update.sh on a copy of the built Update.exe, with a throw-away certificate:
# a good signature verifies and covers the wizard unchanged (removing it gives back the
# same bytes, payload included); a wrong password, a missing certificate or a signature
# nobody trusts are refused with a clear message and leave the program as it was.
set -uo pipefail
out_bin="$1"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
sign="$repo/scripts/sign-update.sh"
[ -f "$out_bin/Update.exe" ] || { echo "no $out_bin/Update.exe: the Windows build is missing"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
check() {  # check WHAT COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; fails=$((fails + 1)); fi
}

openssl req -x509 -newkey rsa:2048 -keyout key.pem -out cert.pem -days 2 -nodes -subj "/CN=Test Vendor" 2>/dev/null
printf 'secret' >pass.txt
printf 'wrong' >wrong.txt
openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.pfx -passout file:pass.txt || exit 1
cp "$out_bin/Update.exe" original.exe

# Refusals: CA file, certificate, password file, expected message.
while IFS='|' read -r what ca cert pass message; do
  cp original.exe Update.exe
  said="$(SIGN_CA_FILE="$ca" bash "$sign" Update.exe "$cert" ${pass:+"$pass"} 2>&1)"
  check "$what: refused" test $? -ne 0
  check "$what: says why" grep -q "$message" <<<"$said"
  check "$what: the program is untouched" cmp -s Update.exe original.exe
done <<'CASES'
wrong password|cert.pem|cert.pfx|wrong.txt|signing failed (wrong password
missing certificate|cert.pem|none.pfx|pass.txt|the certificate none.pfx does not exist
missing password file|cert.pem|cert.pfx|none.txt|the password file none.txt does not exist
untrusted certificate||cert.pfx|pass.txt|the signed program does not verify
CASES

cp original.exe Update.exe
said="$(SIGN_CA_FILE=cert.pem bash "$sign" Update.exe cert.pfx pass.txt 2>&1)"
check "signed: succeeds ($said)" test $? -eq 0
verifies() { osslsigncode verify -in "$1" -CAfile cert.pem >/dev/null 2>&1; }
check "signed: osslsigncode verifies it" verifies Update.exe
check "signed: the signer is the test vendor" grep -q "CN=Test Vendor" <<<"$said"
osslsigncode remove-signature -in Update.exe -out unsigned.exe >/dev/null 2>&1
check "signed: without the signature it is the same program" cmp -s unsigned.exe original.exe
check "signed: still executable" test -x Update.exe

[ "$fails" -eq 0 ] && echo "sign.update: all checks passed" || echo "sign.update: $fails checks failed"
[ "$fails" -eq 0 ]
