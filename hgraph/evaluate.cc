#include "hgraph/evaluate.h"

#include <cstdio>

#include <algorithm>

namespace veldan {

bool EvaluatePartition(const HGraphView& h, idx_t nparts, const idx_t* part,
                       PartitionMetrics* m, std::string* error) {
  const idx_t nvtxs = h.nvtxs, nnets = h.nnets, ncon = h.ncon;
  const idx_t* netptr = h.netptr;
  const pin_t* netind = h.netind;
  const real_t* netwgt = h.netwgt;
  const real_t* cellwgt = h.cellwgt;
  if (nvtxs < 0 || nnets < 0 || ncon < 1 || nparts < 1) {
    *error = "invalid counts: " + std::to_string(nvtxs) + " cells, " + std::to_string(nnets) +
             " nets, " + std::to_string(ncon) + " weights per cell, " +
             std::to_string(nparts) + " parts";
    return false;
  }
  for (idx_t i = 0; i < nvtxs; i++)
    if (part[i] < 0 || part[i] >= nparts) {
      *error = "cell " + std::to_string(i + 1) + " is in part " + std::to_string(part[i]) +
               ", outside 0 to " + std::to_string(nparts - 1);
      return false;
    }

  *m = PartitionMetrics();
  m->nparts = nparts;
  m->ncon = ncon;
  m->pwgts.assign(static_cast<std::size_t>(nparts * ncon), 0.0f);
  m->pcuts.assign(static_cast<std::size_t>(nparts), 0.0f);
  std::vector<idx_t> pdegrees(static_cast<std::size_t>(nparts), 0);
  std::vector<idx_t> ncells(static_cast<std::size_t>(nparts), 0);

  for (idx_t i = 0; i < nvtxs; i++) {
    real_t* pw = m->pwgts.data() + part[i] * ncon;
    for (idx_t j = 0; j < ncon; j++) pw[j] += cellwgt ? cellwgt[i * ncon + j] : 1.0f;
    ncells[part[i]]++;
  }

  real_t cut = 0.0f, absorption = 0.0f, soed = 0.0f, scost = 0.0f;
  double km1 = 0.0;
  for (idx_t e = 0; e < nnets; e++) {
    const idx_t start = netptr[e], end = netptr[e + 1];
    const idx_t npins = end - start;
    const real_t w = netwgt ? netwgt[e] : 1.0f;
    if (npins <= 0) {  // holds no pins, so spans no two parts
      absorption += 1.0f;
      continue;
    }
    for (idx_t p = start; p < end; p++) pdegrees[part[netind[p]]]++;

    const idx_t first = part[netind[start]];
    if (pdegrees[first] == npins) {
      // Uncut: the net is absorbed whole by one part, whatever its weight.
      absorption += 1.0f;
      pdegrees[first] = 0;
      continue;
    }
    // Cut: the weight counts once in the cut and once per part touched;
    // each part is credited with the share of the net's other pins it holds.
    cut += w;
    idx_t spanned = 0;
    for (idx_t k = 0; k < nparts; k++) {
      const idx_t c = pdegrees[k];
      if (c > 0) {
        m->pcuts[k] += w;
        absorption += 1.0 * (c - 1) / (npins - 1);
        pdegrees[k] = 0;
        spanned++;
      }
    }
    km1 += static_cast<double>(spanned - 1) * w;
  }

  for (idx_t k = 0; k < nparts; k++) {
    soed += m->pcuts[k];
    real_t wsum = 0.0f;
    for (idx_t j = 0; j < ncon; j++) wsum += m->pwgts[k * ncon + j];
    // A part without weight (an empty part, or zero weights in the file)
    // would divide by zero; it has nothing to scale and is left out.
    if (wsum != 0.0f) scost += 1.0 * m->pcuts[k] / wsum;
    if (ncells[k] == 0) m->emptyparts++;
  }
  m->cut = cut;
  m->soed = soed;
  m->absorption = absorption;
  m->km1 = km1;
  m->scaledcost = (nvtxs > 0 && nparts > 1)
                      ? static_cast<real_t>(scost / (1.0 * nvtxs * (nparts - 1)))
                      : 0.0f;

  m->imbalance.assign(static_cast<std::size_t>(ncon), 0.0);
  for (idx_t j = 0; j < ncon; j++) {
    double total = 0.0, heaviest = 0.0;
    for (idx_t k = 0; k < nparts; k++) {
      const double w = m->pwgts[k * ncon + j];
      total += w;
      heaviest = std::max(heaviest, w);
    }
    const double avg = total / static_cast<double>(nparts);
    m->imbalance[j] = (avg > 0.0) ? heaviest / avg - 1.0 : 0.0;
  }
  return true;
}

std::string BoundObstacle(idx_t nvtxs, idx_t ncon, const real_t* cellwgt, const idx_t* fixed,
                          idx_t nparts, const std::vector<double>& bounds) {
  if (cellwgt == nullptr || static_cast<idx_t>(bounds.size()) < ncon) return {};
  auto weight_name = [&](idx_t j) {
    return ncon > 1 ? " in weight " + std::to_string(j + 1) : std::string();
  };
  auto number = [](double x) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", x);
    return std::string(buf);
  };
  for (idx_t i = 0; i < nvtxs; i++)
    for (idx_t j = 0; j < ncon; j++)
      if (static_cast<double>(cellwgt[i * ncon + j]) > bounds[j])
        return "No partition can meet the balance bound: cell " + std::to_string(i + 1) +
               " alone weighs " + number(cellwgt[i * ncon + j]) + weight_name(j) +
               ", more than the bound of " + number(bounds[j]) + ".";
  // Every part holds at most bounds[j] of weight j, so each holds at least
  // need_j = total_j - (nparts - 1) bounds[j]. The part that holds the
  // heaviest cell of weight i must gather the rest of its need_j from other
  // cells; taking them by the least weight i per unit of weight j (a
  // fractional choice, so a lower bound) may already carry it above
  // bounds[i].
  if (ncon > 1 && nparts > 1) {
    std::vector<double> total(static_cast<std::size_t>(ncon), 0.0);
    for (idx_t c = 0; c < nvtxs; c++)
      for (idx_t j = 0; j < ncon; j++) total[j] += cellwgt[c * ncon + j];
    std::vector<std::pair<double, idx_t>> order;
    for (idx_t i = 0; i < ncon; i++) {
      idx_t g = 0;
      for (idx_t c = 1; c < nvtxs; c++)
        if (cellwgt[c * ncon + i] > cellwgt[g * ncon + i]) g = c;
      for (idx_t j = 0; j < ncon; j++) {
        if (j == i) continue;
        double need = total[j] - static_cast<double>(nparts - 1) * bounds[j] -
                      static_cast<double>(cellwgt[g * ncon + j]);
        if (!(need > 0.0)) continue;
        order.clear();
        for (idx_t c = 0; c < nvtxs; c++)
          if (c != g && cellwgt[c * ncon + j] > 0.0f)
            order.emplace_back(static_cast<double>(cellwgt[c * ncon + i]) / cellwgt[c * ncon + j], c);
        std::sort(order.begin(), order.end());
        double cost = cellwgt[g * ncon + i];
        const double gathered = need;
        for (const auto& [ratio, c] : order) {
          if (!(need > 0.0)) break;
          const double take = std::min<double>(need, cellwgt[c * ncon + j]);
          cost += ratio * take;
          need -= take;
        }
        if (need > 0.0 || cost > bounds[i])
          return "No partition can meet the balance bound: the part that holds cell " +
                 std::to_string(g + 1) + " must hold at least " + number(gathered) +
                 " more of weight " + std::to_string(j + 1) + ", which brings its weight " +
                 std::to_string(i + 1) + " to " + number(cost) + " or more, above the bound of " +
                 number(bounds[i]) + ".";
      }
    }
  }
  if (fixed == nullptr) return {};
  std::vector<double> sum(static_cast<std::size_t>(nparts * ncon), 0.0);
  for (idx_t i = 0; i < nvtxs; i++)
    if (fixed[i] >= 0 && fixed[i] < nparts)
      for (idx_t j = 0; j < ncon; j++) sum[fixed[i] * ncon + j] += cellwgt[i * ncon + j];
  for (idx_t k = 0; k < nparts; k++)
    for (idx_t j = 0; j < ncon; j++)
      if (sum[k * ncon + j] > bounds[j])
        return "No partition can meet the balance bound: the cells fixed to part " +
               std::to_string(k) + " weigh " + number(sum[k * ncon + j]) + weight_name(j) +
               " together, more than the bound of " + number(bounds[j]) + ".";
  return {};
}

}  // namespace veldan
