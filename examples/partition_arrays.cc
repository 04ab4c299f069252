// partition_arrays: partitions a hypergraph held in plain arrays through the
// library interface, once by recursive bisection and once by direct k-way
// partitioning, and prints the cut and the part of every cell.
//
// The hypergraph is a ring of four clusters of six cells. Inside a cluster
// the cells are tied by a chain of two-pin nets and one net over the whole
// cluster; neighbouring clusters are joined by a single two-pin net. The
// best four-way partition puts each cluster in a part of its own and cuts
// only the four joining nets.
#include <cstdio>
#include <vector>

#include "veldan.h"

int main() {
  using veldan::idx_t;
  using veldan::real_t;

  const idx_t nclusters = 4, csize = 6;
  const idx_t nvtxs = nclusters * csize;

  std::vector<idx_t> netptr{0};
  std::vector<idx_t> netind;
  std::vector<real_t> netwgt;
  auto add_net = [&](std::initializer_list<idx_t> pins, real_t w) {
    netind.insert(netind.end(), pins);
    netptr.push_back(static_cast<idx_t>(netind.size()));
    netwgt.push_back(w);
  };
  for (idx_t c = 0; c < nclusters; c++) {
    const idx_t b = c * csize;
    for (idx_t i = 0; i + 1 < csize; i++) add_net({b + i, b + i + 1}, 2.0f);
    netind.insert(netind.end(), {b, b + 1, b + 2, b + 3, b + 4, b + 5});
    netptr.push_back(static_cast<idx_t>(netind.size()));
    netwgt.push_back(1.0f);
    const idx_t next = ((c + 1) % nclusters) * csize;
    add_net({b + csize - 1, next}, 1.0f);
  }
  const idx_t nnets = static_cast<idx_t>(netwgt.size());

  const idx_t nparts = 4;
  std::vector<idx_t> part(nvtxs, 0);

  // -1 selects the default of a parameter; 5.0 is the unbalance percentage.
  const real_t rbcut = veldan::RecursivePartition(
      nvtxs, nnets, /*cellwgt=*/nullptr, netptr.data(), netind.data(),
      netwgt.data(), /*ubfactor=*/5.0f, /*ctype=*/-1, /*rtype=*/-1,
      /*nruns=*/-1, /*nvcycles=*/-1, /*cmaxnet=*/-1, /*rmaxnet=*/-1,
      /*fixed=*/0, /*reconst=*/-1, /*kwayrefine=*/-1, /*seed=*/7,
      /*dbglvl=*/0, nparts, part.data());
  std::printf("recursive bisection: cut %.1f\n  parts:", rbcut);
  for (idx_t i = 0; i < nvtxs; i++) std::printf(" %ld", part[i]);
  std::printf("\n");

  const real_t kwcut = veldan::KwayPartition(
      nvtxs, nnets, nullptr, netptr.data(), netind.data(), netwgt.data(),
      /*ubfactor=*/5.0f, /*otype=*/1, /*ctype=*/-1, /*rtype=*/-1, /*nruns=*/-1,
      /*nvcycles=*/-1, /*cmaxnet=*/-1, /*rmaxnet=*/-1, /*fixed=*/0,
      /*seed=*/7, /*dbglvl=*/0, nparts, part.data());
  std::printf("direct k-way:        cut %.1f\n  parts:", kwcut);
  for (idx_t i = 0; i < nvtxs; i++) std::printf(" %ld", part[i]);
  std::printf("\n");
  return 0;
}
