#!/usr/bin/python3
"""The winget and Scoop manifests of a release, checked from outside.

Usage: manifests_check.py SOURCE_DIR DIST VERSION RELEASE_URL HOMEPAGE_URL FACTS

Each manifest against the schema its project publishes (winget's 1.10.0
schemas and Scoop's, kept in tests/release/schemas), with no field those
schemas do not name; then what a schema cannot check: the hashes against
SHA256SUMS, the addresses, the setup's behaviour as the manifest states it
(architecture, elevation, its exit codes), the release notes against the
changelog, and each locale's description in its own language. On success,
writes FACTS, what the release_e2e_winget test runs the setup with and
compares the installation with: one "name=value" a line.
"""
import hashlib
import json
import os
import re
import struct
import sys
import zipfile
from collections import Counter

import jsonschema
import yaml

source_dir, dist, version, release_url, homepage, facts_path = sys.argv[1:]
errors = []


def fail(message):
    errors.append(message)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


# The schemas as those projects publish them (winget's 1.10.0, Scoop's),
# kept with their licences beside this script so that any clone can check.
schemas = os.path.join(source_dir, "tests", "release", "schemas")
winget_schemas = os.path.join(schemas, "winget")
scoop_schema_path = os.path.join(schemas, "scoop", "schema.json")
if not os.path.isdir(winget_schemas) or not os.path.isfile(scoop_schema_path):
    sys.exit(f"FAIL: no winget/ and scoop/schema.json in {schemas}")


