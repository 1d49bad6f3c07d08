// Appending formatted text to a growable string: stb_sprintf's general
// formatter and hexadecimal byte strings. These are the reference builds of
// the output formats' lines; the fast builds write digits by hand
// (output/digits.h) and are tested against them.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// Appends text formatted by stb_sprintf (printf conversions) at the end of s.
// Returns the number of characters appended; a result of 0 or less leaves s
// unchanged.
int str_append_format(std::string* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
int str_append_vformat(std::string* s, const char* format, va_list args);

// Appends count bytes as pairs of hexadecimal digits (uppercase or lowercase),
// with the separator between bytes (none before the first or after the last);
// a separator of 0 puts nothing between them. Three bytes with a blank give
// eight characters.
void str_append_hex(std::string* s, const uint8_t* bytes, size_t count, char separator, bool uppercase);
