// An owned, counted array of plain elements: the storage of the hypergraph
// levels and of the partitioning's work arrays.
//
// The block comes from ax_malloc, so the memory figures (-stats, the
// out-of-memory report) and the allocation scopes see it, and a failed
// allocation is reported the same way as every other. The array is
// move-only and frees its block in its destructor. A borrowed array (Borrow)
// shares another array's elements and frees nothing: the lender must
// outlive it.
//
// Like a pointer, constness belongs to the handle: data() of a const array
// still gives writable elements. Hot loops take data() once and index the
// raw pointer.
#pragma once

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "support/memory.h"
#include "support/types.h"

namespace veldan {

template <class T>
class Array {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "Array holds plain elements");

 public:
  Array() noexcept = default;
  // n elements, uninitialised (n <= 0: empty). msg names the array in the
  // out-of-memory report ("Function: array").
  Array(idx_t n, const char* msg) : p_(ax_tmalloc<T>(n, msg)), n_(n > 0 ? n : 0), owns_(true) {}
  // n elements set to val.
  Array(idx_t n, T val, const char* msg) : Array(n, msg) { std::fill_n(p_, n_, val); }
  // A copy of the n elements at src.
  static Array CopyOf(idx_t n, const T* src, const char* msg) {
    Array a(n, msg);
    if (a.n_ > 0) std::memcpy(a.p_, src, sizeof(T) * static_cast<std::size_t>(a.n_));
    return a;
  }
  static Array CopyOf(const Array& src, const char* msg) { return CopyOf(src.n_, src.p_, msg); }
  // Shares src's elements without owning them.
  static Array Borrow(const Array& src) noexcept { return Borrow(src.p_, src.n_); }
  // The n elements at p, not owned.
  static Array Borrow(T* p, idx_t n) noexcept {
    Array a;
    a.p_ = p;
    a.n_ = n;
    return a;
  }

  ~Array() { release(); }
  Array(Array&& o) noexcept
      : p_(std::exchange(o.p_, nullptr)),
        n_(std::exchange(o.n_, 0)),
        owns_(std::exchange(o.owns_, false)) {}
  Array& operator=(Array&& o) noexcept {
    if (this != &o) {
      release();
      p_ = std::exchange(o.p_, nullptr);
      n_ = std::exchange(o.n_, 0);
      owns_ = std::exchange(o.owns_, false);
    }
    return *this;
  }
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  // Frees the block (when owned) and leaves the array empty.
  void reset() noexcept {
    release();
    p_ = nullptr;
    n_ = 0;
    owns_ = false;
  }
  // Grows or shrinks to n elements keeping the first min(n, size())
  // (ax_realloc); the array must own its block or be empty.
  void Resize(idx_t n, const char* msg) {
    if (n <= 0) {
      reset();
      return;
    }
    p_ = static_cast<T*>(ax_realloc(p_, sizeof(T) * static_cast<std::size_t>(n), msg));
    n_ = n;
    owns_ = true;
  }

  T* data() const noexcept { return p_; }
  T& operator[](idx_t i) const noexcept { return p_[i]; }
  idx_t size() const noexcept { return n_; }
  bool empty() const noexcept { return p_ == nullptr; }
  bool owned() const noexcept { return owns_; }
  T* begin() const noexcept { return p_; }
  T* end() const noexcept { return p_ + n_; }

 private:
  void release() noexcept {
    if (owns_) ax_release(p_);
  }

  T* p_ = nullptr;
  idx_t n_ = 0;
  bool owns_ = false;
};

}  // namespace veldan
