// The user's language and figures.
#include "common/language.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include "common/text.h"

const Language kLanguages[LANGUAGE_COUNT] = {
    {L"en-US", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"English"},
    {L"de-DE", MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"Deutsch"},
    {L"fr-FR", MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), L"Fran\u00e7ais"},
    {L"es-ES", MAKELANGID(LANG_SPANISH, SUBLANG_SPANISH_MODERN), L"Espa\u00f1ol"},
    {L"pt-BR", MAKELANGID(LANG_PORTUGUESE, SUBLANG_PORTUGUESE_BRAZILIAN), L"Portugu\u00eas (Brasil)"},
    {L"ru-RU", MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA), L"\u0420\u0443\u0441\u0441\u043a\u0438\u0439"},
    {L"zh-CN", MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), L"\u4e2d\u6587(\u7b80\u4f53)"},
    {L"ja-JP", MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), L"\u65e5\u672c\u8a9e"},
};

namespace {

int language_in_use = 0;
wchar_t decimal_separator[4] = L".";

// Whether `name` starts with the subtag `tag` ("zh" in "zh-Hans-CN"),
// without regard to ASCII case; `rest` gets what follows it.
bool StartsWithTag(const wchar_t* name, const wchar_t* tag, const wchar_t** rest) {
  size_t i = 0;
  for (; tag[i]; ++i) {
    if (towlower(name[i]) != tag[i]) return false;
  }
  if (name[i] != 0 && name[i] != L'-' && name[i] != L'_') return false;
  *rest = name[i] ? name + i + 1 : name + i;
  return true;
}

bool SameText(const wchar_t* a, const wchar_t* b) {
  for (; *a && *b; ++a, ++b) {
    if (towlower(*a) != towlower(*b)) return false;
  }
  return *a == *b;
}

// Chinese in the Simplified script: named so ("zh-Hans"), or by a region
// that writes it (mainland China, Singapore), or with neither.
bool IsSimplifiedChinese(const wchar_t* rest) {
  if (!*rest) return true;
  const wchar_t* after = nullptr;
  if (StartsWithTag(rest, L"hans", &after)) return true;
  if (StartsWithTag(rest, L"hant", &after)) return false;
  return SameText(rest, L"CN") || SameText(rest, L"SG");
}

}  // namespace

int FindLanguage(const wchar_t* name) {
  if (!name || !*name) return -1;
  for (int i = 0; i < LANGUAGE_COUNT; ++i) {
    wchar_t tag[4] = {};
    for (int k = 0; k < 3 && kLanguages[i].name[k] != L'-'; ++k) tag[k] = kLanguages[i].name[k];
    const wchar_t* rest = nullptr;
    if (!StartsWithTag(name, tag, &rest)) continue;
    if (kLanguages[i].id == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED) && !IsSimplifiedChinese(rest))
      return -1;
    return i;
  }
  return -1;
}

int ChooseLanguage(const wchar_t* setting, const wchar_t* preferred) {
  int chosen = FindLanguage(setting);
  if (chosen >= 0) return chosen;
  for (const wchar_t* name = preferred; name && *name; name += wcslen(name) + 1) {
    chosen = FindLanguage(name);
    if (chosen >= 0) return chosen;
  }
  return 0;
}

void ReadPreferredLanguages(wchar_t* list, size_t capacity) {
  if (capacity < 2) return;
  list[0] = list[1] = 0;
  ULONG count = 0, length = static_cast<ULONG>(capacity);
  if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, list, &length)) list[0] = list[1] = 0;
}

void UseLanguage(int language) { language_in_use = language >= 0 && language < LANGUAGE_COUNT ? language : 0; }

int LanguageInUse() { return language_in_use; }

bool LoadTextIn(LANGID language, UINT id, wchar_t* buffer, size_t capacity, size_t* length) {
  if (buffer && capacity > 0) buffer[0] = 0;
  if (length) *length = 0;
  // A string table resource holds 16 strings, each its length and then its
  // characters with no terminator; block n holds ids 16(n-1) to 16n-1.
  HMODULE module = GetModuleHandleW(NULL);
  HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1), language);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(module, found);
  const WORD* at = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
  DWORD size = SizeofResource(module, found) / sizeof(WORD);
  if (!at) return false;
  const WORD* end = at + size;
  for (UINT skip = id & 15; skip > 0 && at < end; --skip) at += 1 + *at;
  if (at >= end || *at == 0 || at + 1 + *at > end) return false;
  size_t count = *at;
  if (length) *length = count;
  if (buffer && capacity > 0) {
    size_t kept = count < capacity ? count : capacity - 1;
    // Never half a surrogate pair at a cut.
    if (kept < count && kept > 0 && IS_HIGH_SURROGATE(at[kept])) --kept;
    wmemcpy(buffer, reinterpret_cast<const wchar_t*>(at + 1), kept);
    buffer[kept] = 0;
  }
  return true;
}

const wchar_t* LoadText(UINT id, wchar_t* buffer, size_t capacity) {
  if (!LoadTextIn(kLanguages[language_in_use].id, id, buffer, capacity, nullptr))
    LoadTextIn(kLanguages[0].id, id, buffer, capacity, nullptr);
  return buffer;
}

// NOLINTNEXTLINE(cert-dcl50-cpp): formats come from the program's own string table
bool FormatText(wchar_t* buffer, size_t capacity, UINT id, ...) {
  if (capacity == 0 || capacity > 2147483647u) return false;
  wchar_t format[256];
  LoadText(id, format);
  va_list args;
  va_start(args, id);
  int written = _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
  va_end(args);
  return written >= 0;
}

void UseDecimalSeparator(const wchar_t* separator) {
  size_t length = separator ? wcsnlen(separator, 4) : 0;
  bool usable = length >= 1 && length <= 3;
  for (size_t i = 0; usable && i < length; ++i) usable = !iswdigit(separator[i]) && !iswcntrl(separator[i]);
  CopyBounded(decimal_separator, 4, usable ? separator : L".");
}

void ReadDecimalSeparator(wchar_t (&separator)[4]) {
  if (!GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 4)) CopyBounded(separator, 4, L".");
}

void FormatTenths(wchar_t (&text)[FIGURE_CAPACITY], uint64_t tenths) {
  FormatBounded(text, FIGURE_CAPACITY, L"%llu%s%llu", tenths / 10, decimal_separator, tenths % 10);
}

void FormatOneDecimal(wchar_t (&text)[FIGURE_CAPACITY], double value) {
  FormatBounded(text, FIGURE_CAPACITY, L"%.1f", value);
  wchar_t* point = wcschr(text, L'.');
  if (!point) return;
  wchar_t tail[FIGURE_CAPACITY];
  CopyBounded(tail, FIGURE_CAPACITY, point + 1);
  *point = 0;
  wchar_t whole[FIGURE_CAPACITY];
  CopyBounded(whole, FIGURE_CAPACITY, text);
  FormatBounded(text, FIGURE_CAPACITY, L"%s%s%s", whole, decimal_separator, tail);
}
