#include "programs/mpi/common.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace veldan::mpi {

void ExitAll(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  MPI_Finalize();
  std::exit(status);
}

void AgreeOrExit(const Comm& comm, const Failure& failure) {
  struct {
    long key;
    int rank;
  } mine{static_cast<long>(failure.key), comm.rank}, first{};
  MPI_Allreduce(&mine, &first, 1, MPI_LONG_INT, MPI_MINLOC, comm.comm);
  if (first.key == static_cast<long>(Failure::kNone)) return;
  int status = failure.status;
  MPI_Bcast(&status, 1, MPI_INT, first.rank, comm.comm);
  if (comm.rank == first.rank) {
    std::fflush(stdout);
    std::fputs(failure.text.c_str(), stderr);
    std::fflush(stderr);
  }
  ExitAll(status);
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int len = std::vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string text(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
  va_start(args, fmt);
  std::vsnprintf(text.data(), text.size() + 1, fmt, args);
  va_end(args);
  return text;
}

std::string PlainFailureText(const std::string& message) { return message + "\n"; }

long PeakRssKiB() {
  std::FILE* fp = std::fopen("/proc/self/status", "r");
  if (fp == nullptr) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, fp) != nullptr)
    if (std::strncmp(line, "VmHWM:", 6) == 0) {
      kib = std::strtol(line + 6, nullptr, 10);
      break;
    }
  std::fclose(fp);
  return kib;
}

}  // namespace veldan::mpi
