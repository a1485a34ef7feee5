// What the settings window's fields show and what OK stores of them: the
// clamps of typed numbers, the hour's typing, the language's item.
#include "settings/settings_internal.h"

#include <wchar.h>

#include "clean/memory_use.h"
#include "common/text.h"

int LanguageChoice(const wchar_t (&setting)[LANGUAGE_NAME_CAPACITY]) {
  wchar_t name[LANGUAGE_NAME_CAPACITY];
  CopyBounded(name, LANGUAGE_NAME_CAPACITY, setting);
  return FindLanguage(name) + 1;
}

const wchar_t* LanguageOfChoice(int item) {
  return item >= 1 && item <= LANGUAGE_COUNT ? kLanguages[item - 1].name : L"";
}

int32_t ClampSettingsField(int id, int32_t value) {
  for (const SettingField& field : kSettingFields) {
    if (!field.control || field.control != id || !field.number) continue;
    // 1 to 49 stores 50, the earliest warning offered, as the file reads them.
    if (id == IDC_COMMIT_WARN) return CommitWarnLevel(value);
    if (value < field.low) return field.low;
    if (value > field.high) return field.high;
    return value;
  }
  return value;
}

int32_t SettingsFieldNumber(const wchar_t* text) {
  while (*text == L' ' || *text == L'\t') ++text;
  bool negative = *text == L'-';
  if (negative) ++text;
  // The magnitude stops growing just past int32's range: any run of digits
  // saturates instead of wrapping, and the clamp then takes the range's end.
  constexpr int64_t kCap = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  for (; *text >= L'0' && *text <= L'9'; ++text) {
    magnitude = magnitude * 10 + (*text - L'0');
    if (magnitude > kCap) magnitude = kCap;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

bool SettingsCheckState(LRESULT state) { return state == BST_CHECKED; }

bool HourFieldAccepts(const wchar_t* text, DWORD start, DWORD end, wchar_t typed) {
  if (typed < L' ') return true;  // Backspace and the Ctrl+ editing keys
  bool digit = typed >= L'0' && typed <= L'9';
  if (!digit && typed != L'-') return false;
  if (start > end) {
    DWORD swap = start;
    start = end;
    end = swap;
  }
  DWORD length = static_cast<DWORD>(wcslen(text));
  if (end > length) end = length;
  if (start > end) start = end;
  // Neither a digit nor a second minus may go in front of a minus sign.
  for (DWORD i = end; i < length; ++i) {
    if (text[i] == L'-') return false;
  }
  return digit || start == 0;
}

