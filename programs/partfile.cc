// The fixed-cell file (one value per cell, -1 for a free cell) and the
// partition file (one part number per line).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "programs/cli.h"
#include "support/io.h"
#include "support/memory.h"

namespace veldan {

namespace {

// The failure of opening the partition file, reported as the file opener
// of the support library reports it.
[[noreturn]] void OpenFailure(const std::string& name) {
  const int err = errno;
  std::string text = "file: " + name + ", mode: w, [WriteHGraphPart: partfile]";
  std::fprintf(stderr, "%s: %s\n", text.c_str(), std::strerror(err));
  errexit("Failed on ax_fopen()\n");
}

[[noreturn]] void WriteFailure(const std::string& name, const std::string& tmpname, int err) {
  unlink(tmpname.c_str());
  errexit("Failed to write the partition file %s: %s\n", name.c_str(), std::strerror(err));
}

}  // namespace

std::string PartitionFileName(const char* filename, idx_t nparts) {
  return std::string(filename) + ".part." + std::to_string(nparts);
}

bool SameFile(const char* a, const char* b) {
  struct stat sa, sb;
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

namespace {

// How the partition reaches its target.
enum class Target {
  kStdout,   // "-", or the file standard output already goes to
  kThrough,  // a character device or a pipe: opened and written in place
  kReplace,  // a file (new or not): a temporary file renamed onto it
};

Target TargetKind(const std::string& name) {
  if (name == "-") return Target::kStdout;
  struct stat st, out;
  if (stat(name.c_str(), &st) != 0) return Target::kReplace;
  if (fstat(STDOUT_FILENO, &out) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino)
    return Target::kStdout;
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return Target::kThrough;
  return Target::kReplace;
}

// The file a name leads to: symbolic links followed, each relative to the
// folder of the link, the last one possibly to a file not yet there.
std::string FollowLinks(std::string name) {
  for (int hops = 0; hops < 40; hops++) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t len = readlink(name.c_str(), target.data(), target.size());
    if (len < 0 || static_cast<std::size_t>(len) >= target.size()) return name;
    target.resize(static_cast<std::size_t>(len));
    if (target.empty() || target[0] != '/') {
      const std::size_t slash = name.rfind('/');
      if (slash != std::string::npos) target = name.substr(0, slash + 1) + target;
    }
    name = target;
  }
  return name;  // a loop of links: the rename below reports it
}

}  // namespace

void CheckPartitionFileWritable(const std::string& name) {
  const Target kind = TargetKind(name);
  if (kind == Target::kStdout) return;
  if (kind == Target::kThrough) {
    // A pipe is not opened now: that would wait for its reader.
    if (access(name.c_str(), W_OK) != 0) OpenFailure(name);
    return;
  }
  // A temporary file made and removed at once: the folder takes new files.
  std::string tmpname = FollowLinks(name) + ".XXXXXX";
  const int fd = mkstemp(tmpname.data());
  if (fd == -1) OpenFailure(name);
  close(fd);
  unlink(tmpname.c_str());
}

namespace {

// Writes the values to an open stream; the error number of a failure, or 0.
int WriteValues(std::FILE* fp, idx_t nvtxs, const idx_t* part) {
  for (idx_t i = 0; i < nvtxs; i++) std::fprintf(fp, "%ld\n", part[i]);
  errno = 0;
  if (std::fflush(fp) != 0 || std::ferror(fp)) return errno ? errno : EIO;
  return 0;
}

}  // namespace

void WritePartitionFile(idx_t nvtxs, const idx_t* part, const std::string& name) {
  const Target kind = TargetKind(name);
  if (kind == Target::kStdout) {
    const int err = WriteValues(stdout, nvtxs, part);
    if (err != 0) errexit("Failed to write the partition to %s: %s\n", name.c_str(),
                          std::strerror(err));
    return;
  }
  if (kind == Target::kThrough) {
    std::FILE* fp = std::fopen(name.c_str(), "w");
    if (fp == nullptr) OpenFailure(name);
    int err = WriteValues(fp, nvtxs, part);
    if (std::fclose(fp) != 0 && err == 0) err = errno;
    if (err != 0) errexit("Failed to write the partition file %s: %s\n", name.c_str(),
                          std::strerror(err));
    return;
  }

  // The result goes to a temporary file beside the file (the target of a
  // symbolic link, so the link stays) that is renamed onto it once
  // complete, so no partition file is ever half written.
  const std::string file = FollowLinks(name);
  std::string tmpname = file + ".XXXXXX";
  const int fd = mkstemp(tmpname.data());
  if (fd == -1) OpenFailure(name);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  std::FILE* fp = fdopen(fd, "w");
  if (fp == nullptr) {
    const int err = errno;
    close(fd);
    WriteFailure(name, tmpname, err);
  }

  int err = WriteValues(fp, nvtxs, part);
  if (err == 0 && fsync(fileno(fp)) != 0 && errno != EINVAL) err = errno;
  if (std::fclose(fp) != 0 && err == 0) err = errno;
  if (err != 0) WriteFailure(name, tmpname, err);

  if (std::rename(tmpname.c_str(), file.c_str()) != 0) WriteFailure(name, tmpname, errno);
}

void WriteHGraphPart(idx_t nvtxs, const idx_t* part, const char* filename, idx_t nparts) {
  WritePartitionFile(nvtxs, part, PartitionFileName(filename, nparts));
}

}  // namespace veldan
