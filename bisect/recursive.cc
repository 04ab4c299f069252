// Recursive bisection: the recursion over the number of parts (MLRB), the
// side slack of each bisection under -epsilon, and the split of a bisected
// hypergraph into its two halves. The driver above it (fixed cells, the
// final k-way refinement) is kway/rbentry.cc.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bisect/bisect.h"
#include "coarsen/coarsen.h"
#include "support/output.h"
#include "support/parallel.h"
#include "support/support.h"

namespace veldan {

idx_t ComputeCoarsenTo(idx_t nvtxs) {
  const double s = std::sqrt(static_cast<double>(nvtxs));
  const double m = std::min(s, 100.0);
  if (m < static_cast<double>(nvtxs - 1)) return static_cast<idx_t>(m);
  return nvtxs - 1;
}

namespace {

// Bisections to go before a part of nparts parts is final.
int Depth(idx_t nparts) {
  int d = 0;
  while ((idx_t{1} << d) < nparts) d++;
  return d;
}

}  // namespace

// Under -epsilon: how much each side of the bisection of graph into parts
// nparts/2 and the rest may weigh above its share, so that the final parts
// can still meet the bound. The slack left, (L x nparts / W) with L the
// bound and W the weight of graph, is spread evenly over the D bisections
// still to come, and each side takes the share of it that its own
// remaining bisections do not need: (L nparts / W)^((D - d) / D) for a
// side d bisections from its final parts. A side of one part may reach L.
void SetSideSlack(RunContext& ctrl, const HGraph* graph, idx_t nparts, idx_t fpart) {
  const int depth = Depth(nparts);
  const idx_t kside[2] = {nparts / 2, nparts - nparts / 2};
  const double t = ctrl.tpwgt;
  const double share[2] = {t, 1.0 - t};
  // The slack of side s for a sub-hypergraph of the given weight under the
  // bound maxwgt on every final part, when the sides' shares are sh.
  auto slackof = [&](double maxwgt, double weight, int s, const double sh[2]) {
    const double room =
        (weight > 0.0) ? maxwgt * static_cast<double>(nparts) / weight : 2.0;
    const int d = Depth(kside[s]);
    double x = std::pow(room, static_cast<double>(depth - d) / depth) - 1.0;
    // A sub-hypergraph already above its bound still gets a little room to
    // move cells; and no side's slack may let the other fall below half its
    // share.
    x = std::max(x, kMinSideSlack);
    return std::min(x, (1.0 - 0.5 * sh[1 - s]) / sh[s] - 1.0);
  };
  auto slack = [&](double maxwgt, double weight, int s) {
    return slackof(maxwgt, weight, s, share);
  };
  double weight = 0.0;
  for (idx_t i = 0; i < graph->nvtxs; i++) weight += graph->cellwgt[i];
  const std::vector<double>& maxshare = ctrl.cfg->balance.maxshare;
  const idx_t ncon = graph->ncon;
  if (!maxshare.empty() && ncon > 1) {
    // Target weights with several weights: the same for every weight, from
    // its own shares and bounds (the mean weight is not bound then).
    for (int s = 0; s < 2; s++) ctrl.sideslack[s] = slack(ctrl.maxpartwgt, weight, s);
    double wsum[kMaxNCon] = {};
    for (idx_t i = 0; i < graph->nvtxs; i++)
      for (idx_t j = 0; j < ncon; j++) wsum[j] += graph->ncellwgt[i * ncon + j];
    for (idx_t j = 0; j < ncon; j++) {
      const double sh[2] = {ctrl.ntpwgt[j], 1.0 - ctrl.ntpwgt[j]};
      for (int s = 0; s < 2; s++) {
        const idx_t first = fpart + (s == 0 ? 0 : kside[0]);
        double bounds = 0.0;
        for (idx_t p = first; p < first + kside[s]; p++)
          bounds += maxshare[p * ncon + j] * ctrl.nrootwgt[j];
        const double sideweight = sh[s] * wsum[j];
        const double maxwgt =
            (sideweight > 0.0) ? bounds * wsum[j] / (sideweight * nparts) : 0.0;
        ctrl.nsideslack[s][j] = slackof(maxwgt, sideweight > 0.0 ? wsum[j] : 0.0, s, sh);
      }
    }
    return;
  }
  if (!maxshare.empty()) {
    // Target weights: each side's room is the sum of its final parts'
    // bounds over its share of the weight; slack() reads the room of a
    // bound maxwgt as maxwgt x nparts / weight.
    for (int s = 0; s < 2; s++) {
      const idx_t first = fpart + (s == 0 ? 0 : kside[0]);
      double bounds = 0.0;
      for (idx_t p = first; p < first + kside[s]; p++) bounds += maxshare[p] * ctrl.rootwgt;
      const double sideweight = share[s] * weight;
      const double maxwgt = (sideweight > 0.0) ? bounds * weight / (sideweight * nparts) : 0.0;
      ctrl.sideslack[s] = slack(maxwgt, sideweight > 0.0 ? weight : 0.0, s);
    }
    return;
  }
  for (int s = 0; s < 2; s++) ctrl.sideslack[s] = slack(ctrl.maxpartwgt, weight, s);
  if (graph->ncon < 2) return;

  // The same for every weight, from its own bound and total.
  double wsum[kMaxNCon] = {};
  for (idx_t i = 0; i < graph->nvtxs; i++)
    for (idx_t j = 0; j < ncon; j++) wsum[j] += graph->ncellwgt[i * ncon + j];
  for (idx_t j = 0; j < ncon; j++)
    for (int s = 0; s < 2; s++) ctrl.nsideslack[s][j] = slack(ctrl.nmaxpartwgt[j], wsum[j], s);
}

namespace {

// The recursion: owned is graph itself when graph may be freed as soon as
// it is split (its halves then hold what the recursion needs), or null when
// the caller keeps it.
real_t Recurse(RunContext& ctrl, HGraph* graph, HGraphPtr owned, idx_t* part, idx_t nparts,
               idx_t fpart) {
  // Side 0 receives nparts div 2 of the parts, and that share of the weight
  // (with target weights, the share of their targets).
  ctrl.tpwgt = static_cast<real_t>(static_cast<double>(nparts / 2) /
                                   static_cast<double>(nparts));
  ctrl.tsplit = ctrl.tpwgt;
  // A side whose parts all have a target of 0 receives no cell but the
  // fixed ones; a half left without cells is not split further.
  int emptyside = -1;
  const std::vector<double>& tpwgts = ctrl.cfg->balance.tpwgts;
  const idx_t ncon = static_cast<idx_t>(tpwgts.size()) / ctrl.cfg->nparts;
  ctrl.contshare = false;
  if (ncon == 1) {
    double t[2] = {0.0, 0.0};
    for (idx_t p = 0; p < nparts; p++) t[p < nparts / 2 ? 0 : 1] += tpwgts[fpart + p];
    if (t[0] + t[1] > 0.0) {
      ctrl.tpwgt = static_cast<real_t>(t[0] / (t[0] + t[1]));
      if (!(t[0] > 0.0)) emptyside = 0;
      if (!(t[1] > 0.0)) emptyside = 1;
    }
  } else if (ncon > 1) {
    // Several weights: each side's share of every weight, from its own
    // targets (the share of the parts where the range has none of it);
    // the mean weight of the levels takes the mean share. A side is empty
    // when its targets are 0 in every weight.
    double t[2][kMaxNCon] = {};
    for (idx_t p = 0; p < nparts; p++)
      for (idx_t j = 0; j < ncon; j++)
        t[p < nparts / 2 ? 0 : 1][j] += tpwgts[(fpart + p) * ncon + j];
    double sum[2] = {0.0, 0.0};
    double mean = 0.0;
    for (idx_t j = 0; j < ncon; j++) {
      const double both = t[0][j] + t[1][j];
      ctrl.ntpwgt[j] = (both > 0.0) ? t[0][j] / both : static_cast<double>(ctrl.tsplit);
      mean += ctrl.ntpwgt[j] / static_cast<double>(ncon);
      sum[0] += t[0][j];
      sum[1] += t[1][j];
    }
    ctrl.contshare = true;
    ctrl.tpwgt = static_cast<real_t>(mean);
    if (sum[0] + sum[1] > 0.0) {
      if (!(sum[0] > 0.0)) emptyside = 0;
      if (!(sum[1] > 0.0)) emptyside = 1;
    }
  }
  if (ctrl.epsfactor > 0.0 && emptyside < 0) SetSideSlack(ctrl, graph, nparts, fpart);

  const idx_t nvtxs = graph->nvtxs;
  Array<idx_t> bisectionbuf(nvtxs, "MLRB: bisection");
  idx_t* bisection = bisectionbuf.data();
  real_t cut = 0.0f;
  if (emptyside < 0) {
    cut = Hypergraph_Bisection(ctrl, graph, bisection);
  } else {
    // Fixed cell i stands for part i of the range (see initbisect.cc).
    const idx_t nfixed = std::max<idx_t>(graph->nfixed, 0);
    const idx_t nfixed0 =
        static_cast<idx_t>(static_cast<double>(ctrl.tsplit * static_cast<real_t>(nfixed)) + 0.4);
    for (idx_t i = 0; i < nvtxs; i++)
      bisection[i] = (i < nfixed) ? (i < nfixed0 ? 0 : 1) : 1 - emptyside;
    cut = ComputeCut(graph, bisection);
  }

  const pin_t* label = graph->label.data();
  for (idx_t i = 0; i < nvtxs; i++) part[label[i]] = fpart + bisection[i];

  HGraphPtr lgraph;
  HGraphPtr rgraph;
  if (nparts > 2) {
    lgraph = CreateHGraph();
    rgraph = CreateHGraph();
    SplitGraphPart(ctrl, graph, bisection, lgraph.get(), rgraph.get());
  }

  bisectionbuf.reset();
  graph->label.reset();
  owned.reset();

  if (nparts > 3) {
    // The halves are independent: at once where threads allow, each with a
    // context and an output of its own. They write disjoint cells of
    // part (their labels), and their reports come out left before right.
    RunContext lctrl = TaskContext(ctrl);
    RunContext rctrl = TaskContext(ctrl);
    lctrl.node = 2 * ctrl.node;
    rctrl.node = 2 * ctrl.node + 1;
    real_t lcut = 0.0f;
    real_t rcut = 0.0f;
    std::string ltext;
    std::string rtext;
    ParallelInvoke(
        [&] {
          OutputCapture out;
          HGraph* g = lgraph.get();
          if (g->nvtxs > 0 || tpwgts.empty())
            lcut = Recurse(lctrl, g, std::move(lgraph), part, nparts / 2, fpart);
          ltext = out.Take();
        },
        [&] {
          OutputCapture out;
          HGraph* g = rgraph.get();
          if (g->nvtxs > 0 || tpwgts.empty())
            rcut = Recurse(rctrl, g, std::move(rgraph), part, (nparts + 1) / 2, fpart + nparts / 2);
          rtext = out.Take();
        });
    PrintText(ltext);
    PrintText(rtext);
    AddTaskTimers(ctrl, lctrl);
    AddTaskTimers(ctrl, rctrl);
    cut += lcut;
    cut += rcut;
  } else if (nparts == 3) {
    // Side 0 is the single part fpart: nothing left to bisect there.
    lgraph.reset();
    const std::uint64_t node = ctrl.node;
    ctrl.node = 2 * node + 1;
    HGraph* g = rgraph.get();
    if (g->nvtxs > 0 || tpwgts.empty())
      cut += Recurse(ctrl, g, std::move(rgraph), part, 2, fpart + 1);
    ctrl.node = node;
  }
  return cut;
}

}  // namespace

real_t MLRB(RunContext& ctrl, HGraph& graph, idx_t* part, idx_t nparts, idx_t fpart) {
  return Recurse(ctrl, &graph, nullptr, part, nparts, fpart);
}

real_t MLRB(RunContext& ctrl, HGraphPtr graph, idx_t* part, idx_t nparts, idx_t fpart) {
  HGraph* g = graph.get();
  return Recurse(ctrl, g, std::move(graph), part, nparts, fpart);
}

void SplitGraphPart(RunContext& ctrl, HGraph* graph, const idx_t* where,
                    HGraph* lgraph, HGraph* rgraph) {
  const idx_t nvtxs = graph->nvtxs;
  const idx_t nnets = graph->nnets;
  const idx_t ncon = graph->ncon;
  const idx_t* netptr = graph->netptr.data();
  const pin_t* netind = graph->netind.data();
  const real_t* netwgt = graph->netwgt.data();
  const idx_t npins = netptr[nnets];
  const bool multi = (ncon > 1);  // ncon weights per cell in ncellwgt too

  // Numbers of the cells inside their halves, in their present order.
  Array<pin_t> renamebuf(nvtxs, "SplitGraphPart:rename");
  pin_t* rename = renamebuf.data();
  idx_t snvtxs[2] = {0, 0};
  for (idx_t i = 0; i < nvtxs; i++) rename[i] = static_cast<pin_t>(snvtxs[where[i]]++);

  HGraph* half[2] = {lgraph, rgraph};
  Array<idx_t> snetptr[2];
  Array<pin_t> snetind[2];
  Array<real_t> snetwgt[2];
  Array<pin_t> slabel[2];
  Array<real_t> scellwgt[2];
  Array<real_t> sncellwgt[2];
  static const char* const kNetptrMsg[2] = {"SplitGraphPart: snetptr[0]",
                                            "SplitGraphPart: snetptr[1]"};
  static const char* const kNetindMsg[2] = {"SplitGraphPart: snetind[0]",
                                            "SplitGraphPart: snetind[1]"};
  static const char* const kNetwgtMsg[2] = {"SplitGraphPart: snetwgt[0]",
                                            "SplitGraphPart: snetwgt[1]"};
  static const char* const kLabelMsg[2] = {"SplitGraphPart: slabel[0]",
                                           "SplitGraphPart: slabel[1]"};
  static const char* const kCellwgtMsg[2] = {"SplitGraphPart: scellwgt[0]",
                                             "SplitGraphPart: scellwgt[1]"};
  static const char* const kNCellwgtMsg[2] = {"SplitGraphPart: sncellwgt[0]",
                                              "SplitGraphPart: sncellwgt[1]"};
  for (int k = 0; k < 2; k++) {
    half[k]->ncon = ncon;
    snetptr[k] = Array<idx_t>(nnets + 1, kNetptrMsg[k]);
    snetind[k] = Array<pin_t>(npins, kNetindMsg[k]);
    snetwgt[k] = Array<real_t>(nnets, kNetwgtMsg[k]);
    slabel[k] = Array<pin_t>(snvtxs[k], kLabelMsg[k]);
    scellwgt[k] = Array<real_t>(snvtxs[k], kCellwgtMsg[k]);
    if (multi) sncellwgt[k] = Array<real_t>(snvtxs[k] * ncon, kNCellwgtMsg[k]);
    snetptr[k][0] = 0;
  }

  // Nets: an uncut net goes whole to its side; a cut net is dropped, or
  // under reconst leaves a partial net on each side that holds two or more
  // of its pins.
  idx_t snnets[2] = {0, 0};
  idx_t snpins[2] = {0, 0};
  for (idx_t e = 0; e < nnets; e++) {
    idx_t cnt[2] = {0, 0};
    for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) cnt[where[netind[p]]]++;

    if (cnt[0] + cnt[1] == 0) continue;  // a net without pins connects nothing

    if (cnt[0] == 0 || cnt[1] == 0) {
      const idx_t k = where[netind[netptr[e]]];
      pin_t* ind = snetind[k].data();
      idx_t n = snpins[k];
      for (idx_t p = netptr[e]; p < netptr[e + 1]; p++) ind[n++] = rename[netind[p]];
      snpins[k] = n;
      snetwgt[k][snnets[k]] = netwgt[e];
      snetptr[k][++snnets[k]] = n;
    } else if (ctrl.cfg->reconstruct) {
      for (idx_t k = 0; k < 2; k++) {
        if (cnt[k] < 2) continue;
        pin_t* ind = snetind[k].data();
        idx_t n = snpins[k];
        for (idx_t p = netptr[e]; p < netptr[e + 1]; p++)
          if (where[netind[p]] == k) ind[n++] = rename[netind[p]];
        snpins[k] = n;
        snetwgt[k][snnets[k]] = netwgt[e];
        snetptr[k][++snnets[k]] = n;
      }
    }
  }

