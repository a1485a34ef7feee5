#!/usr/bin/env bash
# Builds a release of Quillmere into dist/: Quillmere-<version>-setup.exe (the
# installer), Quillmere-<version>-portable.zip (quillmere.exe, README.txt and
# LICENSE.txt), SHA256SUMS for both, and BUILDINFO, what built them (the
# Debian release and the versions of the packages that shape their bytes),
# so that the same bytes can be built again later. <version> is the one of project() in
# CMakeLists.txt. The same commit gives the same bytes in any folder at any
# time: every date in the release is the commit's (SOURCE_DATE_EPOCH, taken
# from git unless set).
#
# Signing: with QUILLMERE_SIGN_PFX naming a PKCS#12 certificate (and
# QUILLMERE_SIGN_PASSWORD_FILE a file holding its password, if it has one),
# or QUILLMERE_SIGN_PKCS11_MODULE and QUILLMERE_SIGN_PKCS11_KEY naming a key
# on a hardware token (with its certificate in QUILLMERE_SIGN_CERTS), and
# optionally QUILLMERE_SIGN_TIMESTAMP_URL, quillmere.exe, the uninstaller
# and the installer are signed before the checksums are taken (see
# scripts/sign.sh); without either the release is unsigned.
#
# Package managers: with QUILLMERE_RELEASE_URL, the https address the
# release's files will be downloaded from (each file's name is appended to
# it), and QUILLMERE_HOMEPAGE_URL, the project's home page, it also writes
# winget's manifest for the installer (dist/winget/manifests/...) and
# Scoop's for the zip (dist/scoop/quillmere.json), see
# packaging/manifests.py; without them, neither: the manifests must name
# where the files are, which only whoever publishes them knows.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "release: not a git checkout; set SOURCE_DATE_EPOCH to the commit's time" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  echo "release: warning: the tree has uncommitted changes; the release holds them but bears the last commit's date" >&2
fi

# An https address without a query, a fragment or a "$" (which Scoop reads
# as a variable), with no slash at its end.
url_pattern='^https://[A-Za-z0-9.-]+(:[0-9]+)?(/[A-Za-z0-9._~%!&()*+,;=:@/-]*)?$'
release_url=${QUILLMERE_RELEASE_URL:-}
release_url=${release_url%/}
homepage=${QUILLMERE_HOMEPAGE_URL:-}
if [ -n "$release_url" ]; then
  [[ $release_url =~ $url_pattern ]] ||
    { echo "release: QUILLMERE_RELEASE_URL ($release_url) is not an https address without a query" >&2; exit 1; }
  [ -n "$homepage" ] ||
    { echo "release: set QUILLMERE_HOMEPAGE_URL too: the manifests name the project's home page" >&2; exit 1; }
  [[ $homepage =~ $url_pattern ]] ||
    { echo "release: QUILLMERE_HOMEPAGE_URL ($homepage) is not an https address without a query" >&2; exit 1; }
else
  echo "release: QUILLMERE_RELEASE_URL is not set, so no winget or Scoop manifests: they must name the address the release's files will be downloaded from" >&2
fi

sign=""
if [ -n "${QUILLMERE_SIGN_PFX:-}" ] && [ -n "${QUILLMERE_SIGN_PKCS11_MODULE:-}" ]; then
  echo "release: set QUILLMERE_SIGN_PFX or QUILLMERE_SIGN_PKCS11_MODULE, not both" >&2; exit 1
fi
if [ -n "${QUILLMERE_SIGN_PKCS11_MODULE:-}" ]; then
  [ -n "${QUILLMERE_SIGN_PKCS11_KEY:-}" ] || { echo "release: QUILLMERE_SIGN_PKCS11_KEY names no key" >&2; exit 1; }
  [ -r "${QUILLMERE_SIGN_CERTS:-}" ] || { echo "release: cannot read QUILLMERE_SIGN_CERTS (${QUILLMERE_SIGN_CERTS:-})" >&2; exit 1; }
  QUILLMERE_SIGN_CERTS=$(realpath "$QUILLMERE_SIGN_CERTS")
  export QUILLMERE_SIGN_PKCS11_MODULE QUILLMERE_SIGN_PKCS11_KEY QUILLMERE_SIGN_CERTS
  sign="$root/scripts/sign.sh"
