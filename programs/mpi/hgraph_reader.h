// The parallel hypergraph reader of veldan-mpi: every rank reads the lines
// that start in its own byte range of the .hgr file and keeps its share of
// the nets (in compressed-net form) and a contiguous block of the cells.
#pragma once

#include <cstdint>
#include <vector>

#include "io/lines.h"
#include "programs/mpi/common.h"

namespace veldan::mpi {

// One rank's share of the hypergraph.
struct LocalHGraph {
  HgrHeader header;
  // Nets net0 .. net0 + nnets() - 1 (0-based, in file order): pins of local
  // net i at pins[netptr[i] .. netptr[i+1]), each cell once, counted from 0.
  i64 net0 = 0;
  std::vector<i64> netptr{0};
  std::vector<std::uint32_t> pins;
  std::vector<float> netwgt;  // one per local net; empty without net weights
  // Cells cell0 .. cell1 - 1 (0-based): the block BlockStart gives this rank.
  i64 cell0 = 0, cell1 = 0;
  // The file's weights of the block, ncon per cell; empty without cell weights.
  std::vector<float> cellwgt;

  i64 nnets() const { return static_cast<i64>(netptr.size()) - 1; }
  i64 ncells() const { return cell1 - cell0; }
};

// Collective. Reads filename into *graph. A malformed file ends every rank
// with status 254, the message of the single-process reader printed once.
void ReadHGraphParallel(const Comm& comm, const char* filename, LocalHGraph* graph);

// Collective. Reads the fixed-cell file (one value per cell, -1 free) as
// the single-process program reads it and keeps the values of this rank's
// cell block in *fixed; checks them against nparts. Ends every rank with
// the single-process program's message and status on a malformed file.
void ReadFixedCells(const Comm& comm, const char* filename, i64 nvtxs, i64 nparts, i64 cell0,
                    i64 cell1, std::vector<int>* fixed);

}  // namespace veldan::mpi
