// Bounded text.
#include "common/text.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

// NOLINTNEXTLINE(cert-dcl50-cpp): a bounded front for _vsnwprintf_s, called with literal formats
bool FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  if (capacity == 0 || capacity > 2147483647u) return false;
  va_list args;
  va_start(args, format);
  // The C runtime's bounded formatter follows the platform's wide rules
  // ("%s" takes UTF-16) and always terminates; -1 means it had to cut.
  int written = _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
  va_end(args);
  return written >= 0;
}

void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text) {
  if (capacity == 0) return;
  size_t i = 0;
  if (text) {
    for (; i + 1 < capacity && text[i] != 0; ++i) field[i] = text[i];
  }
  field[i] = 0;
}
