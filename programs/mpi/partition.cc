#include "programs/mpi/partition.h"

#include <zoltan.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

// Zoltan's random number generator, which its hypergraph partitioner draws
// from; not declared in its public headers.
extern "C" void Zoltan_Srand(unsigned int seed, unsigned int* myrand);

namespace veldan::mpi {
namespace {

constexpr float kFloatEps = 1.1920929e-07f;

// What the callbacks read.
struct CallbackData {
  const LocalHGraph* graph;
  const std::vector<float>* weights;
  std::vector<ZOLTAN_ID_TYPE> fixedgids;
  std::vector<int> fixedparts;
};

int NumObj(void* data, int* ierr) {
  *ierr = ZOLTAN_OK;
  return static_cast<int>(static_cast<CallbackData*>(data)->graph->ncells());
}

void ObjList(void* data, int, int, ZOLTAN_ID_PTR gids, ZOLTAN_ID_PTR lids, int wdim,
             float* wgts, int* ierr) {
  const auto* d = static_cast<CallbackData*>(data);
  const i64 n = d->graph->ncells();
  for (i64 i = 0; i < n; i++) {
    gids[i] = static_cast<ZOLTAN_ID_TYPE>(d->graph->cell0 + i);
    lids[i] = static_cast<ZOLTAN_ID_TYPE>(i);
  }
  if (wdim == 1) std::copy(d->weights->begin(), d->weights->end(), wgts);
  *ierr = ZOLTAN_OK;
}

void HgSizeCS(void* data, int* nlists, int* npins, int* format, int* ierr) {
  const auto* g = static_cast<CallbackData*>(data)->graph;
  *nlists = static_cast<int>(g->nnets());
  *npins = static_cast<int>(g->pins.size());
  *format = ZOLTAN_COMPRESSED_EDGE;
  *ierr = ZOLTAN_OK;
}

// The pins of the local nets (the parameters are those of Zoltan's query
// function for compressed hyperedge storage).
void HgCS(void* data, int, int nlists, int npins, int format, ZOLTAN_ID_PTR edgegids,
          int* edgeptr, ZOLTAN_ID_PTR pingids, int* ierr) {
  const auto* g = static_cast<CallbackData*>(data)->graph;
  if (format != ZOLTAN_COMPRESSED_EDGE || nlists != g->nnets() ||
      npins != static_cast<i64>(g->pins.size())) {
    *ierr = ZOLTAN_FATAL;
    return;
  }
  for (int i = 0; i < nlists; i++) {
    edgegids[i] = static_cast<ZOLTAN_ID_TYPE>(g->net0 + i);
    edgeptr[i] = static_cast<int>(g->netptr[i]);
  }
  std::memcpy(pingids, g->pins.data(), sizeof(ZOLTAN_ID_TYPE) * g->pins.size());
  *ierr = ZOLTAN_OK;
}

void HgSizeEdgeWts(void* data, int* nedges, int* ierr) {
  const auto* g = static_cast<CallbackData*>(data)->graph;
  *nedges = static_cast<int>(g->netwgt.size());
  *ierr = ZOLTAN_OK;
}

// The weights of the local nets (Zoltan's query function for hyperedge
// weights).
void HgEdgeWts(void* data, int, int, int nedges, int dim, ZOLTAN_ID_PTR edgegids,
               ZOLTAN_ID_PTR, float* wgts, int* ierr) {
  const auto* g = static_cast<CallbackData*>(data)->graph;
  if (dim != 1 || nedges != static_cast<i64>(g->netwgt.size())) {
    *ierr = ZOLTAN_FATAL;
    return;
  }
  for (int i = 0; i < nedges; i++) {
    edgegids[i] = static_cast<ZOLTAN_ID_TYPE>(g->net0 + i);
    wgts[i] = g->netwgt[i];
  }
  *ierr = ZOLTAN_OK;
}

int NumFixed(void* data, int* ierr) {
  *ierr = ZOLTAN_OK;
  return static_cast<int>(static_cast<CallbackData*>(data)->fixedgids.size());
}

void FixedList(void* data, int nfixed, int, ZOLTAN_ID_PTR gids, int* parts, int* ierr) {
  const auto* d = static_cast<CallbackData*>(data);
  for (int i = 0; i < nfixed; i++) {
    gids[i] = d->fixedgids[i];
    parts[i] = d->fixedparts[i];
  }
  *ierr = ZOLTAN_OK;
}

void SetParam(Zoltan_Struct* zz, const std::string& name, const std::string& value,
              const Comm& comm) {
  if (Zoltan_Set_Param(zz, name.c_str(), value.c_str()) != ZOLTAN_OK) {
    Failure f;
    if (comm.rank == 0)
      f.Set(0, Format("veldan-mpi: Zoltan does not take the parameter %s=%s.\n", name.c_str(),
                      value.c_str()),
            kStatusUsage);
    else
      f.Set(1, "", kStatusUsage);
    AgreeOrExit(comm, f);
  }
}

}  // namespace

std::vector<float> BalancedWeights(const Comm& comm, const LocalHGraph& g) {
  const i64 n = g.ncells(), ncon = g.header.ncon;
  std::vector<float> w(static_cast<std::size_t>(n), 1.0f);
  if (g.cellwgt.empty()) return w;
  if (ncon == 1) {
    for (i64 i = 0; i < n; i++) w[i] = g.cellwgt[i];
  } else {
    std::vector<double> total(ncon, 0.0), all(ncon, 0.0);
    for (i64 i = 0; i < n; i++)
      for (i64 j = 0; j < ncon; j++) total[j] += g.cellwgt[i * ncon + j];
    MPI_Allreduce(total.data(), all.data(), static_cast<int>(ncon), MPI_DOUBLE, MPI_SUM,
                  comm.comm);
    std::vector<double> scale(ncon, 0.0);
    for (i64 j = 0; j < ncon; j++)
      scale[j] = all[j] > 0.0 ? static_cast<double>(g.header.nvtxs) / ncon / all[j] : 0.0;
    for (i64 i = 0; i < n; i++) {
      double s = 0.0;
      for (i64 j = 0; j < ncon; j++) s += g.cellwgt[i * ncon + j] * scale[j];
      w[i] = static_cast<float>(s);
    }
  }
  for (float& x : w)
    if (!(x >= kFloatEps)) x = kFloatEps;
  return w;
}

std::vector<int> RunZoltan(const Comm& comm, const LocalHGraph& graph,
                           const std::vector<float>& weights, const std::vector<int>& fixed,
                           const Options& options, double tolerance, unsigned seed) {
  CallbackData data{&graph, &weights, {}, {}};
  for (std::size_t i = 0; i < fixed.size(); i++)
    if (fixed[i] >= 0) {
      data.fixedgids.push_back(static_cast<ZOLTAN_ID_TYPE>(graph.cell0 + static_cast<i64>(i)));
      data.fixedparts.push_back(fixed[i]);
    }

  Zoltan_Struct* zz = Zoltan_Create(comm.comm);
  SetParam(zz, "DEBUG_LEVEL", "0", comm);
  SetParam(zz, "LB_METHOD", "HYPERGRAPH", comm);
  SetParam(zz, "HYPERGRAPH_PACKAGE", "PHG", comm);
  SetParam(zz, "LB_APPROACH", "PARTITION", comm);
  SetParam(zz, "NUM_GID_ENTRIES", "1", comm);
  SetParam(zz, "NUM_LID_ENTRIES", "1", comm);
  SetParam(zz, "RETURN_LISTS", "PARTS", comm);
  SetParam(zz, "NUM_GLOBAL_PARTS", std::to_string(options.nparts), comm);
  SetParam(zz, "OBJ_WEIGHT_DIM", "1", comm);
  SetParam(zz, "EDGE_WEIGHT_DIM", graph.header.netweights() ? "1" : "0", comm);
  SetParam(zz, "IMBALANCE_TOL", Format("%.6f", tolerance), comm);
  SetParam(zz, "PHG_CUT_OBJECTIVE",
           options.otype == kOTypeSoed ? "CONNECTIVITY" : "HYPEREDGES", comm);
  SetParam(zz, "CHECK_HYPERGRAPH", "0", comm);
  SetParam(zz, "PHG_OUTPUT_LEVEL", "0", comm);
  SetParam(zz, "FINAL_OUTPUT", "0", comm);
  for (const auto& [name, value] : options.zparams) SetParam(zz, name, value, comm);

  Zoltan_Set_Num_Obj_Fn(zz, NumObj, &data);
  Zoltan_Set_Obj_List_Fn(zz, ObjList, &data);
  Zoltan_Set_HG_Size_CS_Fn(zz, HgSizeCS, &data);
  Zoltan_Set_HG_CS_Fn(zz, HgCS, &data);
  if (graph.header.netweights()) {
    Zoltan_Set_HG_Size_Edge_Wts_Fn(zz, HgSizeEdgeWts, &data);
    Zoltan_Set_HG_Edge_Wts_Fn(zz, HgEdgeWts, &data);
  }
  if (!fixed.empty()) {
    Zoltan_Set_Num_Fixed_Obj_Fn(zz, NumFixed, &data);
    Zoltan_Set_Fixed_Obj_List_Fn(zz, FixedList, &data);
  }

  // The same seed on every rank: the partitioner draws in step.
  Zoltan_Srand(seed, nullptr);

  int changes = 0, ngid = 0, nlid = 0, nimport = 0, nexport = 0;
  ZOLTAN_ID_PTR importgids = nullptr, importlids = nullptr, exportgids = nullptr,
                exportlids = nullptr;
  int *importprocs = nullptr, *importparts = nullptr, *exportprocs = nullptr,
      *exportparts = nullptr;
  const int rc = Zoltan_LB_Partition(zz, &changes, &ngid, &nlid, &nimport, &importgids,
                                     &importlids, &importprocs, &importparts, &nexport,
                                     &exportgids, &exportlids, &exportprocs, &exportparts);
  int worst = rc;
  MPI_Allreduce(&rc, &worst, 1, MPI_INT, MPI_MAX, comm.comm);
  if (worst != ZOLTAN_OK && worst != ZOLTAN_WARN) {
    Failure f;
    f.Set(comm.rank == 0 ? 0 : 1,
          comm.rank == 0 ? Format("veldan-mpi: Zoltan's partitioner failed (code %d).\n", worst)
                         : std::string(),
          1);
    AgreeOrExit(comm, f);
  }

  // With RETURN_LISTS=PARTS the export lists give the part of every local
  // cell.
  std::vector<int> part(static_cast<std::size_t>(graph.ncells()), -1);
  for (int i = 0; i < nexport; i++) {
    const i64 lid = static_cast<i64>(exportlids[i]);
    if (lid >= 0 && lid < graph.ncells()) part[lid] = exportparts[i];
  }
  Zoltan_LB_Free_Part(&importgids, &importlids, &importprocs, &importparts);
  Zoltan_LB_Free_Part(&exportgids, &exportlids, &exportprocs, &exportparts);
  Zoltan_Destroy(&zz);

  int missing = std::count(part.begin(), part.end(), -1) > 0 ? 1 : 0, anymissing = 0;
  MPI_Allreduce(&missing, &anymissing, 1, MPI_INT, MPI_MAX, comm.comm);
  if (anymissing != 0) {
    Failure f;
    f.Set(comm.rank == 0 ? 0 : 1,
          comm.rank == 0 ? std::string("veldan-mpi: Zoltan left cells without a part.\n")
                         : std::string(),
          1);
    AgreeOrExit(comm, f);
  }
  return part;
}

Metrics Evaluate(const Comm& comm, const LocalHGraph& g, i64 nparts,
                 const std::vector<int>& blockpart, double factor) {
  const i64 ncon = g.header.ncon, nvtxs = g.header.nvtxs;
  // Every rank needs the part of the pins of its nets: the whole vector.
  std::vector<int> counts(comm.size), displs(comm.size);
  for (int r = 0; r < comm.size; r++) {
    displs[r] = static_cast<int>(BlockStart(nvtxs, comm.size, r));
    counts[r] = static_cast<int>(BlockStart(nvtxs, comm.size, r + 1) - displs[r]);
  }
  std::vector<int> part(static_cast<std::size_t>(nvtxs));
  MPI_Allgatherv(blockpart.data(), static_cast<int>(blockpart.size()), MPI_INT, part.data(),
                 counts.data(), displs.data(), MPI_INT, comm.comm);

  // Sums over the ranks, in one vector: cut, km1, absorption, then pcuts,
  // pwgts, cells per part, and per weight its total and whether it is
  // integral (as 0/1 summed: integral when the sum is the rank count).
  const i64 k = nparts;
  const std::size_t npcuts = 3, npw = npcuts + k, ncells = npw + k * ncon, ntot = ncells + k,
                    nint = ntot + ncon, nsum = nint + ncon;
  std::vector<double> local(nsum, 0.0), sum(nsum, 0.0);

  std::vector<i64> pdeg(static_cast<std::size_t>(k), 0);
  for (i64 e = 0; e < g.nnets(); e++) {
    const i64 start = g.netptr[e], end = g.netptr[e + 1], npins = end - start;
    const double w = g.netwgt.empty() ? 1.0 : g.netwgt[e];
    if (npins <= 0) {
      local[2] += 1.0;
      continue;
    }
    for (i64 p = start; p < end; p++) pdeg[part[g.pins[p]]]++;
    const int first = part[g.pins[start]];
    if (pdeg[first] == npins) {
      local[2] += 1.0;
      pdeg[first] = 0;
      continue;
    }
    local[0] += w;
    i64 spanned = 0;
    for (i64 p = start; p < end; p++) {
      const int q = part[g.pins[p]];
      const i64 c = pdeg[q];
      if (c == 0) continue;
      local[npcuts + q] += w;
      local[2] += static_cast<double>(c - 1) / static_cast<double>(npins - 1);
      pdeg[q] = 0;
      spanned++;
    }
    local[1] += static_cast<double>(spanned - 1) * w;
  }
  for (i64 j = 0; j < ncon; j++) local[nint + j] = 1.0;
  for (i64 i = 0; i < g.ncells(); i++) {
    const int q = blockpart[i];
    for (i64 j = 0; j < ncon; j++) {
      const double w = g.cellwgt.empty() ? 1.0 : g.cellwgt[i * ncon + j];
      local[npw + q * ncon + j] += w;
      local[ntot + j] += w;
      if (w != std::floor(w)) local[nint + j] = 0.0;
    }
    local[ncells + q] += 1.0;
  }
  MPI_Allreduce(local.data(), sum.data(), static_cast<int>(nsum), MPI_DOUBLE, MPI_SUM, comm.comm);

  Metrics m;
  m.nparts = k;
  m.ncon = ncon;
  m.cut = sum[0];
  m.km1 = sum[1];
  m.absorption = sum[2];
  m.pcuts.assign(sum.begin() + npcuts, sum.begin() + npw);
  m.pwgts.assign(sum.begin() + npw, sum.begin() + ncells);
  double scost = 0.0;
  for (i64 q = 0; q < k; q++) {
    m.soed += m.pcuts[q];
    double wsum = 0.0;
    for (i64 j = 0; j < ncon; j++) wsum += m.pwgts[q * ncon + j];
    if (wsum != 0.0) scost += m.pcuts[q] / wsum;
    if (sum[ncells + q] == 0.0) m.emptyparts++;
  }
  m.scaledcost = (nvtxs > 0 && k > 1) ? scost / (1.0 * nvtxs * (k - 1)) : 0.0;
  for (i64 j = 0; j < ncon; j++) {
    const double total = sum[ntot + j];
    double heaviest = 0.0;
    for (i64 q = 0; q < k; q++) heaviest = std::max(heaviest, m.pwgts[q * ncon + j]);
    const double avg = total / static_cast<double>(k);
    m.imbalance.push_back(avg > 0.0 ? heaviest / avg - 1.0 : 0.0);
    // As veldan bounds parts under -epsilon: with integer weights, never
    // below the average rounded up.
    double f = factor;
    const bool integral = sum[nint + j] == static_cast<double>(comm.size);
    if (integral && avg > 0.0 && factor * avg < std::ceil(avg)) f = std::ceil(avg) / avg;
    m.maxpwgt.push_back(f * avg);
    for (i64 q = 0; q < k; q++) m.held = m.held && m.pwgts[q * ncon + j] <= f * avg;
  }
  return m;
}

double Objective(const Metrics& m, const Options& options) {
  return options.otype == kOTypeSoed ? m.soed : m.cut;
}

}  // namespace veldan::mpi
