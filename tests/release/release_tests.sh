#!/usr/bin/env bash
# The release that scripts/release.sh makes, tested from outside. Each run
# of release.sh happens in a copy of the sources (as a fresh clone would
# be: its own build folder, its own dist/), dated by the last commit.
# Usage: release_tests.sh TEST SOURCE_DIR WORK_DIR VERSION
#   build         the release in WORK_DIR/a, with winget's and Scoop's
#                 manifests for a test address, and an older installer
#                 (version 0.9.0, an exe of its own) in WORK_DIR/older for
#                 upgrades;
#   reproducible  the release again in another folder, later, in another
#                 time zone and umask: the same bytes, manifests included;
#   files         the zip's contents and dates, SHA256SUMS and BUILDINFO;
#   manifests     the manifests against winget's and Scoop's schemas (kept
#                 in tests/release/schemas) and the release, see
#                 manifests_check.py; leaves WORK_DIR/a/manifest-facts.txt
#                 for release_e2e_winget;
#   signing       the release signed with a certificate made here, without
#                 an address for the manifests: the exe, the uninstaller and
#                 the installer carry its signature, and there are no
#                 manifests;
#   manifest_options  addresses that release.sh refuses before it builds,
#                 and a changelog without the version's entry (needs no
#                 release);
#   sign_options  what scripts/sign.sh asks of osslsigncode for a PKCS#12
#                 file, a hardware token and a time-stamp server (needs no
#                 release);
#   languages     the installer's own texts, read from its script: each in
#                 every language it loads, with the same variables (needs no
#                 release).
set -euo pipefail
test=$1
source_dir=$(realpath "$2")
work=$3
version=$4
setup="Quillmere-$version-setup.exe"
zip="Quillmere-$version-portable.zip"
older_version=0.9.0
# Where the test releases say their files will be, and their home page.
release_url="https://downloads.example.org/quillmere/$version"
homepage_url="https://quillmere.example.org"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

# The sources as they stand (committed or not, but not what git ignores).
copy_sources() {
  rm -rf "$1"
  mkdir -p "$1"
  (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
     xargs -0 cp --parents -t "$1")
}

release_in() {
  (cd "$1" && scripts/release.sh) >"$1.log" 2>&1 || { cat "$1.log" >&2; fail "scripts/release.sh in $1"; }
}

# Whether the file carries an Authenticode signature made with cert.pem.
signed_by() {
  local file=$1 cert=$2
  osslsigncode verify -CAfile "$cert" -in "$file" >/dev/null 2>&1 || return 1
  rm -f "$file.sig"
  osslsigncode extract-signature -pem -in "$file" -out "$file.sig" >/dev/null 2>&1 || return 1
  local signer expected
  signer=$(openssl pkcs7 -in "$file.sig" -print_certs | openssl x509 -noout -fingerprint -sha256)
  expected=$(openssl x509 -in "$cert" -noout -fingerprint -sha256)
  rm -f "$file.sig"
  [ "$signer" = "$expected" ]
}

