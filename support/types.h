// Basic scalar types and key/value records shared by every layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace veldan {

// Counts, cell and net numbers, codes: signed 64-bit.
using idx_t = std::int64_t;
// Cell and net numbers as stored in the per-level arrays (the pin lists
// netind and incind, cellmap, netmap, mind, label, islandmap, the offsets
// mptr into mind, and the pin lists of contraction and splitting): signed
// 32-bit, half the memory of idx_t. A level holds at most kMaxLevelCount
// cells and nets (checked where the first level is set up; coarser levels
// and halves hold fewer), so every such value fits. Positions in the pin
// lists (netptr, incptr) stay idx_t: a level may hold more pins. Values read
// from these arrays are widened to idx_t before any arithmetic.
using pin_t = std::int32_t;
// The most cells, and the most nets, that one level may hold: every cell
// and net number fits pin_t.
inline constexpr idx_t kMaxLevelCount = std::numeric_limits<pin_t>::max();

// Whether a level of nvtxs cells and nnets nets can keep its pin lists in
// pin_t (negative counts are left to the callers' own checks).
constexpr bool FitsPinLists(idx_t nvtxs, idx_t nnets) {
  return nvtxs <= kMaxLevelCount && nnets <= kMaxLevelCount;
}

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
