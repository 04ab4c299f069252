// Shared by the fuzz targets: the exit hook that turns the readers' orderly
// error exits into exceptions, and a scratch file the input bytes are
// written to (the readers take a file name, as the program gives them).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "io/io.h"
#include "support/memory.h"

namespace veldan_fuzz {

// An orderly exit of the code under test: the status it would have ended
// the process with and the message it would have written.
struct OrderlyExit {
  int status;
  std::string message;
};

[[noreturn]] inline void ThrowExit(int status, const char* message) {
  throw OrderlyExit{status, message != nullptr ? message : ""};
}

// An error exit must say what is wrong: an empty message, or a status
// other than the two the readers use, is a fault.
inline void CheckOrderlyExit(const OrderlyExit& e) {
  if (e.status == -2 && e.message.find_first_not_of(" \t\n") == std::string::npos) {
    std::fprintf(stderr, "error exit without a message\n");
    std::abort();
  }
  if (e.status != -2 && e.status != 0) {
    std::fprintf(stderr, "unexpected exit status %d\n", e.status);
    std::abort();
  }
}

// A refused input must say why, with the status of an input error (or of
// counts that need more memory than there is).
inline void CheckRefusal(const veldan::InputError& e) {
  if (std::string(e.what()).find_first_not_of(" \t\n") == std::string::npos) {
    std::fprintf(stderr, "refusal without a message\n");
    std::abort();
  }
  if (e.status() != 254 && e.status() != veldan::kExitOutOfMemory) {
    std::fprintf(stderr, "unexpected refusal status %d\n", e.status());
    std::abort();
  }
}

// A file in a private temporary folder, rewritten with each input.
class ScratchFile {
 public:
  ScratchFile() {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/veldan-fuzz-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = templ;
    path_ = dir_ + "/input";
  }
  ~ScratchFile() {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  const char* Write(const std::uint8_t* data, std::size_t size) {
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
      std::perror("open scratch file");
      std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd, data + done, size - done);
      if (n <= 0) {
        std::perror("write scratch file");
        std::abort();
      }
      done += static_cast<std::size_t>(n);
    }
    close(fd);
    return path_.c_str();
  }

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace veldan_fuzz
