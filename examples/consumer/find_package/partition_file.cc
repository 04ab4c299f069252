// partition_file: reads an unweighted hypergraph file (first line: number
// of nets, number of cells; then one line of cells, counted from 1, per
// net; '%' starts a comment line), partitions it into k parts with at most
// 3% unbalance and prints the cut and the km1.
//
//   partition_file circuit1.hgr 4
#include <veldan/veldan.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE.hgr K\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1]);
  std::string line;
  auto next_line = [&] {
    while (std::getline(in, line))
      if (line.empty() || line[0] != '%') return true;
    return false;
  };
  std::int64_t nnets = 0, nvtxs = 0;
  if (!next_line() || !(std::istringstream(line) >> nnets >> nvtxs)) {
    std::fprintf(stderr, "%s: no header line\n", argv[1]);
    return 1;
  }
  std::vector<std::int64_t> netptr{0}, netind;
  for (std::int64_t e = 0; e < nnets; e++) {
    if (!next_line()) {
      std::fprintf(stderr, "%s: %lld nets announced, %lld found\n", argv[1],
                   static_cast<long long>(nnets), static_cast<long long>(e));
      return 1;
    }
    std::istringstream pins(line);
    for (std::int64_t cell; pins >> cell;) netind.push_back(cell - 1);
    netptr.push_back(static_cast<std::int64_t>(netind.size()));
  }

  veldan::Hypergraph h;  // a view: the vectors must outlive the calls
  h.nvtxs = nvtxs;
  h.netptr = netptr;
  h.netind = netind;

  veldan::Options options;
  options.k = std::atoll(argv[2]);
  options.epsilon = 0.03;
  options.seed = 1;
  try {
    const veldan::Result r = veldan::Partition(h, options);
    std::printf("veldan %s: %lld parts, cut %g, km1 %g, imbalance %.4f\n", veldan::Version(),
                static_cast<long long>(options.k), r.metrics.cut, r.metrics.km1,
                r.metrics.imbalance[0]);
    // Any partition can be measured; this one must measure as reported.
    const veldan::Metrics m = veldan::Evaluate(h, r.parts, options.k);
    if (m.cut != r.metrics.cut || m.km1 != r.metrics.km1 || !r.balanced) {
      std::fprintf(stderr, "the partition does not measure as reported\n");
      return 1;
    }
  } catch (const veldan::Error& e) {  // a bad file or option ends here
    std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
