// circuit_tool: bisects a ladder of 2 x 8 cells (rungs and rails are nets)
// through veldan built as part of this project.
#include <support/types.h>
#include <veldan/veldan.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifndef CIRCUIT_TOOL_SUPPORT_TYPES
#error "support/types.h is not this project's"
#endif

int main() {
  const circuit_tool::idx_t tag{"ladder", 0};
  const std::int64_t len = 8;
  std::vector<std::int64_t> netptr{0}, netind;
  for (std::int64_t i = 0; i < len; i++) {  // rung i joins cells i and len + i
    netind.insert(netind.end(), {i, len + i});
    netptr.push_back(static_cast<std::int64_t>(netind.size()));
  }
  for (std::int64_t r = 0; r < 2; r++)  // the two rails, one net per step
    for (std::int64_t i = 0; i + 1 < len; i++) {
      netind.insert(netind.end(), {r * len + i, r * len + i + 1});
      netptr.push_back(static_cast<std::int64_t>(netind.size()));
    }

  veldan::Hypergraph h;
  h.nvtxs = 2 * len;
  h.netptr = netptr;
  h.netind = netind;
  veldan::Options o;
  o.k = 2;
  o.epsilon = 0.01;
  o.seed = 3;
  veldan::Result r;
  std::string message;
  if (veldan::Partition(h, o, &r, &message) != veldan::Status::Ok) {
    std::fprintf(stderr, "circuit_tool: %s\n", message.c_str());
    return 1;
  }
  std::printf("%s: cut %g, km1 %g, parts of weight %g and %g\n", tag.name.c_str(), r.metrics.cut,
              r.metrics.km1, r.metrics.part_weights[0], r.metrics.part_weights[1]);
  return r.balanced && r.metrics.empty_parts == 0 ? 0 : 1;
}
