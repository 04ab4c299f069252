// Checked allocation with named failure messages, the two error exits and
// the byte statistics of the program's allocations.
//
// Every allocation passes a message "Function: array". Allocation never fails
// back to the caller: on failure the memory statistics and the request are
// printed on standard error and the process ends with kExitOutOfMemory (or
// hands over to the exit hook). A request for zero bytes or elements gives a
// null pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "support/types.h"

namespace veldan {

// Exit status of a process that ran out of memory, and the status an exit
// hook receives from ax_errexit.
inline constexpr int kExitOutOfMemory = 3;
inline constexpr int kExitSignalled = 134;

// Writes the formatted message and a line feed to standard error and ends
// the process with exit code -2.
[[noreturn]] void errexit(const char* fmt, ...)
    __attribute__((format(printf, 1, 2)));

// Writes the formatted message and a line feed to standard error, then
// raises the given signal; returns only if the signal does not end the
// process.
void ax_errexit(int signum, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Ends the process with the given status (the orderly exits of the input
// checks that report on standard output), or hands over to the exit hook.
[[noreturn]] void ax_exit(int status);

// An exit hook replaces the process exit of errexit, ax_errexit, ax_exit and
// a failed allocation outside any AllocationScope (under one they throw
// ScopedExit), for code that must not end the process but runs no scope:
// the fuzz targets. It receives the exit status and the formatted message
// (null from ax_exit), which lives only for the call; nothing is written
// then. It must not return: it throws. The program and the library never
// set one. Any thread may end up calling it.
using ExitHook = void (*)(int status, const char* message);
// What a failed allocation prints on standard error before the process
// ends: the memory figures and the request ("***Memory <what> failed for
// <msg>. Requested size: <nbytes> bytes"), each line ending in a line feed.
std::string OutOfMemoryText(const char* what, const char* msg, std::size_t nbytes);
void ax_SetExitHook(ExitHook hook);

// The blocks allocated while a scope is current on a thread (and on the
// threads of the parallel sections started there, which take it along) are
// listed in it until they are released; the scope frees whatever is still
// listed when it ends. An error that unwinds out of a partitioning thus
// leaks nothing: the library opens one around every call. Scopes nest on a
// thread; the innermost is current.
class AllocationScope;
// The header in front of every block: its size and, while a scope lists
// it, the scope and its neighbours in the scope's list.
struct BlockHeader {
  std::size_t size;
  AllocationScope* scope;
  BlockHeader* prev;
  BlockHeader* next;
};
class AllocationScope {
 public:
  AllocationScope();
  ~AllocationScope();
  AllocationScope(const AllocationScope&) = delete;
  AllocationScope& operator=(const AllocationScope&) = delete;

  static AllocationScope* Current();
  // Makes scope the current one of the calling thread while it lives (a
  // task of a parallel section takes its starter's scope this way).
  class Binding {
   public:
    explicit Binding(AllocationScope* scope);
    ~Binding();
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

   private:
    AllocationScope* prev_;
  };

  void Link(BlockHeader* b);
  void Unlink(BlockHeader* b);

 private:
  std::mutex mutex_;
  BlockHeader head_;  // the list's sentinel
  AllocationScope* prev_;
};

// Under an AllocationScope the error exits (errexit, ax_errexit, ax_exit and
// a failed allocation) throw this instead of ending the process: the status
// the process would end with and the message. The library's calls run under
// a scope, so they need no exit hook.
class ScopedExit : public std::runtime_error {
 public:
  ScopedExit(int status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  int status() const noexcept { return status_; }

 private:
  int status_;
};

// From now on, the allocation after n more fails as if the heap had no
// memory left, and so does every later one, until the count is set again
// (0: no failure). For the tests of the failure paths.
void ax_FailAllocationsAfter(std::int64_t n);

void* ax_malloc(std::size_t nbytes, const char* msg);
void* ax_realloc(void* ptr, std::size_t nbytes, const char* msg);
// Releases one block obtained from ax_malloc/ax_realloc (null is fine).
void ax_release(void* ptr);

// Frees every listed pointer variable and sets it to null:
//   ax_free(&a, &b, &c);
template <class... T>
inline void ax_free(T**... ptrs) {
  ((ax_release(static_cast<void*>(const_cast<std::remove_const_t<T>*>(*ptrs))),
    *ptrs = nullptr),
   ...);
}

// Bytes currently held and the most ever held by the program's allocations.
std::size_t ax_CurMemory();
std::size_t ax_MaxMemory();

// Typed array routines. n is a count of elements; n <= 0 gives null.
idx_t* ax_imalloc(idx_t n, const char* msg);
idx_t* ax_ismalloc(idx_t n, idx_t val, const char* msg);
idx_t* ax_icopy(idx_t n, const idx_t* a, idx_t* b);
idx_t* ax_irealloc(idx_t* ptr, idx_t n, const char* msg);
idx_t* ax_iset(idx_t n, idx_t val, idx_t* x);

real_t* ax_fmalloc(idx_t n, const char* msg);
real_t* ax_fsmalloc(idx_t n, real_t val, const char* msg);
real_t* ax_fcopy(idx_t n, const real_t* a, real_t* b);
real_t* ax_frealloc(real_t* ptr, idx_t n, const char* msg);

FKeyVal* ax_fkvmalloc(idx_t n, const char* msg);
IKeyVal* ax_ikvmalloc(idx_t n, const char* msg);

// Allocates n elements of any plain type through ax_malloc.
template <class T>
inline T* ax_tmalloc(idx_t n, const char* msg) {
  if (n <= 0) return nullptr;
  if (static_cast<std::size_t>(n) > SIZE_MAX / sizeof(T))
    return static_cast<T*>(ax_malloc(SIZE_MAX, msg));
  return static_cast<T*>(ax_malloc(static_cast<std::size_t>(n) * sizeof(T), msg));
}

// Frees every row of a matrix, then the row array, setting each to null.
void ax_FreeMatrix(void*** rows, idx_t nrows);
template <class T>
inline void ax_FreeMatrix(T*** rows, idx_t nrows) {
  ax_FreeMatrix(reinterpret_cast<void***>(rows), nrows);
}

}  // namespace veldan
