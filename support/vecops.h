// Vector kernels, two-dimensional arrays and the shared random stream.
#pragma once

#include <cstdint>

#include "support/types.h"

namespace veldan {

real_t* ax_fset(idx_t n, real_t val, real_t* x);
idx_t* ax_iincset(idx_t n, idx_t base, idx_t* x);
// Index of the first largest (smallest) element; 0 when n < 2.
idx_t ax_iargmax(idx_t n, const idx_t* x);
idx_t ax_fargmax(idx_t n, const real_t* x);
idx_t ax_fargmin(idx_t n, const real_t* x);
// Sum of x[0], x[incx], ... (n terms) in single precision, in order.
real_t ax_fsum(idx_t n, const real_t* x, idx_t incx);
real_t* ax_faxpy(idx_t n, real_t alpha, const real_t* x, idx_t incx, real_t* y,
                 idx_t incy);

idx_t** ax_iAllocMatrix(idx_t nrows, idx_t ncols, idx_t val, const char* msg);
real_t** ax_fAllocMatrix(idx_t nrows, idx_t ncols, real_t val, const char* msg);
void ax_fSetMatrix(real_t** matrix, idx_t nrows, idx_t ncols, real_t val);

// A random stream: the additive lagged-Fibonacci generator (degree 31,
// separation 3, seeded by a 16807 multiplicative congruence and with the
// first 310 outputs discarded) that the GNU C library uses for srand/rand,
// kept here so that a seed gives the same stream on every platform. Every
// task owns one (RunContext::rng), seeded from the task's place in the
// partitioning, so that its draws do not depend on the threads.
class RandomStream {
 public:
  // Seeded with 1, as rand() is before any srand.
  RandomStream() { Seed(1); }
  explicit RandomStream(std::uint32_t seed) { Seed(seed); }
  void Seed(std::uint32_t seed);
  // The next number of the stream, in 0 .. 2^31 - 1.
  int Draw() {
    r_[front_] += r_[rear_];
    const std::uint32_t out = r_[front_] >> 1;
    if (++front_ == 31) front_ = 0;
    if (++rear_ == 31) rear_ = 0;
    return static_cast<int>(out);
  }
  // Two draws combined into a 63-bit number (first draw high, second low),
  // taken modulo n (n > 0).
  idx_t InRange(idx_t n) {
    const idx_t hi = Draw();
    const idx_t lo = Draw();
    return ((hi << 32) | lo) % n;
  }
  // flag 1: p[i] = i first; then n/2 random swaps.
  void Permute(idx_t n, idx_t* p, int flag);

 private:
  std::uint32_t r_[31];
  int front_ = 3;  // position of the newest lag-3 term
  int rear_ = 0;
};

// The seed of the stream of one task: run or V-cycle `index` at node `node`
// of the recursion, under the user's seed.
std::uint32_t StreamSeed(idx_t seed, std::uint64_t node, idx_t index);

// seed itself, or a seed taken from the clock when seed < 0.
idx_t ResolveSeed(idx_t seed);

}  // namespace veldan