  // Partial nets often repeat one another (or an uncut net): merge them.
  if (ctrl.cfg->reconstruct) {
    for (int k = 0; k < 2; k++) {
      if (snnets[k] == 0) continue;
      NetArrays merged = CollapseSameHEdges(snnets[k], snetptr[k].data(), snetind[k].data(),
                                            snetwgt[k].data());
      snetptr[k] = std::move(merged.netptr);
      snetind[k] = std::move(merged.netind);
      snetwgt[k] = std::move(merged.netwgt);
      snnets[k] = merged.nnets;
      snpins[k] = snetptr[k][merged.nnets];
    }
  }

  // Cells: label and weights to the next free place of their half.
  const pin_t* label = graph->label.data();
  const real_t* cellwgt = graph->cellwgt.data();
  const real_t* ncellwgt = graph->ncellwgt.data();
  for (idx_t i = 0; i < nvtxs; i++) {
    const idx_t k = where[i];
    const idx_t j = rename[i];
    slabel[k][j] = label ? label[i] : static_cast<pin_t>(i);
    scellwgt[k][j] = cellwgt ? cellwgt[i] : 1.0f;
    if (multi)
      for (idx_t c = 0; c < ncon; c++) sncellwgt[k][j * ncon + c] = ncellwgt[i * ncon + c];
  }

