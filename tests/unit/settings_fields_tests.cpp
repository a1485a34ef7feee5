// What OK stores of the settings window's fields: each clamped to its
// range, typed numbers read, the hour's typing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "settings/settings_internal.h"
#include "tests/support.h"

TEST(SettingsFieldInput, ClampsEachFieldToItsRange) {
  struct Case {
    int id;
    int32_t low, high;
  };
  const Case cases[] = {{IDC_THRESHOLD, 1, 99},    {IDC_INTERVAL, 0, 1440},   {IDC_IDLE, 0, 1440},
                        {IDC_BOOT_DELAY, 0, 3600}, {IDC_CLEAN_HOUR, -1, 23}, {IDC_CLEAN_MINUTE, 0, 59},
                        {IDC_NOTIFY_MIN_MB, 0, 9999}, {IDC_FREE_BELOW_MB, 0, 65535}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(ClampSettingsField(c.id, INT32_MIN), c.low);
    EXPECT_EQ(ClampSettingsField(c.id, c.low - 1), c.low);
    EXPECT_EQ(ClampSettingsField(c.id, c.low), c.low);
    EXPECT_EQ(ClampSettingsField(c.id, c.low + 1), c.low + 1);
    EXPECT_EQ(ClampSettingsField(c.id, c.high), c.high);
    EXPECT_EQ(ClampSettingsField(c.id, c.high + 1), c.high);
    EXPECT_EQ(ClampSettingsField(c.id, INT32_MAX), c.high);
  }
  EXPECT_EQ(ClampSettingsField(IDC_THRESHOLD, 0), 1) << "0 would switch the trigger off";
  // The commit warning: off, or from 50 to 99.
  const int32_t warn_cases[][2] = {{INT32_MIN, 0}, {-1, 0}, {0, 0},   {1, 50},   {49, 50},        {50, 50},
                                   {51, 51},       {98, 98}, {99, 99}, {100, 99}, {INT32_MAX, 99}};
  for (const auto& c : warn_cases) EXPECT_EQ(ClampSettingsField(IDC_COMMIT_WARN, c[0]), c[1]) << c[0];
  EXPECT_EQ(ClampSettingsField(IDC_AUTO_CLEAN, 5000), 5000) << "not a number field";
}

TEST(SettingsFieldInput, ReadsTheLeadingNumberAndOnlyACheckedBox) {
  EXPECT_EQ(SettingsFieldNumber(L""), 0);
  EXPECT_EQ(SettingsFieldNumber(L"42"), 42);
  EXPECT_EQ(SettingsFieldNumber(L"-1"), -1);
  EXPECT_EQ(SettingsFieldNumber(L"12abc"), 12);
  EXPECT_EQ(SettingsFieldNumber(L"abc"), 0);
  EXPECT_EQ(SettingsFieldNumber(L"999999999999999"), INT32_MAX) << "saturates, so the clamp takes the top";
  EXPECT_EQ(SettingsFieldNumber(L"-999999999999999"), INT32_MIN);
  EXPECT_TRUE(SettingsCheckState(BST_CHECKED));
  EXPECT_FALSE(SettingsCheckState(BST_UNCHECKED));
  EXPECT_FALSE(SettingsCheckState(BST_INDETERMINATE));
}

// Any run of digits saturates, never wraps: what OK stores is the nearer
// end of the field's range.
TEST(SettingsFieldInput, NumbersTooBigForInt32SaturateAndClampToTheRangeEnds) {
  struct Case {
    const wchar_t* text;
    int32_t number;
    int32_t notify_stored;  // 0-9999
    int32_t hour_stored;    // -1-23
  };
  const Case cases[] = {
      {L"2147483647", INT32_MAX, 9999, 23},
      {L"2147483648", INT32_MAX, 9999, 23},  // _wtoi's own overflow
      {L"4294967297", INT32_MAX, 9999, 23},  // wraps to 1 in 32 bits
      {L"99999999999", INT32_MAX, 9999, 23},
      {L"00000000000000000000000000042", 42, 42, 23},
      {L"-2147483648", INT32_MIN, 0, -1},
      {L"-2147483649", INT32_MIN, 0, -1},
      {L"-99999999999", INT32_MIN, 0, -1},
      {L"  17", 17, 17, 17},  // a paste with leading spaces
      {L"-", 0, 0, 0},
      {L"--5", 0, 0, 0},
      {L"+5", 0, 0, 0},
      {L"5-", 5, 5, 5},
      {L"\x0663", 0, 0, 0},  // Arabic-Indic three is no decimal digit here
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text));
    int32_t number = SettingsFieldNumber(c.text);
    EXPECT_EQ(number, c.number);
    EXPECT_EQ(ClampSettingsField(IDC_NOTIFY_MIN_MB, number), c.notify_stored);
    EXPECT_EQ(ClampSettingsField(IDC_CLEAN_HOUR, number), c.hour_stored);
  }
}

TEST(SettingsFieldInput, HourFieldTakesDigitsAndOneLeadingMinus) {
  struct Case {
    const wchar_t* text;
    DWORD start, end;
    wchar_t typed;
    bool accepted;
  };
  const Case cases[] = {
      {L"", 0, 0, L'-', true},     {L"", 0, 0, L'7', true},      {L"-", 1, 1, L'1', true},
      {L"1", 1, 1, L'-', false},   {L"1", 0, 0, L'-', true},     {L"-1", 0, 0, L'-', false},
      {L"-1", 0, 0, L'5', false},  // a digit in front of the minus
      {L"-1", 0, 1, L'-', true},   // replacing the minus
      {L"-1", 0, 2, L'5', true},   {L"12", 2, 0, L'-', true},    // a selection made backwards
      {L"5", 0, 0, L'a', false},   {L"5", 1, 1, L'+', false},    {L"5", 1, 1, L' ', false},
      {L"5", 1, 1, VK_BACK, true}, {L"5", 0, 1, 0x16, true},     // Ctrl+V
      {L"3", 40, 90, L'-', false}, {L"", 0, 0, 0x663, false},    // Arabic-Indic three
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HourFieldAccepts(c.text, c.start, c.end, c.typed), c.accepted)
        << Narrow(c.text) << " [" << c.start << "," << c.end << ") + " << static_cast<int>(c.typed);
  }
}

