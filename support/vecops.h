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

// The shared random stream. It is the additive lagged-Fibonacci generator
// (degree 31, separation 3, seeded by a 16807 multiplicative congruence and
// with the first 310 outputs discarded) that the GNU C library uses for
// srand/rand, kept here so that a seed gives the same stream on every
// platform, without the library's lock on every draw, and without disturbing
// the caller's own rand() state.
//
// Seeds the stream with seed taken as a 32-bit unsigned number, or with the
// clock when seed < 0.
void InitRandom(idx_t seed);
// The next number of the stream, in 0 .. 2^31 - 1.
int RandomDraw();
// Two draws combined into a 63-bit number (first draw high, second low),
// taken modulo n (n > 0).
idx_t RandomInRange(idx_t n);
// flag 1: p[i] = i first; then n/2 random swaps.
void RandomPermute(idx_t n, idx_t* p, int flag);

// The state of one stream.
struct RandomState {
  std::uint32_t r[31];
  int front = 3;  // position of the newest lag-3 term
  int rear = 0;
};

// A stream of the task that creates it: while the object lives, the draws
// of its thread come from it instead of the shared stream (InitRandom's).
// Scopes nest: the previous stream is back when the object goes. A task of
// a parallel section creates one first thing, so its draws do not depend
// on which thread runs it or on what ran there before.
class RandomScope {
 public:
  explicit RandomScope(std::uint32_t seed);
  ~RandomScope();
  RandomScope(const RandomScope&) = delete;
  RandomScope& operator=(const RandomScope&) = delete;

 private:
  RandomState state_;
  RandomState* prev_;
};

// The seed of the stream of one task: run or V-cycle `index` at node `node`
// of the recursion, under the user's seed.
std::uint32_t StreamSeed(idx_t seed, std::uint64_t node, idx_t index);

// seed itself, or a seed taken from the clock when seed < 0.
idx_t ResolveSeed(idx_t seed);

}  // namespace veldan
