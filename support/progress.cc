#include "support/progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "support/output.h"

namespace veldan {

ProgressLine::ProgressLine(const Progress& progress, idx_t planned, const char* what)
    : progress_(progress),
      planned_(planned),
      what_(what),
      sharedterminal_(isatty(STDOUT_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {
  std::fflush(stdout);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Draw();
  }
  SetOutputObserver(this);
  ticker_ = std::thread([this] { Tick(); });
}

ProgressLine::~ProgressLine() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  ticker_.join();
  SetOutputObserver(nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  Erase();
}

void ProgressLine::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::milliseconds(250));
    if (stop_) break;
    // On a terminal shared with standard output, the line waits until
    // that output has ended its line.
    if (!sharedterminal_ || atlinestart_) Draw();
  }
}

void ProgressLine::Draw() {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  idx_t done = progress_.Done();
  if (done > planned_) done = planned_;
  char text[160];
  int len = std::snprintf(text, sizeof text, "veldan: %ld of %ld %s, %.1f s", done, planned_,
                          what_.c_str(), seconds);
  if (len < 0) return;
  if (len >= static_cast<int>(sizeof text)) len = static_cast<int>(sizeof text) - 1;
  // Blanks over whatever of a longer line was there before.
  std::string line = "\r";
  line.append(text, static_cast<std::size_t>(len));
  if (shown_ > static_cast<std::size_t>(len)) line.append(shown_ - len, ' ');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  shown_ = static_cast<std::size_t>(len);
}

void ProgressLine::Erase() {
  if (shown_ == 0) return;
  std::string line = "\r";
  line.append(shown_, ' ');
  line += '\r';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  shown_ = 0;
}

void ProgressLine::BeforeOutput() {
  mutex_.lock();
  if (sharedterminal_) Erase();
}

void ProgressLine::AfterOutput(bool atlinestart) {
  atlinestart_ = atlinestart;
  mutex_.unlock();
}

}  // namespace veldan
