// Print and the per-task captures.
#include "support/output.h"

#include <cstdarg>
#include <cstdio>

namespace veldan {

namespace {
thread_local std::string* t_sink = nullptr;
}  // namespace

void Print(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (t_sink == nullptr) {
    std::vprintf(fmt, ap);
    va_end(ap);
    return;
  }
  char small[256];
  va_list copy;
  va_copy(copy, ap);
  const int len = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (len > 0 && static_cast<std::size_t>(len) < sizeof small) {
    t_sink->append(small, static_cast<std::size_t>(len));
  } else if (len > 0) {
    const std::size_t at = t_sink->size();
    t_sink->resize(at + static_cast<std::size_t>(len) + 1);
    std::vsnprintf(t_sink->data() + at, static_cast<std::size_t>(len) + 1, fmt, ap);
    t_sink->resize(at + static_cast<std::size_t>(len));
  }
  va_end(ap);
}

void FlushPrint() {
  if (t_sink == nullptr) std::fflush(stdout);
}

void PrintText(const std::string& text) {
  if (text.empty()) return;
  if (t_sink != nullptr)
    t_sink->append(text);
  else
    std::fwrite(text.data(), 1, text.size(), stdout);
}

OutputCapture::OutputCapture() : prev_(t_sink) { t_sink = &text_; }

OutputCapture::~OutputCapture() { t_sink = prev_; }

std::string OutputCapture::Take() {
  std::string out;
  out.swap(text_);
  return out;
}

}  // namespace veldan
