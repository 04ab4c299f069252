#include "support/format.h"

#include <cstdio>

namespace veldan {

std::string FormatV(const char* fmt, va_list args) {
  va_list count;
  va_copy(count, args);
  const int len = std::vsnprintf(nullptr, 0, fmt, count);
  va_end(count);
  std::string text(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  return text;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string text = FormatV(fmt, args);
  va_end(args);
  return text;
}

}  // namespace veldan
