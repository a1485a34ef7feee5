#!/usr/bin/env bash
# Signs one Windows program in place, SHA-256, dated SOURCE_DATE_EPOCH, with
# either
#   QUILLMERE_SIGN_PFX            a PKCS#12 certificate and key (its password
#                                 in QUILLMERE_SIGN_PASSWORD_FILE, if it has one), or
#   QUILLMERE_SIGN_PKCS11_MODULE  the PKCS#11 module of a hardware token,
#   QUILLMERE_SIGN_PKCS11_KEY     the key's PKCS#11 URI or id on it,
#   QUILLMERE_SIGN_CERTS          the certificate (chain) of that key, PEM or DER,
#   QUILLMERE_SIGN_PKCS11_ENGINE  the OpenSSL engine, if not the default;
# and, if set, QUILLMERE_SIGN_TIMESTAMP_URL, an RFC 3161 time-stamp server
# whose countersignature keeps the signature valid after the certificate
# expires (and makes the signed bytes differ from one signing to the next).
# scripts/release.sh calls it for quillmere.exe, and the installer's build
# for the uninstaller and the installer.
set -euo pipefail
file=$1
if [ -n "${QUILLMERE_SIGN_PKCS11_MODULE:-}" ]; then
  args=(sign -pkcs11module "$QUILLMERE_SIGN_PKCS11_MODULE" -key "$QUILLMERE_SIGN_PKCS11_KEY"
        -certs "$QUILLMERE_SIGN_CERTS")
  [ -z "${QUILLMERE_SIGN_PKCS11_ENGINE:-}" ] || args+=(-pkcs11engine "$QUILLMERE_SIGN_PKCS11_ENGINE")
  [ -z "${QUILLMERE_SIGN_PASSWORD_FILE:-}" ] || args+=(-readpass "$QUILLMERE_SIGN_PASSWORD_FILE")
else
  args=(sign -pkcs12 "$QUILLMERE_SIGN_PFX")
  [ -z "${QUILLMERE_SIGN_PASSWORD_FILE:-}" ] || args+=(-readpass "$QUILLMERE_SIGN_PASSWORD_FILE")
fi
args+=(-h sha256 -n Quillmere -time "$SOURCE_DATE_EPOCH")
[ -z "${QUILLMERE_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$QUILLMERE_SIGN_TIMESTAMP_URL")
rm -f "$file.signed"
osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >/dev/null
mv -f "$file.signed" "$file"
