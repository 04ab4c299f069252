// The refusal of an input and the opening of an input file.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "io/internal.h"

namespace veldan {

void Refuse(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int len = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string text(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
  va_start(args, fmt);
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  va_end(args);
  throw InputError(254, text + "\n");
}

std::FILE* OpenInput(const char* name, const char* msg) {
  std::FILE* fp = std::fopen(name, "r");
  if (fp != nullptr) return fp;
  const int err = errno;
  throw InputError(254, std::string("file: ") + name + ", mode: r, [" + msg +
                            "]: " + std::strerror(err) + "\nFailed on ax_fopen()\n\n");
}

}  // namespace veldan
