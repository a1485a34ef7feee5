#include "tests/robustness/hostile_config.h"

// GCC 12 reports a false -Wrestrict inside libstdc++ for chains of
// std::string additions (GCC bug 105329).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace {

struct Random {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t Below(uint32_t n) { return n ? Next() % n : 0; }
};

const char* const kKeys[] = {"threshold_percent", "interval_minutes", "on_idle_minutes", "on_boot_delay",
                             "silent_mode",       "auto_clean",       "clean_hour",      "clean_minute",
                             "notify_min_mb",     "exclude_list",     "start_with_windows", "show_status_on_clean"};
const char* const kSections[] = {"Clean", "App", "clean", " Clean ", "Other", ""};
const char* const kAwkwardNumbers[] = {"99999999999999999999", "4294967296",  "4294967295", "2147483648",
                                       "-2147483649",          "-2147483648", "0x7FFFFFFF", "1e9",
                                       "+5",                   "--3",         " 42 ",        "007",
                                       "",                     "-",           "-0",          "18446744073709551617"};

std::string RandomValue(Random& random) {
  switch (random.Below(4)) {
    case 0: return kAwkwardNumbers[random.Below(sizeof kAwkwardNumbers / sizeof *kAwkwardNumbers)];
    case 1: return std::to_string(static_cast<int32_t>(random.Next()));
    case 2: return "-" + std::to_string(random.Below(100000));
    default: return "";
  }
}

std::string KeyLine(Random& random) {
  return std::string(kKeys[random.Below(12)]) + "=" + RandomValue(random);
}

std::string SectionLine(Random& random) {
  return "[" + std::string(kSections[random.Below(sizeof kSections / sizeof *kSections)]) + "]";
}

// A plausible file whose lines are shuffled sections and keys.
std::string PlausibleText(Random& random, int lines, const char* newline) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    text += random.Below(5) == 0 ? SectionLine(random) : KeyLine(random);
    text += newline;
  }
  return text;
}

}  // namespace

std::string Utf16(const std::string& text, bool big_endian, bool bom) {
  std::string out;
  if (bom) out += big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (unsigned char c : text) {
    char bytes[2] = {static_cast<char>(c), 0};
    if (big_endian) {
      out += bytes[1];
      out += bytes[0];
    } else {
      out += bytes[0];
      out += bytes[1];
    }
  }
  return out;
}

const char* HostileConfigKind(int index) {
  static const char* const kinds[HOSTILE_CONFIG_KINDS] = {
      "random bytes",         "shuffled keys",      "UTF-16 with BOM",        "UTF-16 without BOM",
      "UTF-16 big-endian",    "100,000-character lines", "duplicate keys and sections", "numbers past 32 bits",
      "negative and empty",   "control characters", "UTF-8 and long lists"};
  return kinds[index % HOSTILE_CONFIG_KINDS];
}

std::string HostileConfig(int index, uint32_t seed) {
  Random random = {seed * 2654435761u + static_cast<uint32_t>(index) * 40503u + 1u};
  for (int i = 0; i < 4; ++i) random.Next();
  switch (index % HOSTILE_CONFIG_KINDS) {
    case 0: {
      std::string bytes(random.Below(4096), '\0');
      for (char& c : bytes) c = static_cast<char>(random.Next());
      return bytes;
    }
    case 1:
      return PlausibleText(random, 1 + random.Below(60), "\r\n");
    case 2:
      return Utf16("[Clean]\r\n" + PlausibleText(random, 20, "\r\n"), false, true);
    case 3:
      return Utf16("[Clean]\r\n" + PlausibleText(random, 20, "\r\n"), false, false);
    case 4:
      return Utf16("[App]\r\n" + PlausibleText(random, 20, "\r\n"), true, true);
    case 5: {
      std::string huge(100000, static_cast<char>('a' + random.Below(26)));
      switch (random.Below(3)) {
        case 0: return "[Clean]\r\nexclude_list=" + huge + "\r\nthreshold_percent=" + huge + "\r\n";
        case 1: return "[" + huge + "]\r\n" + huge + "=1\r\n[Clean]\r\nauto_clean=0\r\n";
        default: return "[Clean]\r\n" + huge + "\r\n" + huge + "\r\n";
      }
    }
    case 6: {
      std::string text;
      for (int i = 0; i < 30; ++i) {
        text += i % 7 == 0 ? "[Clean]\r\n" : i % 5 == 0 ? "[App]\r\n" : "";
        text += KeyLine(random) + "\r\n";
      }
      return text + text;
    }
    case 7: {
      std::string text = "[Clean]\r\n";
      for (const char* key : kKeys) text += std::string(key) + "=" + kAwkwardNumbers[random.Below(6)] + "\r\n";
      return text + "[App]\r\nstart_with_windows=99999999999\r\nshow_status_on_clean=4294967296\r\n";
    }
    case 8: {
      std::string text = "[Clean]\r\n";
      for (const char* key : kKeys) text += std::string(key) + "=" + (random.Below(2) ? "-1" : "") + "\r\n";
      return text + "[App]\r\nstart_with_windows=-7\r\nshow_status_on_clean=\r\n";
    }
    case 9: {
      std::string text = PlausibleText(random, 30, random.Below(2) ? "\r" : "\n");
      for (char& c : text)
        if (random.Below(40) == 0) c = static_cast<char>(random.Below(32));
      return "\t [Clean] \t\r\n" + text + "\r\n = \r\n==\r\n[\r\n]\r\n";
    }
    default: {
      std::string list;
      while (list.size() < 300) list += "\xC3\xA9xplorer.exe, \xE2\x80\x94 \xF0\x9F\x98\x80.exe,";
      return "\xEF\xBB\xBF[Clean]\r\nexclude_list=" + list + "\r\n\xC3\xA9=\xE2\x82\xAC\r\n";
    }
  }
}

std::string LargeConfig(size_t bytes, uint32_t seed) {
  Random random = {seed | 1u};
  std::string text;
  text.reserve(bytes + 4096);
  while (text.size() < bytes) text += PlausibleText(random, 50, "\r\n");
  return text;
}
