// Basic scalar types and key/value records shared by every layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veldan {

// Counts, cell and net numbers, codes: signed 64-bit.
using idx_t = std::int64_t;
// Weights, costs and gains: single precision.
using real_t = float;

// Single-precision machine epsilon; the floor of every cell weight.
inline constexpr real_t kFloatEps = 1.1920929e-07f;
// Largest finite single-precision value.
inline constexpr real_t kMaxFloat = 3.4028235e38f;

// Key/value pair with a float key (priority queues, candidate lists).
struct FKeyVal {
  real_t key;
  idx_t val;
};

// Key/value pair with an integer key (net keys during contraction).
struct IKeyVal {
  idx_t key;
  idx_t val;
};

}  // namespace veldan
