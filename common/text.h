// Bounded text: formatting into and copying into fixed buffers.
#pragma once

#include <windows.h>
#include <stddef.h>

// printf-style UTF-16 formatting with the platform's wide rules; the buffer
// always ends with a terminator and over-long output is cut.
bool FormatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
// Copies text into a fixed field of `capacity` characters, keeping at most
// capacity - 1 of them and always the terminator.
void CopyBounded(wchar_t* field, size_t capacity, const wchar_t* text);
