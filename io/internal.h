// What the readers of io/ share: the refusal of an input and the opening of
// a file, both reported through InputError.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "io/io.h"
#include "io/lines.h"

namespace veldan {

// Ends the read with the formatted message and a line feed (status 254).
[[noreturn]] void Refuse(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Ends the read with the formatted message, followed by the file and the
// line it concerns.
[[noreturn]] void RefuseAt(const LineAt& at, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// A token of a file as a message shows it: bytes that are not printable
// characters appear as \xNN, and a long token is cut.
std::string Shown(std::string_view token);

// Opens name for reading; a file that cannot be opened ends the read with
// the system's reason, msg naming the reader.
std::FILE* OpenInput(const char* name, const char* msg);

// Closes the stream when left, also when the read ends by an exception.
struct StreamCloser {
  explicit StreamCloser(std::FILE* f) : fp(f) {}
  std::FILE* fp;
  StreamCloser(const StreamCloser&) = delete;
  StreamCloser& operator=(const StreamCloser&) = delete;
  ~StreamCloser() {
    if (fp != nullptr) std::fclose(fp);
  }
};

}  // namespace veldan
