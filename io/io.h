// The file layer of the library: the hypergraph reader (hgr and Matrix
// Market) and the fixed-cell reader. Nothing here ends the process or
// prints: an input that cannot be read throws InputError, whose text is the
// message as the program prints it and whose status the program ends with.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "hgraph/hgraph.h"
#include "support/types.h"

namespace veldan {

class InputError : public std::runtime_error {
 public:
  InputError(int status, const std::string& text) : std::runtime_error(text), status_(status) {}
  // 254 for an unreadable or malformed file, kExitOutOfMemory when the
  // file's counts need more memory than there is.
  int status() const noexcept { return status_; }

 private:
  int status_;
};

// The pins of a hypergraph file (first pass of the reader).
idx_t GetNetListSize(const char* filename);
// Reads a hypergraph file, or a Matrix Market file (column-net model) when
// its name ends in .mtx or it opens with the Matrix Market banner. Every net
// holds each of its cells once.
HGraphPtr ReadHGraph(const char* filename);

// The lines of a file of one value per line (fixed-cell and partition
// files): Next gives the text of the next line that is not blank, without
// the blanks around it (a byte-order mark opening the file dropped), and
// its line number; it returns false at the end of the file or on a read
// error, which failed() then tells.
class ValueLines {
 public:
  explicit ValueLines(std::FILE* fp) : fp_(fp) {}
  bool Next(std::string* text, idx_t* lineno);
  bool failed() const { return failed_; }

 private:
  std::FILE* fp_;
  std::string line_;
  idx_t lineno_ = 0;
  bool failed_ = false;
};

// Reads nvtxs values of a fixed-cell file into part: -1 for a free cell,
// else a part number, below nparts when nparts > 0.
void ReadPartition(idx_t nvtxs, idx_t* part, const char* filename, idx_t nparts = 0);
// Reads and checks all nvtxs values of a fixed-cell file as ReadPartition
// does, keeping those of cells first .. last - 1 in part[0 .. last - first)
// (a process that holds a block of the cells).
void ReadPartitionBlock(idx_t nvtxs, idx_t first, idx_t last, idx_t* part,
                        const char* filename, idx_t nparts);
// Reads the part-weight file: nparts lines of ncon fractions each (each at
// least 0, those of every column summing to 1 within 1e-6), part by part.
std::vector<double> ReadPartWeights(const char* filename, idx_t nparts, idx_t ncon);
// Reads a partition to improve (-initial) with the lines, checks and
// messages of a fixed-cell file, except that every value is a part from 0
// to nparts-1 and the messages call it an initial partition file.
void ReadInitialPartition(idx_t nvtxs, idx_t* part, const char* filename, idx_t nparts);

}  // namespace veldan
