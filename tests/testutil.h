// Helpers shared by the tests: temporary folders, small files, running the
// built binary, and the location of the shared real hypergraphs.
#pragma once

#include <string>
#include <vector>

#include "hgraph/context.h"
#include "hgraph/hgraph.h"
#include "kway/entry.h"

namespace veldan_test {

// Path of the built veldan program.
std::string BinaryPath();
// Folder of the shared real hypergraphs ("" when absent).
std::string SharedHgrDir();

// A fresh temporary folder, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes text into a file of this folder and returns its path.
  std::string Write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

struct RunResult {
  int exit_code = -1;    // exit status when the process exited, else -1
  int term_signal = 0;   // signal number when it was killed by a signal
  std::string out;       // standard output
  std::string err;       // standard error
};

// Runs the program with the given arguments (argv[0] is the binary path
// unless argv0 is given), optionally with extra environment assignments
// ("NAME=value"), capturing both streams.
RunResult Run(const std::vector<std::string>& args,
              const std::vector<std::string>& env = {},
              const std::string& argv0 = "");
// The same for another program of ours.
RunResult RunBinary(const std::string& bin, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}, const std::string& argv0 = "");

// Cell or net numbers narrowed to pin_t, as a level's pin lists hold them.
std::vector<veldan::pin_t> Pins(const std::vector<veldan::idx_t>& ind);

// The partitioning entry on a hypergraph held in vectors (netwgt and cellwgt
// empty: unit weights; cellwgt holds ncon weights per cell). With fixed, part
// holds the pre-assigned cells on entry. Throws what MakeConfig throws.
veldan::real_t PartitionArrays(veldan::idx_t nvtxs, const std::vector<veldan::idx_t>& netptr,
                               const std::vector<veldan::idx_t>& netind,
                               const std::vector<veldan::real_t>& netwgt,
                               const std::vector<veldan::real_t>& cellwgt,
                               const veldan::Options& options, std::vector<veldan::idx_t>& part,
                               bool fixed = false, veldan::idx_t ncon = 1);

// A hypergraph collected net by net (netptr/netind), with net weights and
// optional cell weights (empty: unit weights).
struct TestNets {
  veldan::idx_t nvtxs = 0;
  std::vector<veldan::idx_t> netptr{0};
  std::vector<veldan::idx_t> netind;
  std::vector<veldan::real_t> netwgt;
  std::vector<veldan::real_t> cellwgt;
  void Add(const std::vector<veldan::idx_t>& pins, veldan::real_t w = 1.0f) {
    netind.insert(netind.end(), pins.begin(), pins.end());
    netptr.push_back(static_cast<veldan::idx_t>(netind.size()));
    netwgt.push_back(w);
  }
  veldan::idx_t nnets() const { return static_cast<veldan::idx_t>(netwgt.size()); }
  veldan::real_t Weight(veldan::idx_t i) const { return cellwgt.empty() ? 1.0f : cellwgt[i]; }
};

// The one builder of test levels: nvtxs cells, the nets as pin lists (or
// as netptr/netind), net weights and ncon weights per cell (empty: unit),
// with the incidence lists built and nfixed 0.
using NetList = std::vector<std::vector<veldan::idx_t>>;
veldan::HGraphPtr BuildLevel(veldan::idx_t nvtxs, const NetList& nets,
                             const std::vector<veldan::real_t>& netwgt = {},
                             const std::vector<veldan::real_t>& cellwgt = {},
                             veldan::idx_t ncon = 1);
veldan::HGraphPtr BuildLevel(veldan::idx_t nvtxs, const std::vector<veldan::idx_t>& netptr,
                             const std::vector<veldan::idx_t>& netind,
                             const std::vector<veldan::real_t>& netwgt = {},
                             const std::vector<veldan::real_t>& cellwgt = {},
                             veldan::idx_t ncon = 1);
// A shared hypergraph ("ibm01.hgr") as a level, built as above with unit
// cell weights when it has none; null when the shared data are absent.
veldan::HGraphPtr LoadLevel(const std::string& name);

// A run context over a configuration of its own (see OwnedContext).
using TestContext = veldan::OwnedContext;

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace veldan_test