def load_schema(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def resolve(schema, node):
    while isinstance(node, dict) and "$ref" in node:
        ref = node["$ref"]
        assert ref.startswith("#/"), ref
        node = schema
        for part in ref[2:].split("/"):
            node = node[part]
    return node


def unnamed_fields(schema, node, value, where):
    """Fields of `value` that the schema does not name where it lists an
    object's properties: winget's own validator refuses them, though its
    JSON schemas let them through."""
    node = resolve(schema, node)
    found = []
    if not isinstance(node, dict):
        return found
    for alternative in node.get("anyOf", []) + node.get("oneOf", []):
        if not list(jsonschema.Draft7Validator(resolve(schema, alternative)).iter_errors(value)):
            return unnamed_fields(schema, alternative, value, where)
    if isinstance(value, dict) and "properties" in node:
        for key, item in value.items():
            if key not in node["properties"]:
                found.append(f"{where}{key}")
            else:
                found += unnamed_fields(schema, node["properties"][key], item, f"{where}{key}.")
    if isinstance(value, list) and "items" in node:
        for i, item in enumerate(value):
            found += unnamed_fields(schema, node["items"], item, f"{where}{i}.")
    return found


def validate(schema, value, name):
    validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
    for error in validator.iter_errors(value):
        fail(f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
    for field in unnamed_fields(schema, schema, value, ""):
        fail(f"{name}: {field} is no field of the schema")


def pe_machine(data):
    """The machine type in a PE file's header, None when it is none."""
    if data[:2] != b"MZ" or len(data) < 0x40:
        return None
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, offset + 4)[0]


AMD64 = 0x8664
setup = f"Quillmere-{version}-setup.exe"
zip_name = f"Quillmere-{version}-portable.zip"
sums = {}
with open(os.path.join(dist, "SHA256SUMS"), encoding="utf-8") as f:
    for line in f:
        digest, name = line.split()
        sums[name] = digest

# Which language a text is in. The scripts first; then, among languages
# written in Latin letters, the common little words that only one of them
# has.
MARKERS = {
    "en": "the and of to is it by or at when with from its that which after each",
    "de": "der die das und den dem ist mit von zu bei oder wenn nach ein eine einer im auf sich nur jeder jede über "
          "vom zur",
    "fr": "le les et du une est au aux avec dans qui sur sa ses chaque après quand peut",
    "es": "el los las y del una con cuando al su sus tras puede",
    "pt": "os e do da dos das uma com em quando ao seu sua depois pode pelo pela na",
}
MARKERS = {language: set(words.split()) for language, words in MARKERS.items()}


def letters(text, low, high):
    return sum(low <= ord(c) <= high for c in text)


def language_problem(locale, text, least_words):
    """What shows `text` not to be in `locale`'s language, or None: for a
    language of Latin letters, `least_words` of its little words at least,
    three times as many as of any other."""
    latin = sum(c.isalpha() and ord(c) < 0x250 for c in text)
    cyrillic = letters(text, 0x400, 0x4FF)
    han = letters(text, 0x4E00, 0x9FFF)
    kana = letters(text, 0x3040, 0x30FF)
    hiragana = letters(text, 0x3040, 0x309F)
    language = locale.split("-")[0]
    if language == "ru":
        return None if cyrillic > 3 * latin else f"{cyrillic} Cyrillic letters, {latin} Latin"
    if language == "zh":
        return None if han > 2 * latin and kana == 0 else f"{han} Han characters, {kana} kana, {latin} Latin letters"
    if language == "ja":
        return None if hiragana > 0 and kana + han > 2 * latin else \
            f"{hiragana} hiragana, {kana} kana, {han} Han, {latin} Latin"
    if cyrillic or han or kana:
        return "letters of another script"
    words = re.findall(r"[^\W\d_]+", text.lower())
    hits = {other: sum(word in markers for word in words) for other, markers in MARKERS.items()}
    own = hits[language]
    rest = max(count for other, count in hits.items() if other != language)
    return None if own >= least_words and own >= 3 * rest else f"little words: {hits}"


# What each translation keeps of the English text: the program's name, its
# hot key (German Windows writes Ctrl as Strg) and every figure.
def kept_marks(text):
    return Counter(re.findall(r"Quillmere|Ctrl\+Alt\+R|\d+", text.replace("Strg+Alt+R", "Ctrl+Alt+R")))


# winget: a multi-file manifest in the community repository's layout.
package = "Quillmere.Quillmere"
folder = os.path.join(dist, "winget", "manifests", "q", "Quillmere", "Quillmere", version)
locales = ["en-US", "de-DE", "fr-FR", "es-ES", "pt-BR", "ru-RU", "zh-CN", "ja-JP"]
expected_files = {f"{package}.yaml", f"{package}.installer.yaml"} | {f"{package}.locale.{l}.yaml" for l in locales}
found_files = {os.path.relpath(os.path.join(d, n), folder) for d, _, names in os.walk(os.path.join(dist, "winget"))
               for n in names}
if found_files != expected_files:
    fail(f"dist/winget holds {sorted(found_files)}; expected {sorted(expected_files)} in {folder}")
    sys.exit("\n".join("FAIL: " + e for e in errors))

schema_of = {kind: load_schema(os.path.join(winget_schemas, f"manifest.{kind}.1.10.0.json"))
             for kind in ("version", "installer", "defaultLocale", "locale")}
manifests = {}
for name in sorted(expected_files):
    with open(os.path.join(folder, name), encoding="utf-8") as f:
        text = f.read()
    manifest = yaml.safe_load(text)
    manifests[name] = manifest
    kind = manifest.get("ManifestType")
    if kind not in schema_of:
        fail(f"{name}: ManifestType {kind!r}")
        continue
    validate(schema_of[kind], manifest, name)
    header = f"# yaml-language-server: $schema={schema_of[kind]['$id']}"
    if header not in text.splitlines():
        fail(f"{name}: no line {header}")
    for key, value in (("PackageIdentifier", package), ("PackageVersion", version), ("ManifestVersion", "1.10.0")):
        if manifest.get(key) != value:
            fail(f"{name}: {key} {manifest.get(key)!r}, expected {value!r}")

version_manifest = manifests[f"{package}.yaml"]
if version_manifest.get("ManifestType") != "version" or version_manifest.get("DefaultLocale") != "en-US":
    fail(f"{package}.yaml: not the version manifest with DefaultLocale en-US")

installer = manifests[f"{package}.installer.yaml"]
installers = installer.get("Installers", [])
if len(installers) != 1:
    fail(f"{len(installers)} installers; expected the setup alone")
merged = {**installer, **(installers[0] if installers else {})}
with open(os.path.join(dist, setup), "rb") as f:
    setup_bytes = f.read()
checks = [
    ("InstallerUrl", f"{release_url}/{setup}"),
    ("InstallerSha256", sums.get(setup, "").upper()),
    ("InstallerType", "nullsoft"),
    ("Scope", "machine"),
    ("UpgradeBehavior", "install"),
]
for key, value in checks:
    if merged.get(key) != value:
        fail(f"installer: {key} {merged.get(key)!r}, expected {value!r}")
if sha256(os.path.join(dist, setup)).upper() != merged.get("InstallerSha256"):
    fail("installer: InstallerSha256 is not the setup's")
# As the setup is built: its stub's machine, and the elevation its own
# manifest asks Windows for.
if merged.get("Architecture") != {AMD64: "x64"}.get(pe_machine(setup_bytes)):
    fail(f"installer: Architecture {merged.get('Architecture')!r}, the setup's machine {pe_machine(setup_bytes)!r}")
asks = b'level="requireAdministrator"' in setup_bytes
if merged.get("ElevationRequirement") != ("elevatesSelf" if asks else None):
    fail(f"installer: ElevationRequirement {merged.get('ElevationRequirement')!r}; the setup asks for "
         f"administrator rights itself: {asks}")
switches = merged.get("InstallerSwitches") or {}
if not switches.get("InstallLocation", "").startswith("/D=<INSTALLPATH>"):
    fail(f"installer: InstallLocation {switches.get('InstallLocation')!r}")

# Every exit code the setup's script sets, and NSIS's own 1 for Cancel,
# each with the response winget shows for it.
with open(os.path.join(source_dir, "packaging", "quillmere.nsi"), encoding="utf-8") as f:
    script_codes = {int(code) for code in re.findall(r"^\s*SetErrorLevel\s+(\d+)", f.read(), re.M)}
meaning = {1: "cancelledByUser", 2: "packageInUse", 3: "systemNotSupported", 4: "invalidParameter"}
declared = {item.get("InstallerReturnCode"): item.get("ReturnResponse") for item in merged.get("ExpectedReturnCodes") or []}
for code in sorted(script_codes | {1}):
    if code not in meaning:
        fail(f"the setup sets exit code {code}, which this test does not know")
if declared != {code: meaning.get(code) for code in script_codes | {1}}:
    fail(f"ExpectedReturnCodes {declared}; the setup's codes {sorted(script_codes | {1})} mean {meaning}")

entries = merged.get("AppsAndFeaturesEntries") or []
if len(entries) != 1:
    fail(f"{len(entries)} AppsAndFeaturesEntries; the setup writes one")
entry = entries[0] if entries else {}
if entry.get("DisplayVersion", version) != version:
    fail(f"DisplayVersion {entry.get('DisplayVersion')!r}, the setup writes {version}")
if entry.get("ProductCode") != merged.get("ProductCode"):
    fail("the entry's ProductCode is not the installer's")

# The release notes and date: the changelog's entry for this version.
with open(os.path.join(source_dir, "CHANGELOG.md"), encoding="utf-8") as f:
    changelog = f.read()
entry_match = re.search(r"^## " + re.escape(version) + r"(?: — (\S+))?\n(.*?)(?=^## |\Z)", changelog, re.M | re.S)
default = manifests[f"{package}.locale.en-US.yaml"]
if not entry_match:
    fail(f"CHANGELOG.md has no entry for {version}")
else:
    if re.findall(r"\w+", entry_match.group(2)) != re.findall(r"\w+", default.get("ReleaseNotes") or ""):
        fail("ReleaseNotes are not the changelog's entry for the version, word for word")
    if merged.get("ReleaseDate") != entry_match.group(1):
        fail(f"ReleaseDate {merged.get('ReleaseDate')!r}, the changelog's {entry_match.group(1)!r}")

# The locales: the same package, its description in each language.
english = default.get("Description", "")
seen = {}
for locale in locales:
    name = f"{package}.locale.{locale}.yaml"
    manifest = manifests[name]
    kind = "defaultLocale" if locale == "en-US" else "locale"
    if manifest.get("ManifestType") != kind or manifest.get("PackageLocale") != locale:
        fail(f"{name}: {manifest.get('ManifestType')} for {manifest.get('PackageLocale')}; expected {kind} for {locale}")
    for key in ("Publisher", "PackageName", "License", "PackageUrl", "PublisherUrl"):
        if manifest.get(key) != default.get(key):
            fail(f"{name}: {key} {manifest.get(key)!r}, the default locale's {default.get(key)!r}")
    for key, least_words in (("ShortDescription", 1), ("Description", 8)):
        text = manifest.get(key) or ""
        problem = language_problem(locale, text, least_words)
        if problem:
            fail(f"{name}: {key} is not in {locale}'s language ({problem}): {text[:80]}")
        if text in seen:
            fail(f"{name}: {key} is the same as {seen[text]}'s")
        seen[text] = locale
    if kept_marks(english) - kept_marks(manifest.get("Description") or ""):
        fail(f"{name}: the description lacks {sorted((kept_marks(english) - kept_marks(manifest['Description'])).elements())}")
if default.get("PackageUrl") != homepage:
    fail(f"PackageUrl {default.get('PackageUrl')!r}, expected {homepage}")
with open(os.path.join(source_dir, "LICENSE"), encoding="utf-8") as f:
    licence = f.readline().strip()
if f"{default.get('License')} License" != licence:
    fail(f"License {default.get('License')!r}; LICENSE says {licence!r}")

# Scoop: the portable zip.
scoop_path = os.path.join(dist, "scoop", "quillmere.json")
with open(scoop_path, encoding="utf-8") as f:
    scoop = json.load(f)
validate(load_schema(scoop_schema_path), scoop, "quillmere.json")
x64 = (scoop.get("architecture") or {}).get("64bit") or {}
for key, value, got in (("version", version, scoop.get("version")),
                        ("homepage", homepage, scoop.get("homepage")),
                        ("license", default.get("License"), scoop.get("license")),
                        ("64bit url", f"{release_url}/{zip_name}", x64.get("url")),
                        ("64bit hash", sums.get(zip_name), x64.get("hash"))):
    if got != value:
        fail(f"quillmere.json: {key} {got!r}, expected {value!r}")
if sha256(os.path.join(dist, zip_name)) != x64.get("hash"):
    fail("quillmere.json: the hash is not the zip's")
if set(scoop.get("architecture") or {}) != {"64bit"} or "url" in scoop:
    fail("quillmere.json: the zip is for 64-bit Windows alone")
with zipfile.ZipFile(os.path.join(dist, zip_name)) as archive:
    files = set(archive.namelist())
    exe = archive.read("quillmere.exe") if "quillmere.exe" in files else b""
if pe_machine(exe) != AMD64:
    fail("the zip's quillmere.exe is no x64 program")
shortcut_targets = {shortcut[0] for shortcut in scoop.get("shortcuts") or []}
if scoop.get("bin") != "quillmere.exe" or shortcut_targets != {"quillmere.exe"} or "quillmere.exe" not in files:
    fail(f"quillmere.json: bin {scoop.get('bin')!r} and shortcuts to {shortcut_targets}, the zip holds {sorted(files)}")
if "persist" in scoop:
    fail("quillmere.json: persists something, but the settings live in the user's roaming folder")
notes = " ".join(scoop.get("notes") or [])
for needed in ("administrator rights", "Start with Windows", "Program Files", "%APPDATA%\\Quillmere"):
    if needed not in notes:
        fail(f"quillmere.json: the notes do not mention {needed}")

for error in errors:
    print("FAIL:", error, file=sys.stderr)
if errors:
    sys.exit(1)

facts = {
    "PackageVersion": version,
    "ProductCode": merged.get("ProductCode", ""),
    "Silent": switches.get("Silent", ""),
    "SilentWithProgress": switches.get("SilentWithProgress", ""),
    "InstallLocation": switches.get("InstallLocation", ""),
    "DisplayName": entry.get("DisplayName", ""),
    "Publisher": entry.get("Publisher", ""),
    "DisplayVersion": entry.get("DisplayVersion", version),
}
facts.update({f"ReturnResponse.{code}": response for code, response in declared.items()})
with open(facts_path, "w", encoding="utf-8", newline="\n") as f:
    f.writelines(f"{key}={value}\n" for key, value in facts.items())
print(f"{len(manifests)} winget manifests and Scoop's valid and as the release is; facts in {facts_path}")
