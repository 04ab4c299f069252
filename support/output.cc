// Print and the per-task captures.
#include "support/output.h"

#include <cstdarg>
#include <atomic>
#include <cstdio>

#include "support/progress.h"

namespace veldan {

namespace {
thread_local std::string* t_sink = nullptr;
std::atomic<ProgressLine*> g_observer{nullptr};

// Writes to standard output with the progress line, if any, out of the way.
template <class Write>
void ToStdout(Write write) {
  ProgressLine* line = g_observer.load(std::memory_order_acquire);
  if (line == nullptr) {
    write();
    return;
  }
  line->BeforeOutput();
  const std::size_t last = write();
  std::fflush(stdout);
  line->AfterOutput(last == '\n');
}
}  // namespace

void SetOutputObserver(ProgressLine* line) { g_observer.store(line, std::memory_order_release); }

void Print(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  if (t_sink == nullptr) {
    if (g_observer.load(std::memory_order_acquire) == nullptr) {
      std::vprintf(fmt, ap);
    } else {
      std::string text;
      va_list copy;
      va_copy(copy, ap);
      const int len = std::vsnprintf(nullptr, 0, fmt, copy);
      va_end(copy);
      if (len > 0) {
        text.resize(static_cast<std::size_t>(len) + 1);
        std::vsnprintf(text.data(), text.size(), fmt, ap);
        text.resize(static_cast<std::size_t>(len));
      }
      PrintText(text);
    }
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
  if (t_sink != nullptr) {
    t_sink->append(text);
    return;
  }
  ToStdout([&] {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return static_cast<std::size_t>(static_cast<unsigned char>(text.back()));
  });
}

OutputCapture::OutputCapture() : prev_(t_sink) { t_sink = &text_; }

OutputCapture::~OutputCapture() { t_sink = prev_; }

std::string OutputCapture::Take() {
  std::string out;
  out.swap(text_);
  return out;
}

}  // namespace veldan
