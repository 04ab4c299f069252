// partition_arrays: partitions a hypergraph held in plain arrays through the
// library interface, once by recursive bisection and once by direct k-way
// partitioning, and prints the cut, the km1 and the part of every cell.
//
// The hypergraph is a ring of four clusters of six cells. Inside a cluster
// the cells are tied by a chain of two-pin nets of weight 2 and one net over
// the whole cluster; neighbouring clusters are joined by a single two-pin
// net. The best four-way partition puts each cluster in a part of its own
// and cuts only the four joining nets.
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "veldan/veldan.h"

namespace {

void Print(const char* name, const veldan::Result& r) {
  std::printf("%-20s cut %.1f  km1 %.1f  imbalance %.3f\n  parts:", name, r.metrics.cut,
              r.metrics.km1, r.metrics.imbalance.at(0));
  for (std::int64_t p : r.parts) std::printf(" %lld", static_cast<long long>(p));
  std::printf("\n");
}

}  // namespace

int main() {
  const std::int64_t nclusters = 4, csize = 6;

  std::vector<std::int64_t> netptr{0};
  std::vector<std::int64_t> netind;
  std::vector<float> netwgt;
  auto add_net = [&](std::initializer_list<std::int64_t> pins, float w) {
    netind.insert(netind.end(), pins);
    netptr.push_back(static_cast<std::int64_t>(netind.size()));
    netwgt.push_back(w);
  };
  for (std::int64_t c = 0; c < nclusters; c++) {
    const std::int64_t b = c * csize;
    for (std::int64_t i = 0; i + 1 < csize; i++) add_net({b + i, b + i + 1}, 2.0f);
    add_net({b, b + 1, b + 2, b + 3, b + 4, b + 5}, 1.0f);
    add_net({b + csize - 1, ((c + 1) % nclusters) * csize}, 1.0f);
  }

  veldan::Hypergraph h;
  h.nvtxs = nclusters * csize;
  h.netptr = netptr;
  h.netind = netind;
  h.netwgt = netwgt;

  veldan::Options o;
  o.k = 4;
  o.ufactor = 5.0;  // unbalance of each bisection, in percent
  o.seed = 7;
  try {
    Print("recursive bisection:", veldan::Partition(h, o));
    o.scheme = veldan::Scheme::Kway;
    o.objective = veldan::Objective::Cut;
    Print("direct k-way:", veldan::Partition(h, o));
  } catch (const veldan::Error& e) {
    std::fprintf(stderr, "partition_arrays: %s\n", e.what());
    return 1;
  }
  return 0;
}
