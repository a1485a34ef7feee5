// Hostile config.ini files: random bytes, other encodings, huge lines,
// duplicate keys and sections, numbers past 32 bits, negative and empty
// values. The same index and seed always give the same bytes.
#pragma once

#include <stdint.h>

#include <string>

constexpr int HOSTILE_CONFIG_KINDS = 11;

// Short name of the kind of file `index` makes (index % HOSTILE_CONFIG_KINDS).
const char* HostileConfigKind(int index);
std::string HostileConfig(int index, uint32_t seed);
// ASCII text as UTF-16, little- or big-endian, with or without its
// byte-order mark.
std::string Utf16(const std::string& text, bool big_endian, bool bom);
// A plausible but very large file (shuffled sections and keys).
std::string LargeConfig(size_t bytes, uint32_t seed);
