#!/usr/bin/env bash
# sign-update.sh EXE CERT.pfx [PASS_FILE]: signs the finished wizard with Authenticode
# (osslsigncode, SHA-256) in place and checks the signature. Only the wizard is signed: the
# applier inside it carries its patch data after its image, where a signature would be read
# as a broken entry.
#
#   SIGN_TIMESTAMP_URL=url   an RFC 3161 time-stamp server (none by default: builds may
#                            have no network); the signature then outlives the certificate
#   SIGN_CA_FILE=file        the certificates the check trusts (default: the system's); a
#                            throw-away certificate is its own CA file
#   SIGN_DESCRIPTION=text    the program name Windows shows in its prompts
set -euo pipefail

die() {
  echo "sign-update: $*" >&2
  exit 1
}

[ $# -ge 2 ] && [ $# -le 3 ] || die "usage: sign-update.sh EXE CERT.pfx [PASS_FILE]"
exe="$1" cert="$2" pass_file="${3:-}"
command -v osslsigncode >/dev/null || die "osslsigncode is missing (Debian package osslsigncode; make deps)"
[ -f "$exe" ] || die "the program $exe does not exist"
[ -f "$cert" ] || die "the certificate $cert does not exist or is not a file"
[ -z "$pass_file" ] || [ -f "$pass_file" ] || die "the password file $pass_file does not exist or is not a file"

args=(sign -pkcs12 "$cert" -h sha256)
if [ -n "$pass_file" ]; then
  args+=(-readpass "$pass_file")
else
  args+=(-pass "")
fi
[ -n "${SIGN_DESCRIPTION:-}" ] && args+=(-n "$SIGN_DESCRIPTION")
[ -n "${SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$SIGN_TIMESTAMP_URL")

signed="$exe.signing"
trap 'rm -f "$signed"' EXIT
rm -f "$signed"
if ! log="$(osslsigncode "${args[@]}" -in "$exe" -out "$signed" 2>&1)"; then
  # osslsigncode's own words say which: a wrong password, an unreadable file, no network.
  die "signing failed (wrong password, not a PKCS#12 file, or the time-stamp server cannot be reached): $(grep -v '^$' <<<"$log" | tail -n 3 | tr '\n' ' ')"
fi

verify=(verify -in "$signed")
[ -n "${SIGN_CA_FILE:-}" ] && verify+=(-CAfile "$SIGN_CA_FILE")
if ! log="$(osslsigncode "${verify[@]}" 2>&1)"; then
  die "the signed program does not verify: $(grep -iE 'fail|error|mismatch' <<<"$log" | head -n 3 | tr '\n' ' ')"
fi
chmod --reference="$exe" "$signed"
mv "$signed" "$exe"
echo "sign-update: $exe signed and verified ($(sed -n 's/^[[:space:]]*Subject: //p' <<<"$log" | head -n 1))"
