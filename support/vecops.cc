// Vector kernels, two-dimensional arrays and the shared random stream.
#include "support/vecops.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "support/memory.h"

namespace veldan {

real_t* ax_fset(idx_t n, real_t val, real_t* x) {
  for (idx_t i = 0; i < n; ++i) x[i] = val;
  return x;
}

idx_t* ax_iincset(idx_t n, idx_t base, idx_t* x) {
  for (idx_t i = 0; i < n; ++i) x[i] = base + i;
  return x;
}

// The arg-extremum kernels replace the candidate only on a strict
// improvement, so the first of equal extremes wins.
idx_t ax_iargmax(idx_t n, const idx_t* x) {
  idx_t best = 0;
  for (idx_t i = 1; i < n; ++i)
    if (x[i] > x[best]) best = i;
  return best;
}

idx_t ax_fargmax(idx_t n, const real_t* x) {
  idx_t best = 0;
  for (idx_t i = 1; i < n; ++i)
    if (x[i] > x[best]) best = i;
  return best;
}

idx_t ax_fargmin(idx_t n, const real_t* x) {
  idx_t best = 0;
  for (idx_t i = 1; i < n; ++i)
    if (x[i] < x[best]) best = i;
  return best;
}

real_t ax_fsum(idx_t n, const real_t* x, idx_t incx) {
  real_t sum = 0.0f;
  for (idx_t i = 0; i < n; ++i, x += incx) sum += *x;
  return sum;
}

real_t* ax_faxpy(idx_t n, real_t alpha, const real_t* x, idx_t incx, real_t* y,
                 idx_t incy) {
  real_t* y0 = y;
  for (idx_t i = 0; i < n; ++i, x += incx, y += incy) *y += alpha * (*x);
  return y0;
}

idx_t** ax_iAllocMatrix(idx_t nrows, idx_t ncols, idx_t val, const char* msg) {
  idx_t** rows = ax_tmalloc<idx_t*>(nrows, msg);
  for (idx_t i = 0; i < nrows; ++i) rows[i] = ax_ismalloc(ncols, val, msg);
  return rows;
}

real_t** ax_fAllocMatrix(idx_t nrows, idx_t ncols, real_t val, const char* msg) {
  real_t** rows = ax_tmalloc<real_t*>(nrows, msg);
  for (idx_t i = 0; i < nrows; ++i) rows[i] = ax_fsmalloc(ncols, val, msg);
  return rows;
}

void ax_fSetMatrix(real_t** matrix, idx_t nrows, idx_t ncols, real_t val) {
  for (idx_t i = 0; i < nrows; ++i) ax_fset(ncols, val, matrix[i]);
}

void RandomStream::Seed(std::uint32_t seed) {
  if (seed == 0) seed = 1;
  r_[0] = seed;
  // The recurrence starts from the seed read as a signed 32-bit number.
  std::int64_t word = static_cast<std::int32_t>(seed);
  for (int i = 1; i < 31; ++i) {
    // word = 16807 * word mod (2^31 - 1), without overflow (Schrage).
    const std::int64_t hi = word / 127773;
    const std::int64_t lo = word % 127773;
    word = 16807 * lo - 2836 * hi;
    if (word < 0) word += 2147483647;
    r_[i] = static_cast<std::uint32_t>(word);
  }
  front_ = 3;
  rear_ = 0;
  for (int i = 0; i < 310; ++i) Draw();
}

void RandomStream::Permute(idx_t n, idx_t* p, int flag) {
  if (flag == 1)
    for (idx_t i = 0; i < n; ++i) p[i] = i;
  for (idx_t i = 0; i < n / 2; ++i) {
    const idx_t u = InRange(n);
    const idx_t v = InRange(n);
    const idx_t tmp = p[u];
    p[u] = p[v];
    p[v] = tmp;
  }
}

std::uint32_t StreamSeed(idx_t seed, std::uint64_t node, idx_t index) {
  // splitmix64 steps over the three numbers: nearby nodes and indices give
  // unrelated streams.
  auto mix = [](std::uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  };
  std::uint64_t h = mix(static_cast<std::uint64_t>(seed));
  h = mix(h ^ node);
  h = mix(h ^ static_cast<std::uint64_t>(index));
  return static_cast<std::uint32_t>(h >> 32);
}

idx_t ResolveSeed(idx_t seed) {
  if (seed >= 0) return seed;
  return static_cast<idx_t>(static_cast<std::uint32_t>(std::time(nullptr)) & 0x7fffffffu);
}

}  // namespace veldan
