// Numbers in the job and in setting texts are written and read in the "C" locale
// whatever locale the host process set, so a decimal-comma host never puts
// "12,500000" into PostScript.
#pragma once

#include <cstddef>

// printf of one double (format holds one conversion, e.g. "%f"), or with a precision
// ("%.*f"). The characters written without the terminator; -1 when it does not fit.
int FormatDoubleC(wchar_t* out, size_t count, const wchar_t* format, double value);
int FormatDoubleC(wchar_t* out, size_t count, const wchar_t* format, int precision, double value);
// The leading number of text (0 when none).
double ParseDoubleC(const wchar_t* text);
// Up to count numbers separated by blanks, each consumed whole: the count read.
int ParseNumbersC(const wchar_t* text, double* values, int count, const wchar_t** rest);
