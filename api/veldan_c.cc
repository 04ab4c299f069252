// The C interface over the C++ one.
#include "veldan/veldan_c.h"

#include <algorithm>
#include <string>

#include "veldan/veldan.h"

namespace {

thread_local std::string t_error;

int Report(veldan::Status status, const std::string& message) {
  t_error = message;
  return static_cast<int>(status);
}

// The C++ view of a C hypergraph, or a message when a pointer is missing.
bool View(const veldan_hypergraph* c, veldan::Hypergraph* h, std::string* message) {
  if (c == nullptr) {
    *message = "no hypergraph given";
    return false;
  }
  if (c->nvtxs < 0 || c->nnets < 0 || c->ncon < 1) {
    *message = "the counts are invalid (cells " + std::to_string(c->nvtxs) + ", nets " +
               std::to_string(c->nnets) + ", ncon " + std::to_string(c->ncon) + ")";
    return false;
  }
  if (c->netptr == nullptr) {
    *message = "netptr is NULL";
    return false;
  }
  const int64_t npins = c->netptr[c->nnets];
  if (npins < 0 || (npins > 0 && c->netind == nullptr)) {
    *message = "netind is NULL or netptr[nnets] is negative";
    return false;
  }
  h->nvtxs = c->nvtxs;
  h->netptr = {c->netptr, static_cast<std::size_t>(c->nnets + 1)};
  h->netind = {c->netind, static_cast<std::size_t>(npins)};
  if (c->netwgt != nullptr) h->netwgt = {c->netwgt, static_cast<std::size_t>(c->nnets)};
  h->ncon = c->ncon;
  if (c->cellwgt != nullptr)
    h->cellwgt = {c->cellwgt, static_cast<std::size_t>(c->nvtxs * c->ncon)};
  if (c->fixed != nullptr) h->fixed = {c->fixed, static_cast<std::size_t>(c->nvtxs)};
  return true;
}

void Fill(const veldan::Metrics& m, veldan_metrics* out) {
  out->cut = m.cut;
  out->km1 = m.km1;
  out->soed = m.soed;
  out->imbalance = m.imbalance.empty() ? 0.0 : *std::max_element(m.imbalance.begin(),
                                                                   m.imbalance.end());
  out->empty_parts = m.empty_parts;
  out->fixed_violations = m.fixed_violations;
}

}  // namespace

extern "C" {

void veldan_default_options(veldan_options* o) {
  if (o == nullptr) return;
  const veldan::Options d;
  o->scheme = static_cast<int>(d.scheme);
  o->k = d.k;
  o->epsilon = d.epsilon;
  o->ufactor = d.ufactor;
  o->objective = static_cast<int>(d.objective);
  o->nruns = d.nruns;
  o->nvcycles = d.nvcycles;
  o->ctype = static_cast<int>(d.ctype);
  o->rtype = static_cast<int>(d.rtype);
  o->cmaxnet = d.cmaxnet;
  o->rmaxnet = d.rmaxnet;
  o->kwayrefine = d.kwayrefine ? 1 : 0;
  o->reconstruct = d.reconstruct ? 1 : 0;
  o->seed = d.seed;
  o->threads = d.threads;
  o->dbglvl = d.dbglvl;
}

int veldan_partition(const veldan_hypergraph* ch, const veldan_options* co, int64_t* parts,
                     veldan_metrics* metrics) {
  try {
    veldan::Hypergraph h;
    std::string message;
    if (!View(ch, &h, &message)) return Report(veldan::Status::InvalidHypergraph, message);
    if (co == nullptr || parts == nullptr)
      return Report(veldan::Status::InvalidOptions, "no options or no part vector given");
    veldan::Options o;
    o.scheme = static_cast<veldan::Scheme>(co->scheme);
    o.k = co->k;
    o.epsilon = co->epsilon;
    o.ufactor = co->ufactor;
    o.objective = static_cast<veldan::Objective>(co->objective);
    o.nruns = co->nruns;
    o.nvcycles = co->nvcycles;
    o.ctype = static_cast<veldan::Coarsening>(co->ctype);
    o.rtype = static_cast<veldan::Refinement>(co->rtype);
    o.cmaxnet = co->cmaxnet;
    o.rmaxnet = co->rmaxnet;
    o.kwayrefine = co->kwayrefine != 0;
    o.reconstruct = co->reconstruct != 0;
    o.seed = co->seed;
    o.threads = co->threads;
    o.dbglvl = co->dbglvl;
    veldan::Result r;
    const veldan::Status s = veldan::Partition(h, o, &r, &message);
    if (s != veldan::Status::Ok) return Report(s, message);
    std::copy(r.parts.begin(), r.parts.end(), parts);
    if (metrics != nullptr) {
      Fill(r.metrics, metrics);
      metrics->seed = r.seed;
      metrics->balanced = r.balanced ? 1 : 0;
    }
    return Report(veldan::Status::Ok, "");
  } catch (...) {
    return Report(veldan::Status::OutOfMemory, "out of memory");
  }
}

int veldan_evaluate(const veldan_hypergraph* ch, const int64_t* parts, int64_t k,
                    veldan_metrics* metrics, double* part_weights, double* imbalance) {
  try {
    veldan::Hypergraph h;
    std::string message;
    if (!View(ch, &h, &message)) return Report(veldan::Status::InvalidHypergraph, message);
    if (parts == nullptr && h.nvtxs > 0)
      return Report(veldan::Status::InvalidOptions, "no part vector given");
    const veldan::Metrics m =
        veldan::Evaluate(h, {parts, static_cast<std::size_t>(h.nvtxs)}, k);
    if (metrics != nullptr) {
      Fill(m, metrics);
      metrics->seed = 0;
      metrics->balanced = 1;
    }
    if (part_weights != nullptr) std::copy(m.part_weights.begin(), m.part_weights.end(), part_weights);
    if (imbalance != nullptr) std::copy(m.imbalance.begin(), m.imbalance.end(), imbalance);
    return Report(veldan::Status::Ok, "");
  } catch (const veldan::Error& e) {
    return Report(e.status(), e.what());
  } catch (...) {
    return Report(veldan::Status::OutOfMemory, "out of memory");
  }
}

const char* veldan_last_error(void) { return t_error.c_str(); }

const char* veldan_version(void) { return veldan::Version(); }

}  // extern "C"