case $test in
  build)
    mkdir -p "$work"
    rm -rf "$work/older"
    copy_sources "$work/a"
    QUILLMERE_RELEASE_URL=$release_url QUILLMERE_HOMEPAGE_URL=$homepage_url release_in "$work/a"
    date +%s >"$work/a.done"
    for file in "$setup" "$zip" SHA256SUMS BUILDINFO scoop/quillmere.json; do
      [ -f "$work/a/dist/$file" ] || fail "no dist/$file"
    done
    listed=$(cd "$work/a/dist" && LC_ALL=C ls | tr '\n' ' ')
    [ "$listed" = "BUILDINFO $zip $setup SHA256SUMS scoop winget " ] ||
      fail "dist/ holds $listed, not the four files and the manifests' two folders"
    # The older release's exe differs from this one by bytes after its end,
    # which Windows ignores: an upgrade can be seen to replace it.
    mkdir -p "$work/older/stage"
    cp "$work/a/build-release/stage/"* "$work/older/stage/"
    printf 'older' >>"$work/older/stage/quillmere.exe"
    makensis -V2 -WX -DVERSION="$older_version" -DSTAGE="$work/older/stage" \
      -DOUTFILE="$work/older/Quillmere-$older_version-setup.exe" "$work/a/packaging/quillmere.nsi" ||
      fail "makensis for the older installer"
    ;;

  reproducible)
    [ -f "$work/a.done" ] || fail "the release_build test did not run"
    # Another folder and a later time: at least a second after the first.
    while [ "$(date +%s)" -le "$(cat "$work/a.done")" ]; do sleep 0.2; done
    copy_sources "$work/b-elsewhere"
    (umask 077; TZ=Pacific/Chatham QUILLMERE_RELEASE_URL=$release_url QUILLMERE_HOMEPAGE_URL=$homepage_url \
       release_in "$work/b-elsewhere")
    status=0
    files_a=$(cd "$work/a" && find dist -type f | sort)
    files_b=$(cd "$work/b-elsewhere" && find dist -type f | sort)
    if [ "$files_a" != "$files_b" ]; then
      echo "FAIL: the two builds made different files:" >&2
      diff <(echo "$files_a") <(echo "$files_b") >&2
      status=1
    fi
    [ "$(grep -c '^dist/winget/' <<<"$files_a")" -eq 10 ] || { echo "FAIL: not the ten winget manifests" >&2; status=1; }
    for file in build-release/quillmere.exe $files_a; do
      if cmp "$work/a/$file" "$work/b-elsewhere/$file"; then echo "same bytes: $file"
      else echo "FAIL: $file differs between the two builds" >&2; status=1; fi
    done
    exit $status
    ;;

  files)
    cd "$work/a/dist"
    sha256sum -c SHA256SUMS || fail "sha256sum -c SHA256SUMS"
    [ "$(awk '{print $2}' SHA256SUMS | sort | tr '\n' ' ')" = "$zip $setup " ] ||
      fail "SHA256SUMS names $(awk '{print $2}' SHA256SUMS | tr '\n' ' ')"
    [ "$(zipinfo -1 "$zip" | tr '\n' ' ')" = "quillmere.exe README.txt LICENSE.txt " ] ||
      fail "the zip holds $(zipinfo -1 "$zip" | tr '\n' ' ')"
    unzip -p "$zip" quillmere.exe | cmp - ../build-release/quillmere.exe || fail "the zip's exe is not the one built"
    # Every entry dated by the commit, to the even second below it.
    expected_date=$(TZ=UTC date -d "@$(( SOURCE_DATE_EPOCH / 2 * 2 ))" +%Y%m%d.%H%M%S)
    dates=$(TZ=UTC zipinfo -T -s "$zip" | awk '/^-/ {print $(NF-1)}' | sort -u)
    [ "$dates" = "$expected_date" ] || fail "zip entries dated $dates, the commit $expected_date"
    # Text files for Notepad: CR LF on every line, none bare.
    for text in README.txt LICENSE.txt; do
      lines=$(unzip -p "$zip" "$text" | wc -l)
      crlf=$(unzip -p "$zip" "$text" | grep -c $'\r$')
      [ "$lines" -gt 10 ] && [ "$crlf" -eq "$lines" ] || fail "$text: $crlf of $lines lines end in CR LF"
    done
    unzip -p "$zip" LICENSE.txt | tr -d '\r' | cmp - "$source_dir/LICENSE" || fail "LICENSE.txt is not LICENSE"
    readme=$(unzip -p "$zip" README.txt | tr -d '\r')
    grep -q "Quillmere $version - portable" <<<"$readme" || fail "README.txt does not name version $version"
    grep -q "Quillmere-$version-setup.exe" <<<"$readme" || fail "README.txt does not name the installer"
    ! grep -q "@VERSION@" <<<"$readme" || fail "README.txt has @VERSION@ left"
    grep -q 'C:\\Program Files\\Quillmere' <<<"$readme" || fail "README.txt does not say where to put it"
    # What built it: this machine's Debian and packages, read afresh here.
    buildinfo=$(cat BUILDINFO)
    grep -qx "Quillmere $version" <<<"$buildinfo" || fail "BUILDINFO does not name version $version"
    grep -qx "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH" <<<"$buildinfo" || fail "BUILDINFO does not give SOURCE_DATE_EPOCH"
    grep -qx "debian $(cat /etc/debian_version)" <<<"$buildinfo" || fail "BUILDINFO does not give Debian's version"
    for package in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev nsis nsis-common \
                   osslsigncode zip cmake python3; do
      line=$(dpkg-query -W -f='${Package} ${Version} ${Architecture}' "$package")
      grep -qxF "$line" <<<"$buildinfo" || fail "BUILDINFO lacks \"$line\""
    done
    ! grep -q "$work" <<<"$buildinfo" || fail "BUILDINFO names the build's folder"
    echo "zip, dates, text files, SHA256SUMS and BUILDINFO as they should be"
    ;;

  manifests)
    facts="$work/a/manifest-facts.txt"
    rm -f "$facts"
    /usr/bin/python3 "$source_dir/tests/release/manifests_check.py" "$source_dir" "$work/a/dist" "$version" \
      "$release_url" "$homepage_url" "$facts"
    ;;

  signing)
    [ -n "${QUILLMERE_TEST_PREFIX:-}" ] || fail "run through scripts/test.sh"
    keys="$work/signing-keys"
    rm -rf "$keys"
    mkdir -p "$keys"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/key.pem" -out "$keys/cert.pem" -days 2 \
      -subj "/CN=Quillmere test signer $$" -addext extendedKeyUsage=codeSigning 2>/dev/null
    head -c 18 /dev/urandom | base64 >"$keys/password"
    openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/signer.pfx" \
      -passout "file:$keys/password"
    cert="$keys/cert.pem"
    # The unsigned release carries no signature: the check can tell.
    ! signed_by "$work/a/dist/$setup" "$cert" || fail "the unsigned installer passes as signed"
    ! signed_by "$work/a/build-release/quillmere.exe" "$cert" || fail "the unsigned exe passes as signed"

    copy_sources "$work/signed"
    # Signed after the certificate was made (verifying checks its dates).
    SOURCE_DATE_EPOCH=$(date +%s) QUILLMERE_SIGN_PFX="$keys/signer.pfx" \
      QUILLMERE_SIGN_PASSWORD_FILE="$keys/password" QUILLMERE_RELEASE_URL= release_in "$work/signed"
    dist="$work/signed/dist"
    (cd "$dist" && sha256sum -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS of the signed release"
    # No address for the files: no manifests, and the release says why.
    [ ! -e "$dist/winget" ] && [ ! -e "$dist/scoop" ] || fail "manifests without QUILLMERE_RELEASE_URL"
    grep -q "QUILLMERE_RELEASE_URL is not set, so no winget or Scoop manifests" "$work/signed.log" ||
      fail "the release does not say why it wrote no manifests"
    signed_by "$dist/$setup" "$cert" || fail "the installer is not signed"
    mkdir -p "$work/signed/unzipped"
    unzip -o -q "$dist/$zip" quillmere.exe -d "$work/signed/unzipped"
    signed_by "$work/signed/unzipped/quillmere.exe" "$cert" || fail "the zip's quillmere.exe is not signed"
    # Without its signature, the exe of the unsigned build: what a rebuild
    # is compared with when a time stamp makes signed bytes differ.
    osslsigncode remove-signature -in "$work/signed/unzipped/quillmere.exe" -out "$work/signed/unsigned.exe" >/dev/null
    cmp "$work/signed/unsigned.exe" "$work/a/build-release/quillmere.exe" ||
      fail "the signed exe without its signature is not the unsigned build's"
    # The installer's payload, as it lands on disk under Wine; no copy of
    # its shortcut in the Linux desktop's menus.
    export WINEPREFIX="$QUILLMERE_TEST_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wine reg add 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d '' /f >/dev/null
    installed="$WINEPREFIX/drive_c/Program Files/Quillmere"
    rm -rf "$installed"
    wine "$dist/$setup" /S || fail "the signed installer did not install"
    status=0
    for file in quillmere.exe uninstall.exe; do
      if signed_by "$installed/$file" "$cert"; then echo "signed: installed $file"
      else echo "FAIL: the installed $file is not signed" >&2; status=1; fi
    done
    # Without _?=, which wine would quote (the folder has a space) and the
    # uninstaller then ignore: it returns at once and removes from a copy.
    wine "$installed/uninstall.exe" /S || status=1
    for _ in $(seq 600); do [ -e "$installed" ] || break; sleep 0.1; done
    [ ! -e "$installed" ] || { echo "FAIL: the uninstaller left $installed" >&2; status=1; }
    rm -rf "$installed"
    [ $status -eq 0 ] && echo "exe, uninstaller and installer signed by the given certificate"
    exit $status
    ;;

  sign_options)
    # osslsigncode played by a script that notes its arguments, one a line.
    fake="$work/fake-osslsigncode"
    rm -rf "$fake"
    mkdir -p "$fake/bin"
    cat >"$fake/bin/osslsigncode" <<'FAKE'
