// Checked allocation, the byte statistics of the program's allocations and
// the two error exits.
//
// The process heap backs every block. Each block carries a small header in
// front of the caller's bytes that records the requested size, so a release
// can subtract exactly what the allocation added. The header keeps the
// platform's strictest alignment, so the caller's pointer is as well aligned
// as one straight from the heap.
#include "support/memory.h"

#include <atomic>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <sys/types.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "support/format.h"

namespace veldan {

namespace {

constexpr std::size_t kHeader =
    (sizeof(BlockHeader) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
    alignof(std::max_align_t);
static_assert(kHeader % alignof(std::max_align_t) == 0);

thread_local AllocationScope* t_scope = nullptr;

// Failures to come, for the tests of the failure paths: while g_inject is
// set, the allocation that takes g_countdown to 0 fails, and every later one.
std::atomic<bool> g_inject{false};
std::atomic<std::int64_t> g_countdown{0};

// Requests above this never reach the heap: they are failed allocations by
// definition (no object may exceed the largest pointer difference), and
// asking for them would only make some heaps complain on their own terms.
constexpr std::size_t kMaxRequest =
    static_cast<std::size_t>(PTRDIFF_MAX) - kHeader;

// Bytes held now and the most ever held, over all threads: the tasks of one
// partitioning allocate on whichever thread runs them, and a block may be
// released by another thread than its allocator's.
struct MemSpace {
  std::atomic<std::size_t> cur{0};
  std::atomic<std::size_t> max{0};
};
MemSpace g_space;

inline void CountIn(std::size_t nbytes) {
  const std::size_t now = g_space.cur.fetch_add(nbytes, std::memory_order_relaxed) + nbytes;
  std::size_t seen = g_space.max.load(std::memory_order_relaxed);
  while (now > seen &&
         !g_space.max.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
  }
}

inline void CountOut(std::size_t nbytes) {
  g_space.cur.fetch_sub(nbytes, std::memory_order_relaxed);
}

// Large level arrays are walked at random (a cell's neighbours, a net's
// pins): with 4 KiB pages nearly every such access misses the TLB, and
// every page is a fault of its own when first touched. Blocks of several
// MiB ask for transparent huge pages where the kernel gives them on request;
// the advice changes no byte, and a refusal costs nothing. Only the part
// of a block that covers whole huge pages is advised.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kHugeAdviceMin = kHugePage;

inline void AdviseHugePages([[maybe_unused]] void* base,
                            [[maybe_unused]] std::size_t nbytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (nbytes < kHugeAdviceMin) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(base);
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + nbytes) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

inline void* Base(void* user) {
  return static_cast<char*>(user) - kHeader;
}

inline BlockHeader* Header(void* user) { return static_cast<BlockHeader*>(Base(user)); }

// Fills the header of a fresh heap block, listing it in the calling
// thread's scope if there is one; returns the caller's pointer.
inline void* Stamp(void* base, std::size_t nbytes, AllocationScope* scope) {
  BlockHeader* h = ::new (base) BlockHeader{nbytes, nullptr, nullptr, nullptr};
  if (scope != nullptr) scope->Link(h);
  return static_cast<char*>(base) + kHeader;
}

// Whether the next allocation is to fail (the failure injection of the
// tests).
inline bool InjectedFailure() {
  if (!g_inject.load(std::memory_order_relaxed)) return false;
  return g_countdown.fetch_sub(1, std::memory_order_relaxed) <= 1;
}

}  // namespace

namespace {
std::atomic<ExitHook> g_exit_hook{nullptr};

[[noreturn]] void AllocFailed(const char* what, const char* msg,
                              std::size_t nbytes) {
  // Memory runs out when an input is too large for the machine (or claims
  // to be): an orderly end with a status of its own, not a signal. This may
  // happen on any thread of a partitioning, so the process ends at once,
  // without running the exit handlers under the other threads' feet.
  char message[256];
  std::snprintf(message, sizeof message, "***Memory %s failed for %s. Requested size: %zd bytes",
                what, msg != nullptr ? msg : "", static_cast<ssize_t>(nbytes));
  if (t_scope != nullptr) throw ScopedExit(kExitOutOfMemory, message);
  if (const ExitHook hook = g_exit_hook.load()) hook(kExitOutOfMemory, message);
  std::fflush(stdout);
  std::fputs(OutOfMemoryText(what, msg, nbytes).c_str(), stderr);
  std::fflush(nullptr);
  std::_Exit(kExitOutOfMemory);
}

}  // namespace

std::string OutOfMemoryText(const char* what, const char* msg, std::size_t nbytes) {
  char text[512];
  std::snprintf(text, sizeof text,
                "   Maximum memory used:              %10zu bytes\n"
                "   Current memory used:              %10zu bytes\n"
                "***Memory %s failed for %s. Requested size: %zd bytes\n",
                g_space.max.load(), g_space.cur.load(), what, msg != nullptr ? msg : "",
                static_cast<ssize_t>(nbytes));
  return text;
}

void ax_SetExitHook(ExitHook hook) { g_exit_hook.store(hook); }

void ax_exit(int status) {
  if (t_scope != nullptr) throw ScopedExit(status, "");
  if (const ExitHook hook = g_exit_hook.load()) hook(status, nullptr);
  std::exit(status);
}

void errexit(const char* fmt, ...) {
  va_list args;
  if (t_scope != nullptr) {
    va_start(args, fmt);
    const std::string message = FormatV(fmt, args);
    va_end(args);
    throw ScopedExit(-2, message);
  }
  if (const ExitHook hook = g_exit_hook.load()) {
    va_start(args, fmt);
    const std::string message = FormatV(fmt, args);
    va_end(args);
    hook(-2, message.c_str());
  }
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
  std::exit(-2);
}

void ax_errexit(int signum, const char* fmt, ...) {
  va_list args;
  if (t_scope != nullptr) {
    va_start(args, fmt);
    const std::string message = FormatV(fmt, args);
    va_end(args);
    throw ScopedExit(kExitSignalled, message);
  }
  if (const ExitHook hook = g_exit_hook.load()) {
    char message[512];
    va_start(args, fmt);
    std::vsnprintf(message, sizeof message, fmt, args);
    va_end(args);
    hook(kExitSignalled, message);
  }
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::fprintf(stderr, "\n");
  std::fflush(stderr);
  std::raise(signum);
}

void* ax_malloc(std::size_t nbytes, const char* msg) {
  if (nbytes == 0) return nullptr;
  void* base = (nbytes <= kMaxRequest && !InjectedFailure()) ? std::malloc(nbytes + kHeader)
                                                             : nullptr;
  if (base == nullptr) AllocFailed("allocation", msg, nbytes);
  AdviseHugePages(base, nbytes + kHeader);
  CountIn(nbytes);
  return Stamp(base, nbytes, t_scope);
}

void* ax_realloc(void* ptr, std::size_t nbytes, const char* msg) {
  if (ptr == nullptr) return ax_malloc(nbytes, msg);
  if (nbytes == 0) {
    ax_release(ptr);
    return nullptr;
  }
  if (nbytes > kMaxRequest || InjectedFailure()) AllocFailed("re-allocation", msg, nbytes);
  // The block leaves its scope's list while it moves, and joins it again
  // at its new place (or stays listed where it was, should the move fail).
  BlockHeader* h = Header(ptr);
  const std::size_t old = h->size;
  AllocationScope* scope = h->scope;
  if (scope != nullptr) scope->Unlink(h);
  void* base = std::realloc(h, nbytes + kHeader);
  if (base == nullptr) {
    if (scope != nullptr) scope->Link(h);
    AllocFailed("re-allocation", msg, nbytes);
  }
  if (nbytes > old) AdviseHugePages(base, nbytes + kHeader);
  CountOut(old);
  CountIn(nbytes);
  return Stamp(base, nbytes, scope);
}

void ax_release(void* ptr) {
  if (ptr == nullptr) return;
  BlockHeader* h = Header(ptr);
  CountOut(h->size);
  if (h->scope != nullptr) h->scope->Unlink(h);
  std::free(h);
}

AllocationScope::AllocationScope() : head_{0, this, &head_, &head_}, prev_(t_scope) {
  t_scope = this;
}

AllocationScope::~AllocationScope() {
  t_scope = prev_;
  // What the code under the scope left behind when it ended by an
  // exception: every task of it is done by now.
  for (BlockHeader* b = head_.next; b != &head_;) {
    BlockHeader* next = b->next;
    CountOut(b->size);
    std::free(b);
    b = next;
  }
}

void AllocationScope::Link(BlockHeader* b) {
  std::lock_guard<std::mutex> lock(mutex_);
  b->scope = this;
  b->next = head_.next;
  b->prev = &head_;
  head_.next->prev = b;
  head_.next = b;
}

void AllocationScope::Unlink(BlockHeader* b) {
  std::lock_guard<std::mutex> lock(mutex_);
  b->prev->next = b->next;
  b->next->prev = b->prev;
}

AllocationScope* AllocationScope::Current() { return t_scope; }

AllocationScope::Binding::Binding(AllocationScope* scope) : prev_(t_scope) { t_scope = scope; }
AllocationScope::Binding::~Binding() { t_scope = prev_; }

void ax_FailAllocationsAfter(std::int64_t n) {
  g_countdown.store(n);
  g_inject.store(n > 0);
}

std::size_t ax_CurMemory() { return g_space.cur.load(std::memory_order_relaxed); }
std::size_t ax_MaxMemory() { return g_space.max.load(std::memory_order_relaxed); }

namespace {

// Byte size of n elements of elemsize bytes; SIZE_MAX (a request that can
// only fail) when the product does not fit.
inline std::size_t ArrayBytes(idx_t n, std::size_t elemsize) {
  if (static_cast<std::size_t>(n) > SIZE_MAX / elemsize) return SIZE_MAX;
  return static_cast<std::size_t>(n) * elemsize;
}

template <class T>
inline T* TypedMalloc(idx_t n, const char* msg) {
  if (n <= 0) return nullptr;
  return static_cast<T*>(ax_malloc(ArrayBytes(n, sizeof(T)), msg));
}

template <class T>
inline T* TypedRealloc(T* ptr, idx_t n, const char* msg) {
  if (n <= 0) {
    ax_release(ptr);
    return nullptr;
  }
  return static_cast<T*>(ax_realloc(ptr, ArrayBytes(n, sizeof(T)), msg));
}

}  // namespace

idx_t* ax_imalloc(idx_t n, const char* msg) {
  return TypedMalloc<idx_t>(n, msg);
}

idx_t* ax_ismalloc(idx_t n, idx_t val, const char* msg) {
  idx_t* x = TypedMalloc<idx_t>(n, msg);
  return ax_iset(n, val, x);
}

idx_t* ax_icopy(idx_t n, const idx_t* a, idx_t* b) {
  if (n > 0) std::memmove(b, a, static_cast<std::size_t>(n) * sizeof(idx_t));
  return b;
}

idx_t* ax_irealloc(idx_t* ptr, idx_t n, const char* msg) {
  return TypedRealloc(ptr, n, msg);
}

idx_t* ax_iset(idx_t n, idx_t val, idx_t* x) {
  for (idx_t i = 0; i < n; ++i) x[i] = val;
  return x;
}

real_t* ax_fmalloc(idx_t n, const char* msg) {
  return TypedMalloc<real_t>(n, msg);
}

real_t* ax_fsmalloc(idx_t n, real_t val, const char* msg) {
  real_t* x = TypedMalloc<real_t>(n, msg);
  for (idx_t i = 0; i < n; ++i) x[i] = val;
  return x;
}

real_t* ax_fcopy(idx_t n, const real_t* a, real_t* b) {
  if (n > 0) std::memmove(b, a, static_cast<std::size_t>(n) * sizeof(real_t));
  return b;
}

real_t* ax_frealloc(real_t* ptr, idx_t n, const char* msg) {
  return TypedRealloc(ptr, n, msg);
}

FKeyVal* ax_fkvmalloc(idx_t n, const char* msg) {
  return TypedMalloc<FKeyVal>(n, msg);
}

IKeyVal* ax_ikvmalloc(idx_t n, const char* msg) {
  return TypedMalloc<IKeyVal>(n, msg);
}

void ax_FreeMatrix(void*** rows, idx_t nrows) {
  if (*rows == nullptr) return;
  for (idx_t i = 0; i < nrows; ++i) ax_free(&(*rows)[i]);
  ax_free(rows);
}

}  // namespace veldan
