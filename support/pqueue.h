// Addressable max-priority queue of cell ids keyed by a float gain.
//
// A binary heap of {key, cell} entries plus a locator giving each queued
// cell's heap slot (-1 when not queued). Among equal keys the entry that is
// already higher stays higher: sifting moves an entry only past strictly
// smaller keys, and of two equal children the left one is promoted.
// Every operation but init and reset is O(log n) and allocates nothing.
#pragma once

#include <algorithm>
#include <cstdint>

#include "support/memory.h"
#include "support/types.h"

namespace veldan {

// A heap entry: 8 bytes, so that a sift step moves one word and a cache
// line holds eight entries. Queued ids are cell numbers of one level, below
// 2^31.
struct PQEntry {
  real_t key;
  std::int32_t val;
};

struct PQueue {
  idx_t nnodes = 0;
  idx_t maxnodes = 0;
  PQEntry* heap = nullptr;
  std::int32_t* locator = nullptr;
};

inline void ax_PQInit(PQueue* q, idx_t maxnodes) {
  q->nnodes = 0;
  q->maxnodes = maxnodes;
  if (maxnodes > INT32_MAX) errexit("ax_PQInit: %ld cells are too many for one level.", static_cast<long>(maxnodes));
  q->heap = ax_tmalloc<PQEntry>(maxnodes, "ax_PQInit: heap");
  q->locator = ax_tmalloc<std::int32_t>(maxnodes, "ax_PQInit: locator");
  std::fill_n(q->locator, std::max<idx_t>(maxnodes, 0), -1);
}

inline void ax_PQReset(PQueue* q) {
  q->nnodes = 0;
  std::fill_n(q->locator, std::max<idx_t>(q->maxnodes, 0), -1);
}

inline void ax_PQFree(PQueue* q) {
  ax_free(&q->heap, &q->locator);
  q->maxnodes = 0;
  q->nnodes = 0;
}

namespace pq_detail {

// Moves the entry {key, node} up from slot i past strictly smaller parents.
inline void SiftUp(PQueue* q, idx_t i, idx_t node, real_t key) {
  PQEntry* heap = q->heap;
  std::int32_t* locator = q->locator;
  while (i > 0) {
    idx_t j = (i - 1) >> 1;
    if (key > heap[j].key) {
      heap[i] = heap[j];
      locator[heap[i].val] = static_cast<std::int32_t>(i);
      i = j;
    } else {
      break;
    }
  }
  heap[i].key = key;
  heap[i].val = static_cast<std::int32_t>(node);
  locator[node] = static_cast<std::int32_t>(i);
}

// Moves the entry {key, node} down from slot i past strictly larger children.
inline void SiftDown(PQueue* q, idx_t i, idx_t node, real_t key) {
  PQEntry* heap = q->heap;
  std::int32_t* locator = q->locator;
  const idx_t nnodes = q->nnodes;
  idx_t j;
  while ((j = 2 * i + 1) < nnodes) {
    if (heap[j].key > key) {
      if (j + 1 < nnodes && heap[j + 1].key > heap[j].key) j = j + 1;
      heap[i] = heap[j];
      locator[heap[i].val] = static_cast<std::int32_t>(i);
      i = j;
    } else if (j + 1 < nnodes && heap[j + 1].key > key) {
      j = j + 1;
      heap[i] = heap[j];
      locator[heap[i].val] = static_cast<std::int32_t>(i);
      i = j;
    } else {
      break;
    }
  }
  heap[i].key = key;
  heap[i].val = static_cast<std::int32_t>(node);
  locator[node] = static_cast<std::int32_t>(i);
}

}  // namespace pq_detail

inline int ax_PQInsert(PQueue* q, idx_t node, real_t key) {
  idx_t i = q->nnodes++;
  pq_detail::SiftUp(q, i, node, key);
  return 0;
}

inline int ax_PQUpdate(PQueue* q, idx_t node, real_t newkey) {
  idx_t i = q->locator[node];
  if (newkey > q->heap[i].key)
    pq_detail::SiftUp(q, i, node, newkey);
  else
    pq_detail::SiftDown(q, i, node, newkey);
  return 0;
}

inline idx_t ax_PQGetTop(PQueue* q) {
  if (q->nnodes == 0) return -1;
  q->nnodes--;
  idx_t vtx = q->heap[0].val;
  q->locator[vtx] = -1;
  idx_t i = q->nnodes;
  if (i > 0) {
    const PQEntry last = q->heap[i];
    pq_detail::SiftDown(q, 0, last.val, last.key);
  }
  return vtx;
}

// Takes a queued cell out of the queue.
inline void ax_PQDelete(PQueue* q, idx_t node) {
  const idx_t i = q->locator[node];
  q->locator[node] = -1;
  const idx_t last = --q->nnodes;
  if (i == last) return;
  const PQEntry e = q->heap[last];
  if (e.key > q->heap[i].key)
    pq_detail::SiftUp(q, i, e.val, e.key);
  else
    pq_detail::SiftDown(q, i, e.val, e.key);
}

// The key of the top entry; the queue must not be empty.
inline real_t ax_PQSeeTopKey(const PQueue* q) { return q->heap[0].key; }

inline idx_t ax_PQSeeTopVal(const PQueue* q) {
  return q->nnodes == 0 ? -1 : q->heap[0].val;
}

inline idx_t ax_PQLength(const PQueue* q) { return q->nnodes; }

}  // namespace veldan
