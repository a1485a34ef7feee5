#!/usr/bin/env bash
# Signs one Windows program in place with the certificate of
# QUILLMERE_SIGN_PFX (its password in QUILLMERE_SIGN_PASSWORD_FILE, if it has
# one), SHA-256, dated SOURCE_DATE_EPOCH. scripts/release.sh calls it for
# quillmere.exe, and the installer's build for the uninstaller and the
# installer.
set -euo pipefail
file=$1
args=(sign -pkcs12 "$QUILLMERE_SIGN_PFX" -h sha256 -n Quillmere -time "$SOURCE_DATE_EPOCH")
[ -z "${QUILLMERE_SIGN_PASSWORD_FILE:-}" ] || args+=(-readpass "$QUILLMERE_SIGN_PASSWORD_FILE")
rm -f "$file.signed"
osslsigncode "${args[@]}" -in "$file" -out "$file.signed" >/dev/null
mv -f "$file.signed" "$file"
