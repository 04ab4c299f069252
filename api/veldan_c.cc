// The C interface over the C++ one.
#include "veldan/veldan_c.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/options.h"
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

namespace {

// A copy of v in memory from malloc (null when v is empty).
template <class T>
T* MallocCopy(const std::vector<T>& v) {
  if (v.empty()) return nullptr;
  T* p = static_cast<T*>(std::malloc(v.size() * sizeof(T)));
  if (p != nullptr) std::memcpy(p, v.data(), v.size() * sizeof(T));
  return p;
}

}  // namespace

extern "C" {

void veldan_default_options(veldan_options* o) {
  if (o == nullptr) return;
  veldan::OptionsToC(veldan::Options(), o);
  o->initial = nullptr;
}

int veldan_preset_options(veldan_options* o, int preset) {
  if (o == nullptr) return Report(veldan::Status::InvalidOptions, "no options given");
  if (preset < VELDAN_PRESET_DEFAULT || preset > VELDAN_PRESET_QUALITY)
    return Report(veldan::Status::InvalidOptions,
                  "unknown preset " + std::to_string(preset) + " (0 default, 1 fast, 2 quality)");
  veldan::OptionsToC(veldan::PresetOptions(static_cast<veldan::Preset>(preset)), o);
  o->initial = nullptr;
  return Report(veldan::Status::Ok, "");
}

int veldan_partition(const veldan_hypergraph* ch, const veldan_options* co, int64_t* parts,
                     veldan_metrics* metrics) {
  try {
    veldan::Hypergraph h;
    std::string message;
    if (!View(ch, &h, &message)) return Report(veldan::Status::InvalidHypergraph, message);
    if (co == nullptr || parts == nullptr)
      return Report(veldan::Status::InvalidOptions, "no options or no part vector given");
    if (co->npart_weights < 0 || (co->npart_weights > 0 && co->part_weights == nullptr))
      return Report(veldan::Status::InvalidOptions,
                    "part_weights is NULL or npart_weights (" +
                        std::to_string(co->npart_weights) + ") is negative");
    veldan::Options o = veldan::OptionsFromC(*co);
    if (co->initial != nullptr) o.initial.assign(co->initial, co->initial + h.nvtxs);
    veldan::Result r;
    const veldan::Status s = veldan::Partition(h, o, &r, &message);
    if (s != veldan::Status::Ok) return Report(s, message);
    std::copy(r.parts.begin(), r.parts.end(), parts);
    if (metrics != nullptr) {
      Fill(r.metrics, metrics);
      metrics->seed = r.seed;
      metrics->balanced = r.balanced ? 1 : 0;
      metrics->nruns = r.nruns;
      metrics->nvcycles = r.nvcycles;
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
      metrics->nruns = 0;
      metrics->nvcycles = 0;
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

int veldan_read_hypergraph(const char* path, veldan_hypergraph* h) {
  if (h == nullptr) return Report(veldan::Status::InvalidOptions, "no hypergraph given");
  *h = veldan_hypergraph{};
  if (path == nullptr) return Report(veldan::Status::InvalidOptions, "no path given");
  try {
    const veldan::HypergraphData d = veldan::ReadHypergraph(path);
    veldan_hypergraph out{};
    out.nvtxs = d.nvtxs;
    out.nnets = static_cast<int64_t>(d.netptr.size()) - 1;
    out.ncon = d.ncon;
    out.netptr = MallocCopy(d.netptr);
    out.netind = MallocCopy(d.netind);
    out.netwgt = MallocCopy(d.netwgt);
    out.cellwgt = MallocCopy(d.cellwgt);
    const bool missing = out.netptr == nullptr || (out.netind == nullptr && !d.netind.empty()) ||
                         (out.netwgt == nullptr && !d.netwgt.empty()) ||
                         (out.cellwgt == nullptr && !d.cellwgt.empty());
    if (missing) {
      veldan_free_hypergraph(&out);
      return Report(veldan::Status::OutOfMemory, "out of memory");
    }
    *h = out;
    return Report(veldan::Status::Ok, "");
  } catch (const veldan::Error& e) {
    return Report(e.status(), e.what());
  } catch (...) {
    return Report(veldan::Status::OutOfMemory, "out of memory");
  }
}

void veldan_free_hypergraph(veldan_hypergraph* h) {
  if (h == nullptr) return;
  std::free(const_cast<int64_t*>(h->netptr));
  std::free(const_cast<int64_t*>(h->netind));
  std::free(const_cast<float*>(h->netwgt));
  std::free(const_cast<float*>(h->cellwgt));
  *h = veldan_hypergraph{};
}

const char* veldan_version(void) { return veldan::Version(); }

}  // extern "C"
