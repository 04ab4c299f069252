// The scheme names, the run context and the -epsilon bounds.
#include "hgraph/context.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <strings.h>

namespace veldan {

int SchemeCode(std::span<const SchemeName> table, const char* name) {
  for (const SchemeName& s : table)
    if (name != nullptr && strcasecmp(s.name, name) == 0) return s.code;
  return -1;
}

const char* SchemeNameOf(std::span<const SchemeName> table, int code) {
  for (const SchemeName& s : table)
    if (s.code == code) return s.name;
  return "?";
}

RunContext::RunContext(const PartitionConfig& config)
    : cfg(&config),
      cflags(config.coarsening.cflags),
      maxgroupsize(config.coarsening.maxgroupsize),
      ubfactor(config.balance.ubfactor),
      epsfactor(config.balance.epsfactor),
      nubfactor(config.balance.nubfactor) {}

double TargetEpsilonShare(double total, bool integral, double fraction, double epsilon) {
  if (!(fraction > 0.0) || !(total > 0.0)) return 0.0;
  const double target = fraction * total;
  double bound = (1.0 + epsilon) * target;
  if (integral && bound < std::ceil(target)) bound = std::ceil(target);
  return bound / total;
}

std::vector<double> TargetEpsilonBounds(idx_t nvtxs, idx_t ncon, const real_t* cellwgt,
                                        const std::vector<double>& fractions, double epsilon) {
  const idx_t nparts = static_cast<idx_t>(fractions.size()) / std::max<idx_t>(ncon, 1);
  std::vector<double> bounds(fractions.size(), 0.0);
  for (idx_t j = 0; j < ncon; j++) {
    double total = 0.0;
    bool integral = true;
    for (idx_t i = 0; i < nvtxs; i++) {
      const double w = cellwgt ? cellwgt[i * ncon + j] : 1.0;
      total += w;
      integral = integral && w == std::floor(w);
    }
    for (idx_t p = 0; p < nparts; p++)
      bounds[p * ncon + j] =
          TargetEpsilonShare(total, integral, fractions[p * ncon + j], epsilon) * total;
  }
  return bounds;
}

std::string TargetWeightsProblem(const std::vector<double>& fractions, idx_t nparts, idx_t ncon) {
  if (static_cast<idx_t>(fractions.size()) != nparts * ncon)
    return "part_weights holds " + std::to_string(fractions.size()) + " fractions for " +
           std::to_string(nparts) + " parts of " + std::to_string(ncon) + " weights each";
  for (std::size_t i = 0; i < fractions.size(); i++)
    if (!std::isfinite(fractions[i]) || fractions[i] < 0.0)
      return "part_weights[" + std::to_string(i) + "] is " + std::to_string(fractions[i]) +
             ": a fraction of at least 0";
  for (idx_t j = 0; j < ncon; j++) {
    double sum = 0.0;
    for (idx_t p = 0; p < nparts; p++) sum += fractions[p * ncon + j];
    if (std::fabs(sum - 1.0) > 1e-6) {
      char buf[160];
      std::snprintf(buf, sizeof buf, "the part_weights of weight %ld sum to %.9g, not 1",
                    static_cast<long>(j + 1), sum);
      return buf;
    }
  }
  return {};
}

// Matching flags and group size of each coarsening scheme (codes 1..11).
void SetCoarseningScheme(CoarseningConfig& c, Coarsening scheme) {
  static constexpr idx_t kFlags[] = {2, 3, 0, 1, 2, 0, 0, 2, 3, 0, 1};
  static constexpr idx_t kGroup[] = {5, 5, 5, 5, 5, 5, 5, 2, 2, 2, 2};
  const int code = static_cast<int>(scheme);
  c.scheme = scheme;
  c.cflags = kFlags[code - 1];
  c.maxgroupsize = kGroup[code - 1];
}

double EpsilonFactor(idx_t n, const real_t* weights, idx_t stride, idx_t nparts,
                     double epsilon) {
  const double factor = 1.0 + epsilon;
  if (n < 1 || nparts < 1) return factor;
  double total = 0.0;
  bool integral = true;
  for (idx_t i = 0; i < n; i++) {
    const double w = weights ? weights[i * stride] : 1.0;
    total += w;
    integral = integral && w == std::floor(w);
  }
  const double avg = total / static_cast<double>(nparts);
  if (!integral || !(avg > 0.0)) return factor;
  const double ceilavg = std::ceil(avg);
  return (factor * avg < ceilavg) ? ceilavg / avg : factor;
}

std::vector<double> EpsilonBounds(idx_t nvtxs, idx_t ncon, const real_t* cellwgt, idx_t nparts,
                                  double epsilon, double* factor) {
  std::vector<double> bounds;
  *factor = 0.0;
  for (idx_t j = 0; j < ncon; j++) {
    const real_t* w = cellwgt ? cellwgt + j : nullptr;
    const double f = EpsilonFactor(nvtxs, w, ncon, nparts, epsilon);
    double total = 0.0;
    for (idx_t i = 0; i < nvtxs; i++) total += w ? w[i * ncon] : 1.0;
    bounds.push_back(f * total / static_cast<double>(nparts));
    if (f > *factor) *factor = f;
  }
  return bounds;
}

}  // namespace veldan