#!/bin/sh
printf '%s\n' "$@" >"$FAKE_ARGS"
while [ $# -gt 0 ]; do [ "$1" = -out ] && : >"$2"; shift; done
FAKE
    chmod +x "$fake/bin/osslsigncode"
    status=0
    # Each row: the environment given, then the options expected before
    # -in, space-separated.
    while IFS='|' read -r environment expected; do
      : >"$fake/program.exe"
      (unset QUILLMERE_SIGN_PFX QUILLMERE_SIGN_PASSWORD_FILE QUILLMERE_SIGN_PKCS11_MODULE QUILLMERE_SIGN_PKCS11_KEY \
         QUILLMERE_SIGN_CERTS QUILLMERE_SIGN_PKCS11_ENGINE QUILLMERE_SIGN_TIMESTAMP_URL
       export PATH="$fake/bin:$PATH" FAKE_ARGS="$fake/args" SOURCE_DATE_EPOCH=1700000000
       eval "export $environment"
       "$source_dir/scripts/sign.sh" "$fake/program.exe") || { echo "FAIL: sign.sh with $environment" >&2; status=1; continue; }
      got=$(tr '\n' ' ' <"$fake/args")
      want="$expected -in $fake/program.exe -out $fake/program.exe.signed "
      if [ "$got" = "$want" ]; then echo "as expected: $environment"
      else echo "FAIL: with $environment: osslsigncode $got; expected $want" >&2; status=1; fi
    done <<'ROWS'
QUILLMERE_SIGN_PFX=/k/signer.pfx|sign -pkcs12 /k/signer.pfx -h sha256 -n Quillmere -time 1700000000
QUILLMERE_SIGN_PFX=/k/signer.pfx QUILLMERE_SIGN_PASSWORD_FILE=/k/pw|sign -pkcs12 /k/signer.pfx -readpass /k/pw -h sha256 -n Quillmere -time 1700000000
QUILLMERE_SIGN_PFX=/k/signer.pfx QUILLMERE_SIGN_TIMESTAMP_URL=http://ts.example/rfc3161|sign -pkcs12 /k/signer.pfx -h sha256 -n Quillmere -time 1700000000 -ts http://ts.example/rfc3161
QUILLMERE_SIGN_PKCS11_MODULE=/usr/lib/token.so QUILLMERE_SIGN_PKCS11_KEY=pkcs11:object=q QUILLMERE_SIGN_CERTS=/k/chain.pem|sign -pkcs11module /usr/lib/token.so -key pkcs11:object=q -certs /k/chain.pem -h sha256 -n Quillmere -time 1700000000
QUILLMERE_SIGN_PKCS11_MODULE=/usr/lib/token.so QUILLMERE_SIGN_PKCS11_KEY=01 QUILLMERE_SIGN_CERTS=/k/c.der QUILLMERE_SIGN_PKCS11_ENGINE=/e/pkcs11.so QUILLMERE_SIGN_PASSWORD_FILE=/k/pin QUILLMERE_SIGN_TIMESTAMP_URL=http://ts.example/|sign -pkcs11module /usr/lib/token.so -key 01 -certs /k/c.der -pkcs11engine /e/pkcs11.so -readpass /k/pin -h sha256 -n Quillmere -time 1700000000 -ts http://ts.example/
ROWS
    exit $status
    ;;

  manifest_options)
    # Each row: the environment given, then what release.sh says as it
    # stops; nothing is built. In a copy, since a release that went on would
    # build there.
    copy_sources "$work/options"
    sed -i "s/^## $version /## $version-not /" "$work/options/CHANGELOG.md"
    status=0
    while IFS='|' read -r environment expected; do
      expected=${expected//VERSION/$version}
      rm -rf "$work/options/dist"
      if (unset QUILLMERE_RELEASE_URL QUILLMERE_HOMEPAGE_URL QUILLMERE_SIGN_PFX QUILLMERE_SIGN_PKCS11_MODULE
          eval "export $environment"
          cd "$work/options" && scripts/release.sh) >"$work/options.log" 2>&1; then
        echo "FAIL: release.sh went on with $environment" >&2; status=1
      elif ! grep -qF "$expected" "$work/options.log" || [ -e "$work/options/dist" ]; then
        echo "FAIL: with $environment: $(cat "$work/options.log"); expected \"$expected\" and no dist/" >&2
        status=1
      else
        echo "refused: $environment"
      fi
    done <<'ROWS'
QUILLMERE_RELEASE_URL=http://downloads.example.org/quillmere QUILLMERE_HOMEPAGE_URL=https://quillmere.example.org|QUILLMERE_RELEASE_URL (http://downloads.example.org/quillmere) is not an https address
QUILLMERE_RELEASE_URL='https://downloads.example.org/get?file=' QUILLMERE_HOMEPAGE_URL=https://quillmere.example.org|is not an https address without a query
QUILLMERE_RELEASE_URL='https://downloads.example.org/$version' QUILLMERE_HOMEPAGE_URL=https://quillmere.example.org|is not an https address without a query
QUILLMERE_RELEASE_URL=https://downloads.example.org/quillmere|set QUILLMERE_HOMEPAGE_URL too
QUILLMERE_RELEASE_URL=https://downloads.example.org/quillmere QUILLMERE_HOMEPAGE_URL='https://quillmere.example.org/a b'|QUILLMERE_HOMEPAGE_URL (https://quillmere.example.org/a b) is not an https address
QUILLMERE_RELEASE_URL=https://downloads.example.org/quillmere/ QUILLMERE_HOMEPAGE_URL=https://quillmere.example.org|CHANGELOG.md has no entry "## VERSION"
ROWS
    exit $status
    ;;

  languages)
    # makensis only warns about a text missing in one language (and shows
    # that language's user an empty message); this names what is missing.
    python3 - "$source_dir/packaging" <<'CHECK'
