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

// Closes the stream when left, also when an exit hook (support/memory.h)
// throws out of an error exit.
struct StreamCloser {
  std::FILE* fp;
  ~StreamCloser() { ax_fclose(fp); }
};

}  // namespace

void ReadPartition(idx_t nvtxs, idx_t* part, const char* filename) {
  StreamCloser file{ax_fopen(filename, "r", "ReadPartition: partfile")};
  std::FILE* fp = file.fp;

  idx_t lineno = 1;  // the line of the value being read
  for (idx_t i = 0; i < nvtxs; i++) {
    int ch;
    do {
      ch = std::getc(fp);
      if (ch == '\n') lineno++;
    } while (ch != EOF && std::isspace(ch));
    if (ch == EOF) {
      if (std::ferror(fp))
        errexit("Fixed-cell file %s could not be read: %s\n", filename, std::strerror(errno));
      errexit("Fixed-cell file %s holds %ld values for %ld cells.\n", filename, i, nvtxs);
    }

    // One token up to the next white space: an optional sign and decimal
    // digits, nothing else. The magnitude saturates at the 64-bit limit.
    char shown[32];
    int nshown = 0;
    bool negative = false, digits = false, number = true;
    idx_t value = 0;
    for (idx_t pos = 0; ch != EOF && !std::isspace(ch); pos++, ch = std::getc(fp)) {
      if (nshown < static_cast<int>(sizeof(shown)) - 1) shown[nshown++] = static_cast<char>(ch);
      if (pos == 0 && (ch == '-' || ch == '+')) {
        negative = (ch == '-');
      } else if (ch >= '0' && ch <= '9') {
        digits = true;
        const idx_t d = ch - '0';
        value = (value > (INT64_MAX - d) / 10) ? INT64_MAX : value * 10 + d;
      } else {
        number = false;
      }
    }
    shown[nshown] = '\0';
    if (!number || !digits)
      errexit("Fixed-cell file %s, line %ld: the value for cell %ld is not a number (\"%s\").\n",
              filename, lineno, i + 1, shown);
    if (negative) value = -value;
    if (value < -1)
      errexit("Fixed-cell file %s, line %ld: cell %ld has the value %ld; a value is -1 (free) "
              "or a part number.\n",
              filename, lineno, i + 1, value);
    part[i] = value;
    if (ch == '\n') lineno++;
  }
}

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

std::string PartitionFileName(idx_t nvtxs, const idx_t* part, const char* filename) {
  // The file is numbered one more than the largest part in the result.
  idx_t maxpart = -1;
  if (nvtxs > 0) {
    idx_t imax = 0;
    for (idx_t i = 1; i < nvtxs; i++)
      if (part[i] > part[imax]) imax = i;
    maxpart = part[imax];
  }
  std::string name = filename;
  name += ".part.";
  name += std::to_string(maxpart < INT64_MAX ? maxpart + 1 : maxpart);
  return name;
}

void CheckPartitionFileWritable(const std::string& name) {
  // A temporary file made and removed at once: the folder takes new files.
  std::string tmpname = name + ".XXXXXX";
  const int fd = mkstemp(tmpname.data());
  if (fd == -1) OpenFailure(name);
  close(fd);
  unlink(tmpname.c_str());
}

void WritePartitionFile(idx_t nvtxs, const idx_t* part, const std::string& name) {
  // The result goes to a temporary file of the same folder that is renamed
  // into place once complete, so no partition file is ever half written.
  std::string tmpname = name + ".XXXXXX";
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

  for (idx_t i = 0; i < nvtxs; i++) std::fprintf(fp, "%ld\n", part[i]);

  int err = 0;
  errno = 0;
  if (std::fflush(fp) != 0 || std::ferror(fp))
    err = errno ? errno : EIO;
  else if (fsync(fileno(fp)) != 0 && errno != EINVAL)
    err = errno;
  if (std::fclose(fp) != 0 && err == 0) err = errno;
  if (err != 0) WriteFailure(name, tmpname, err);

  if (std::rename(tmpname.c_str(), name.c_str()) != 0) WriteFailure(name, tmpname, errno);
}

void WriteHGraphPart(idx_t nvtxs, const idx_t* part, const char* filename) {
  WritePartitionFile(nvtxs, part, PartitionFileName(nvtxs, part, filename));
}

}  // namespace veldan
