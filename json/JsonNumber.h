// Number texts in both directions, exact and independent of the C locale: the JSON decimal point is
// always '.', whatever setlocale a host program calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Longest "%f" text of a finite double: sign, 309 integer digits, '.', six decimals, terminator.
const size_t kDoubleTextMax = 320;
const size_t kIntTextMax = 12;

enum NumberKind { NUMBER_FAILED, NUMBER_INTEGER, NUMBER_DOUBLE };

// Writes d as "%f" would in the C locale (six decimals, correctly rounded, never an exponent) into
// out, which holds kDoubleTextMax bytes; d must be finite. Returns the length.
size_t formatDouble(double d, char* out);
size_t formatInt(int32_t i, char* out);

// Converts a collected number text: with '.', 'e' or 'E', or as an integer outside 32 bits, the
// leading part as a double (as strtod takes it); otherwise the leading part as an integer (as strtol
// takes it). A double that overflows to either infinity fails.
NumberKind parseNumber(const char* text, size_t length, int32_t* integer, double* real);