import glob, os, re, sys
from collections import Counter

folder = sys.argv[1]
expected = ["English", "German", "French", "Spanish", "PortugueseBR", "Russian", "SimpChinese", "Japanese"]
errors = []
lines = []  # (file, number, text)
for path in sorted(glob.glob(os.path.join(folder, "*.nsi")) + glob.glob(os.path.join(folder, "*.nsh"))):
    with open(path, encoding="utf-8-sig") as f:
        lines += [(os.path.basename(path), n, line.rstrip("\n")) for n, line in enumerate(f, 1)]

loaded = [m.group(1) for _, _, t in lines for m in [re.match(r'\s*!insertmacro\s+MUI_LANGUAGE\s+"([^"]+)"', t)] if m]
if loaded != expected:
    errors.append(f"languages loaded: {loaded}; expected {expected}, English first")
ids = {"LANG_" + name.upper() for name in loaded}

texts = {}  # name -> {language id: text}
for file, n, t in lines:
    if not re.match(r"\s*LangString\b", t):
        continue
    m = re.match(r'\s*LangString\s+(\w+)\s+\$\{(LANG_\w+)\}\s+"(.*)"\s*$', t)
    if not m:
        errors.append(f"{file}:{n}: a LangString not of the form: LangString name ${{LANG_X}} \"text\"")
        continue
    name, lang, text = m.groups()
    if lang not in ids:
        errors.append(f"{file}:{n}: {name} in {lang}, a language not loaded")
    if lang in texts.setdefault(name, {}):
        errors.append(f"{file}:{n}: {name} in {lang} a second time")
    texts[name][lang] = text
    if not text.strip():
        errors.append(f"{file}:{n}: {name} in {lang} is empty")

