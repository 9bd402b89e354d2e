// The DEM reader's numbers, converted as the C library's "%i" and "%f" convert them, with a
// defined result for every input: where "%i" would leave the value undefined (beyond the int
// range), the conversion says so.
#pragma once

#include <cstdio>
#include <string>

// What a number of the DEM converts to.
enum class Conversion { kValue, kNoNumber, kOutOfRange };

// An integer as "%i" converts it, which is strtol's conversion with base 0: blanks, a sign, then
// "0x" and hexadecimal digits, "0" and octal digits, or decimal digits, up to the first other
// character. Beyond the int range kOutOfRange, `value` unchanged.
Conversion ConvertInt(const char* text, int& value);

// A corner value as "%f" converts it, which is strtof's conversion: false when the text does not
// begin with a number. Beyond the float range it is infinite (or 0), as glibc's "%f" gives it.
bool ConvertFloat(const char* text, float& value);

// The text of the next integer, straight from the file, as "%i" takes it: white space skipped,
// then a sign and "0x" and hexadecimal digits, "0" and octal digits, or decimal digits; the
// character after them stays in the file. Empty when there is none (ConvertInt: kNoNumber);
// false at the end of the file before any character but white space.
bool ReadIntText(std::FILE* in, std::string& text);