  static const char* const kHalfNetptrMsg[2] = {"SplitGraphPart: lgraph->netptr",
                                                "SplitGraphPart: rgraph->netptr"};
  static const char* const kHalfNetindMsg[2] = {"SplitGraphPart: lgraph->netind",
                                                "SplitGraphPart: rgraph->netind"};
  static const char* const kHalfNetwgtMsg[2] = {"SplitGraphPart: lgraph->netwgt",
                                                "SplitGraphPart: rgraph->netwgt"};
  for (int k = 0; k < 2; k++) {
    HGraph* h = half[k];
    h->nvtxs = snvtxs[k];
    h->nnets = snnets[k];
    // Copies of their exact size: the lists above hold room for every net.
    h->netptr = Array<idx_t>::CopyOf(snnets[k] + 1, snetptr[k].data(), kHalfNetptrMsg[k]);
    h->netind = Array<pin_t>::CopyOf(snpins[k], snetind[k].data(), kHalfNetindMsg[k]);
    snetind[k].reset();
    h->netwgt = Array<real_t>::CopyOf(snnets[k], snetwgt[k].data(), kHalfNetwgtMsg[k]);
    h->label = std::move(slabel[k]);
    h->cellwgt = std::move(scellwgt[k]);
    h->ncellwgt = std::move(sncellwgt[k]);
  }

  // The left half keeps the share of the fixed cells that the initial
  // bisection put on side 0 (fixed cells never move afterwards).
  const idx_t nfixed = std::max<idx_t>(graph->nfixed, 0);
  const real_t lshare = static_cast<real_t>(nfixed) * ctrl.tsplit;
  lgraph->nfixed = static_cast<idx_t>(static_cast<double>(lshare) + 0.4);
  rgraph->nfixed = nfixed - lgraph->nfixed;

  for (int k = 0; k < 2; k++) {
    snetptr[k].reset();
    snetind[k].reset();
    snetwgt[k].reset();
  }
}

}  // namespace veldan