elif [ -n "${QUILLMERE_SIGN_PFX:-}" ]; then
  [ -r "$QUILLMERE_SIGN_PFX" ] || { echo "release: cannot read QUILLMERE_SIGN_PFX ($QUILLMERE_SIGN_PFX)" >&2; exit 1; }
  QUILLMERE_SIGN_PFX=$(realpath "$QUILLMERE_SIGN_PFX")
  if [ -n "${QUILLMERE_SIGN_PASSWORD_FILE:-}" ]; then
    [ -r "$QUILLMERE_SIGN_PASSWORD_FILE" ] ||
      { echo "release: cannot read QUILLMERE_SIGN_PASSWORD_FILE ($QUILLMERE_SIGN_PASSWORD_FILE)" >&2; exit 1; }
    QUILLMERE_SIGN_PASSWORD_FILE=$(realpath "$QUILLMERE_SIGN_PASSWORD_FILE")
  fi
  export QUILLMERE_SIGN_PFX QUILLMERE_SIGN_PASSWORD_FILE
  sign="$root/scripts/sign.sh"
fi

# The exe alone, in a build folder of its own, made afresh: nothing of an
# earlier configuration reaches a release.
build=build-release
rm -rf "$build" dist
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "release: no project version in $build/CMakeCache.txt" >&2; exit 1; }
# winget's release notes come from the changelog: known before the build.
if [ -n "$release_url" ] && ! grep -qE "^## ${version//./\\.}( |\$)" CHANGELOG.md; then
  echo "release: CHANGELOG.md has no entry \"## $version\" for the manifests' release notes" >&2; exit 1
fi
cmake --build "$build" --target quillmere
setup="Quillmere-$version-setup.exe"
zip="Quillmere-$version-portable.zip"

# What goes into the zip and the installer: text files with Windows line
# ends, one mode and the commit's date on every file (a zip stores dates in
# two-second steps, so an even second).
stage="$root/$build/stage"
mkdir -p "$stage" dist
cp "$build/quillmere.exe" "$stage/quillmere.exe"
[ -z "$sign" ] || "$sign" "$stage/quillmere.exe"
sed -e "s/@VERSION@/$version/g" -e 's/\r*$/\r/' packaging/README.txt >"$stage/README.txt"
sed -e 's/\r*$/\r/' LICENSE >"$stage/LICENSE.txt"
chmod 644 "$stage"/*
touch -d "@$(( SOURCE_DATE_EPOCH / 2 * 2 ))" "$stage"/*

(cd "$stage" && TZ=UTC zip -X -q -9 "$root/dist/$zip" quillmere.exe README.txt LICENSE.txt)
makensis -V2 -WX -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$root/dist/$setup" \
  ${sign:+-DSIGN="$sign"} "$root/packaging/quillmere.nsi"
(cd dist && sha256sum "$setup" "$zip" >SHA256SUMS)
if [ -n "$release_url" ]; then
  /usr/bin/python3 packaging/manifests.py "$version" "$release_url" "$homepage" "dist/$setup" "dist/$zip" \
    CHANGELOG.md dist
fi

# What built it. No path, host or time of this build: the same sources on
# the same packages give the same file.
{
  echo "Quillmere $version"
  echo "SOURCE_DATE_EPOCH $SOURCE_DATE_EPOCH"
  commit=$(git rev-parse HEAD 2>/dev/null) || commit="unknown (not a git checkout)"
  echo "commit $commit"
  echo "debian $(cat /etc/debian_version)"
  dpkg-query -W -f='${Package} ${Version} ${Architecture}\n' cmake ninja-build g++-mingw-w64-x86-64-posix \
    gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev nsis nsis-common zip osslsigncode \
    python3
} >dist/BUILDINFO

echo "Release $version${sign:+ (signed)} in $root/dist:"
(cd dist && ls -l "$setup" "$zip" SHA256SUMS BUILDINFO)
if [ -n "$release_url" ]; then
  echo "Manifests for $release_url in $root/dist:"
  (cd dist && find winget scoop -type f | sort)
fi
