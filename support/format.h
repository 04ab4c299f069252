// printf into a string, for messages assembled before they are printed or
// thrown.
#pragma once

#include <cstdarg>
#include <string>

namespace veldan {

std::string FormatV(const char* fmt, va_list args);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veldan
