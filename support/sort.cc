// In-place sorts shared by every phase.
//
// One algorithm serves all four variants, so equal keys always end in the
// same order for the same input, whatever the record type: a partitioning
// pass over an explicit stack that leaves every range of at most four
// records unsorted, then a single insertion pass over the whole array.
#include "support/sort.h"

#include <climits>
#include <cstddef>

namespace veldan {

namespace {

// Ranges of this many records or fewer are left to the insertion pass.
constexpr std::ptrdiff_t kThresh = 4;

template <class T>
inline void Swap(T* a, T* b) {
  T tmp = *a;
  *a = *b;
  *b = tmp;
}

// Sorts a[0..n-1] so that no record precedes an earlier one; prec(x, y)
// says whether record x precedes record y.
template <class T, class Prec>
void QuickSort(idx_t n, T* a, Prec prec) {
  if (n <= 0) return;

  if (n > kThresh) {
    // Pending ranges. The larger part is pushed and the smaller one worked
    // on, so the depth never exceeds the number of bits of a size.
    struct Range {
      T* lo;
      T* hi;
    };
    Range stack[CHAR_BIT * sizeof(std::size_t)];
    int top = 0;

    T* lo = a;
    T* hi = a + (n - 1);
    for (;;) {
      // Median of three: order lo, mid, hi.
      T* mid = lo + ((hi - lo) >> 1);
      if (prec(*mid, *lo)) Swap(mid, lo);
      if (prec(*hi, *mid)) {
        Swap(mid, hi);
        if (prec(*mid, *lo)) Swap(mid, lo);
      }

      // Partition around the record at mid, following it when an exchange
      // moves it.
      T* left = lo + 1;
      T* right = hi - 1;
      do {
        while (prec(*left, *mid)) ++left;
        while (prec(*mid, *right)) --right;
        if (left < right) {
          Swap(left, right);
          if (mid == left)
            mid = right;
          else if (mid == right)
            mid = left;
          ++left;
          --right;
        } else if (left == right) {
          ++left;
          --right;
          break;
        }
      } while (left <= right);

      // Choose the next range.
      if (right - lo <= kThresh) {
        if (hi - left <= kThresh) {
          if (top == 0) break;
          --top;
          lo = stack[top].lo;
          hi = stack[top].hi;
        } else {
          lo = left;
        }
      } else if (hi - left <= kThresh) {
        hi = right;
      } else if (right - lo > hi - left) {
        stack[top++] = Range{lo, right};
        lo = left;
      } else {
        stack[top++] = Range{left, hi};
        hi = right;
      }
    }
  }

  // The first of the smallest among the first min(n, 5) records becomes a
  // sentinel at the front. Every range the partitioning left unsorted holds
  // at most five records and the front one holds the overall minimum, so
  // the inner loop below needs no bound check.
  const idx_t nhead = n < kThresh + 1 ? n : kThresh + 1;
  idx_t best = 0;
  for (idx_t i = 1; i < nhead; ++i)
    if (prec(a[i], a[best])) best = i;
  if (best != 0) Swap(a + best, a);

  for (idx_t i = 2; i < n; ++i) {
    idx_t pos = i - 1;
    while (prec(a[i], a[pos])) --pos;
    ++pos;
    if (pos != i) {
      T rec = a[i];
      for (idx_t j = i; j > pos; --j) a[j] = a[j - 1];
      a[pos] = rec;
    }
  }
}

}  // namespace

void ax_isorti(idx_t n, idx_t* a) {
  QuickSort(n, a, [](idx_t x, idx_t y) { return x < y; });
}

void ax_isorti(idx_t n, pin_t* a) {
  QuickSort(n, a, [](pin_t x, pin_t y) { return x < y; });
}

void ax_ikvsorti(idx_t n, IKeyVal* a) {
  QuickSort(n, a, [](const IKeyVal& x, const IKeyVal& y) { return x.key < y.key; });
}

void ax_fkvsorti(idx_t n, FKeyVal* a) {
  QuickSort(n, a, [](const FKeyVal& x, const FKeyVal& y) { return x.key < y.key; });
}

void ax_fkvsortd(idx_t n, FKeyVal* a) {
  QuickSort(n, a, [](const FKeyVal& x, const FKeyVal& y) { return x.key > y.key; });
}

}  // namespace veldan
