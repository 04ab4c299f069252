// Progress of a long partitioning: a counter the runs step as they finish,
// and a self-updating line on a terminal that shows it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "support/types.h"

namespace veldan {

// Runs finished so far; any thread may step it.
class Progress {
 public:
  void Step() { done_.fetch_add(1, std::memory_order_relaxed); }
  idx_t Done() const { return done_.load(std::memory_order_relaxed); }

 private:
  std::atomic<idx_t> done_{0};
};

// While it exists, a line on standard error shows "<done> of <planned>
// <what>, <seconds> s", redrawn a few times a second and cleared when the
// object goes. Meant for a terminal: the caller creates one only when
// standard error is one. Text that Print writes to standard output while
// the line is shown on the same terminal goes above it.
class ProgressLine {
 public:
  ProgressLine(const Progress& progress, idx_t planned, const char* what);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Called by Print around a write to standard output.
  void BeforeOutput();
  void AfterOutput(bool atlinestart);

 private:
  void Draw();   // with mutex_ held
  void Erase();  // with mutex_ held
  void Tick();

  const Progress& progress_;
  const idx_t planned_;
  const std::string what_;
  const bool sharedterminal_;  // standard output is a terminal too
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::size_t shown_ = 0;   // characters of the line now on the terminal
  bool atlinestart_ = true;  // standard output ended its last line
  std::thread ticker_;
};

}  // namespace veldan
