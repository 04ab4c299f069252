// Parallel sections of a partitioning: independent tasks on oneTBB's
// work-stealing scheduler when the build has it, on plain threads otherwise
// (and under ThreadSanitizer, which cannot see into the scheduler). Tasks
// must not depend on each other's order: each owns its state, its random
// stream and its output capture.
#pragma once

#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "support/array.h"
#include "support/types.h"

namespace veldan {

// Runs body(0) .. body(n-1), possibly at once; returns when all are done.
void ParallelFor(idx_t n, const std::function<void(idx_t)>& body);
// Runs a and b, possibly at once; returns when both are done.
void ParallelInvoke(const std::function<void()>& a, const std::function<void()>& b);
// Runs f with at most nthreads threads for the parallel sections inside
// it; with nthreads < 1, in the calling context's own limit.
void RunWithThreads(idx_t nthreads, const std::function<void()>& f);
// Loops inside one run: the passes over all cells, nets or pins of a level
// split into chunks of consecutive indices. The chunks depend on the loop's
// length and grain alone, never on the threads, so that whatever a chunk
// computes is the same for any thread count; a chunk that writes only its
// own indices gives results independent of the order the chunks run in.
// Loops of fewer than two grains are one chunk, run on the calling thread
// without a task: small levels pay nothing for the split.
inline constexpr idx_t kMaxChunks = 256;
// The chunks of a loop over n indices: n / grain, from 1 to kMaxChunks.
idx_t ChunkCount(idx_t n, idx_t grain);
// The first index of chunk c of nchunks over n indices (c = nchunks gives n).
inline idx_t ChunkStart(idx_t n, idx_t nchunks, idx_t c) { return n * c / nchunks; }
// Runs body(c, begin, end) for every chunk c = [begin, end) of the
// ChunkCount(n, grain) chunks of 0..n-1, possibly at once.
void ParallelChunks(idx_t n, idx_t grain,
                    const std::function<void(idx_t c, idx_t begin, idx_t end)>& body);

// Scratch arrays for the chunks of a parallel loop (marker tables and the
// like): a chunk takes one and gives it back when done, so that no more are
// made than chunks run at once, and one thread makes one. An array comes
// back in the state its last user left it in.
template <class T>
class ScratchPool {
 public:
  ScratchPool(idx_t n, T init, const char* msg) : n_(n), init_(init), msg_(msg) {}

  Array<T> Take() {
    {
      std::lock_guard<std::mutex> g(lock_);
      if (!free_.empty()) {
        Array<T> a = std::move(free_.back());
        free_.pop_back();
        return a;
      }
    }
    return Array<T>(n_, init_, msg_);
  }
  void Give(Array<T>&& a) {
    std::lock_guard<std::mutex> g(lock_);
    free_.push_back(std::move(a));
  }

 private:
  idx_t n_;
  T init_;
  const char* msg_;
  std::mutex lock_;
  std::vector<Array<T>> free_;
};

// The cores this process may run on (its CPU affinity), at least 1.
idx_t AvailableCores();
// The threads a partitioning runs with when asked for `requested`: the
// cores the process may use when the request is below 1 or above them
// (more threads than cores would gain nothing and could exhaust the
// system's threads), else the request.
idx_t CapThreads(idx_t requested);

}  // namespace veldan