for name, by_lang in sorted(texts.items()):
    missing = sorted(ids - by_lang.keys())
    if missing:
        errors.append(f"{name} has no text in {', '.join(missing)}")

# Each translation names the same variables, line breaks, folders and
# figures as the English text, as often.
def marks(text):
    variables = re.findall(r"\$(?:\\[rnt\"]|\{\w+\}|\(\^?\w+\)|\w+)", text)
    rest = re.sub(r"\$(?:\\[rnt\"]|\{\w+\}|\(\^?\w+\)|\w+)", " ", text)
    return Counter(variables + re.findall(r"%\w+%|quillmere\.exe|\d+", rest))
for name, by_lang in sorted(texts.items()):
    if "LANG_ENGLISH" not in by_lang:
        continue
    english = marks(by_lang["LANG_ENGLISH"])
    for lang, text in sorted(by_lang.items()):
        if marks(text) != english:
            errors.append(f"{name} in {lang} has {sorted(marks(text).elements())}, English {sorted(english.elements())}")

# What the script shows comes from those texts: every $(name) used is
# defined, and no message is written out in one language.
for file, n, t in lines:
    code = "" if t.lstrip().startswith((";", "#", "LangString")) else t
    for used in re.findall(r"\$\((\w+)\)", code):
        if used not in texts:
            errors.append(f"{file}:{n}: $({used}) is used but no LangString defines it")
    shown = re.match(r'\s*(?:MessageBox\s+\S+|DetailPrint|!define\s+MUI_\w*TEXT\w*)\s+"([^"]*)"', code)
    if shown and not re.fullmatch(r"\$\(\w+\)", shown.group(1)):
        errors.append(f"{file}:{n}: shows \"{shown.group(1)}\" in one language, not through a LangString")
