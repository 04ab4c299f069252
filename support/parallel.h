// Parallel sections of a partitioning: independent tasks on oneTBB's
// work-stealing scheduler when the build has it, on plain threads otherwise
// (and under ThreadSanitizer, which cannot see into the scheduler). Tasks
// must not depend on each other's order: each owns its state, its random
// stream and its output capture.
#pragma once

#include <functional>

#include "support/types.h"

namespace veldan {

// Runs body(0) .. body(n-1), possibly at once; returns when all are done.
void ParallelFor(idx_t n, const std::function<void(idx_t)>& body);
// Runs a and b, possibly at once; returns when both are done.
void ParallelInvoke(const std::function<void()>& a, const std::function<void()>& b);
// Runs f with at most nthreads threads for the parallel sections inside
// it; with nthreads < 1, in the calling context's own limit.
void RunWithThreads(idx_t nthreads, const std::function<void()>& f);
// The cores this process may run on (its CPU affinity), at least 1.
idx_t AvailableCores();
// The threads a partitioning runs with when asked for `requested`: the
// cores the process may use when the request is below 1 or above them
// (more threads than cores would gain nothing and could exhaust the
// system's threads), else the request.
idx_t CapThreads(idx_t requested);

}  // namespace veldan
