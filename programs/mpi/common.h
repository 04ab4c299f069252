// Shared pieces of veldan-mpi: the communicator record, exit statuses, and
// the collective agreement on a failure found by any rank.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <string>

#include "io/io.h"

namespace veldan::mpi {

using i64 = std::int64_t;

inline constexpr const char* kVersion = VELDAN_VERSION;

// Exit statuses, as the single-process program uses them.
enum : int {
  kStatusOk = 0,
  kStatusUsage = 2,    // a mistake on the command line
  kStatusInput = 254,  // unreadable or malformed input, or a file not written
};

struct Comm {
  MPI_Comm comm = MPI_COMM_WORLD;
  int rank = 0;
  int size = 1;
};

// The first cell (0-based) of rank r's block when n cells are spread in
// contiguous blocks over size ranks.
inline i64 BlockStart(i64 n, int size, int r) {
  return static_cast<i64>((static_cast<__int128>(n) * r) / size);
}

// A failure seen by one rank. key orders failures so that every rank agrees
// on the one the single-process reader would have met first (usually the
// line number); the smallest key wins, ties go to the lowest rank.
struct Failure {
  static constexpr i64 kNone = INT64_MAX;
  i64 key = kNone;
  std::string text;  // printed on standard error as it stands
  int status = kStatusInput;

  bool failed() const { return key != kNone; }
  // Keeps the earliest failure only.
  void Set(i64 where, std::string message, int exitstatus = kStatusInput) {
    if (where >= key) return;
    key = where;
    text = std::move(message);
    status = exitstatus;
  }
  // The refusal of an input by the readers of io/, with its text and status.
  void Set(i64 where, const InputError& error) { Set(where, error.what(), error.status()); }
};

// Ends the process on every rank with status after MPI_Finalize.
[[noreturn]] void ExitAll(int status);

// Collective. When no rank failed, returns. Otherwise the rank holding the
// earliest failure prints its text once, and every rank ends with its
// status.
void AgreeOrExit(const Comm& comm, const Failure& failure);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// A failure text: the message, ended as the single-process program ends
// its messages.
std::string PlainFailureText(const std::string& message);

// Peak resident memory of this process in KiB (VmHWM), 0 if unknown.
long PeakRssKiB();

}  // namespace veldan::mpi