# A message in a Retry/Cancel box names its buttons as Windows labels them
# in the installer's language (the language the installer picks is
# Windows' display language), as Microsoft's MessageBox page lists them.
buttons = {
    "LANG_ENGLISH": ("Retry", "Cancel"),
    "LANG_GERMAN": ("Wiederholen", "Abbrechen"),
    "LANG_FRENCH": ("Réessayer", "Annuler"),
    "LANG_SPANISH": ("Reintentar", "Cancelar"),
    "LANG_PORTUGUESEBR": ("Repetir", "Cancelar"),
    "LANG_RUSSIAN": ("Повторить", "Отмена"),
    "LANG_SIMPCHINESE": ("重试", "取消"),
    "LANG_JAPANESE": ("再試行", "キャンセル"),
}
for lang in sorted(ids - buttons.keys()):
    errors.append(f"no labels of the Retry and Cancel buttons in {lang}")
retry_cancel = sorted({m.group(1) for _, _, t in lines
                       for m in [re.match(r'\s*MessageBox\s+MB_RETRYCANCEL\S*\s+"\$\((\w+)\)"', t)] if m})
if not retry_cancel:
    errors.append("no message shown in a Retry/Cancel box: the check of its buttons found nothing to check")
for name in retry_cancel:
    for lang, text in sorted(texts.get(name, {}).items()):
        for label in buttons.get(lang, ()):
            if label not in text:
                errors.append(f"{name} in {lang}, shown with Retry and Cancel, does not name the button {label}")

# French keeps : ; ! ? and % with the word before them, and « » with the
# words inside, by no-break spaces (U+00A0): a plain space there lets the
# message box wrap between them. %APPDATA% and the like are no percent signs.
for name, by_lang in sorted(texts.items()):
    text = by_lang.get("LANG_FRENCH", "")
    for m in re.finditer(r" [:;!?%\u00bb]|\u00ab ", re.sub(r"%\w+%", "_", text)):
        errors.append(f"{name} in LANG_FRENCH: a plain space in \"{m.group(0)}\" at {m.start()}")

unused = sorted(set(texts) - {u for _, _, t in lines for u in re.findall(r"\$\((\w+)\)", t)})
if unused:
    errors.append(f"LangStrings never used: {', '.join(unused)}")

for error in errors:
    print("FAIL:", error, file=sys.stderr)
if errors:
    sys.exit(1)
print(f"{len(texts)} texts, each in {len(ids)} languages: {', '.join(loaded)}")
CHECK
    ;;

  *)
    fail "unknown test $test"
    ;;
esac
