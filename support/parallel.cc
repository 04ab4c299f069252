// The scheduler behind the parallel sections.
#include "support/parallel.h"

#include <sched.h>

#include <thread>

#if defined(VELDAN_HAVE_TBB)
#include <optional>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/parallel_invoke.h>
#include <oneapi/tbb/task_arena.h>
#endif

namespace veldan {

#if defined(VELDAN_HAVE_TBB)

void ParallelFor(idx_t n, const std::function<void(idx_t)>& body) {
  if (n <= 0) return;
  if (n == 1) {
    body(0);
    return;
  }
  // One task per index: the tasks are whole multilevel runs, far coarser
  // than the scheduling cost.
  tbb::parallel_for(tbb::blocked_range<idx_t>(0, n, 1),
                    [&](const tbb::blocked_range<idx_t>& r) {
                      for (idx_t i = r.begin(); i != r.end(); ++i) body(i);
                    },
                    tbb::simple_partitioner());
}

void ParallelInvoke(const std::function<void()>& a, const std::function<void()>& b) {
  tbb::parallel_invoke(a, b);
}

void RunWithThreads(idx_t nthreads, const std::function<void()>& f) {
  if (nthreads < 1) {
    f();
    return;
  }
  // The scheduler's own limit is the number of cores; a caller asking for
  // more threads gets them (and no warning from the scheduler).
  const std::size_t want = static_cast<std::size_t>(nthreads);
  std::optional<tbb::global_control> limit;
  if (want > tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism))
    limit.emplace(tbb::global_control::max_allowed_parallelism, want);
  tbb::task_arena arena(static_cast<int>(nthreads));
  arena.execute(f);
}

bool HaveThreads() { return true; }

#else

void ParallelFor(idx_t n, const std::function<void(idx_t)>& body) {
  for (idx_t i = 0; i < n; ++i) body(i);
}

void ParallelInvoke(const std::function<void()>& a, const std::function<void()>& b) {
  a();
  b();
}

void RunWithThreads(idx_t /*nthreads*/, const std::function<void()>& f) { f(); }

bool HaveThreads() { return false; }

#endif

idx_t AvailableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned h = std::thread::hardware_concurrency();
  return h > 0 ? static_cast<idx_t>(h) : 1;
}

}  // namespace veldan
