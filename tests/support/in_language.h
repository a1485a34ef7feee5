// What the user sees in each of the program's languages and with another
// decimal separator: the text a string of the table reads, and a fixture
// that leaves English and "." behind for the next test.
#pragma once

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "common/language.h"

// String `id` as language `language` (a row of kLanguages) shows it: that
// language's own, or English's where its table has none, as the program
// falls back. Read straight from the tables, not through the language in
// use.
inline std::wstring StringIn(int language, UINT id) {
  wchar_t text[512] = {};
  if (!LoadTextIn(kLanguages[language].id, id, text, 512, nullptr)) LoadTextIn(kLanguages[0].id, id, text, 512, nullptr);
  return text;
}

// That string as a format, filled with these arguments.
inline std::wstring TableTextIn(int language, UINT id, ...) {
  const std::wstring format = StringIn(language, id);
  EXPECT_FALSE(format.empty()) << "string " << id << " is in the English table";
  wchar_t text[1024] = {};
  va_list args;
  va_start(args, id);
  _vsnwprintf_s(text, 1024, _TRUNCATE, format.c_str(), args);
  va_end(args);
  return text;
}

// Every test of it starts and ends in English with ".".
class ShownInLanguage : public ::testing::Test {
 protected:
  void SetUp() override { ShowIn(0, L"."); }
  void TearDown() override { ShowIn(0, L"."); }
  static void ShowIn(int language, const wchar_t* separator) {
    UseLanguage(language);
    UseDecimalSeparator(separator);
  }
};

// The language of a row, for a test's messages.
inline std::string LanguageTag(int language) {
  std::string name;
  for (const wchar_t* c = kLanguages[language].name; *c; ++c) name += static_cast<char>(*c);
  return name;
}
