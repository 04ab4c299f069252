// Helpers shared by the tests: temporary folders, files, and running the
// built program with both output streams captured.
#include "tests/testutil.h"

#include "io/io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace veldan_test {

std::string BinaryPath() { return VELDAN_BIN; }

std::string SharedHgrDir() {
  const std::string dir = std::string(VELDAN_SHARED_DIR) + "/data/hgr";
  struct stat st;
  if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  return "";
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/veldan-test-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& text) const {
  const std::string path = path_ + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

namespace {

// The name part of an environment entry "NAME=value".
std::string EnvName(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

RunResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env,
              const std::string& argv0) {
  return RunBinary(BinaryPath(), args, env, argv0);
}

RunResult RunBinary(const std::string& bin, const std::vector<std::string>& args,
                    const std::vector<std::string>& env, const std::string& argv0) {

  // Everything the child needs is built before the fork.
  std::vector<std::string> argstrs;
  argstrs.push_back(argv0.empty() ? bin : argv0);
  argstrs.insert(argstrs.end(), args.begin(), args.end());
  std::vector<char*> argvv;
  for (auto& a : argstrs) argvv.push_back(a.data());
  argvv.push_back(nullptr);

  // The inherited environment, with the given assignments replacing any of
  // the same name.
  std::vector<std::string> envstrs;
  for (char** e = environ; *e != nullptr; e++) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& add : env) replaced = replaced || EnvName(add) == EnvName(entry);
    if (!replaced) envstrs.push_back(entry);
  }
  envstrs.insert(envstrs.end(), env.begin(), env.end());
  std::vector<char*> envv;
  for (auto& e : envstrs) envv.push_back(e.data());
  envv.push_back(nullptr);

  int outpipe[2], errpipe[2];
  if (pipe2(outpipe, O_CLOEXEC) != 0 || pipe2(errpipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    dup2(outpipe[1], 1);
    dup2(errpipe[1], 2);
    execve(bin.c_str(), argvv.data(), envv.data());
    _exit(127);
  }
  close(outpipe[1]);
  close(errpipe[1]);

  // Drain both pipes as data arrives, so that neither stream can fill its
  // pipe and block the child.
  RunResult result;
  struct pollfd fds[2] = {{outpipe[0], POLLIN, 0}, {errpipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  char buf[65536];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (int s = 0; s < 2; s++) {
      if (fds[s].fd < 0 || fds[s].revents == 0) continue;
      const ssize_t n = read(fds[s].fd, buf, sizeof(buf));
      if (n > 0) {
        sinks[s]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[s].fd);
        fds[s].fd = -1;
        open_count--;
      }
    }
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<veldan::pin_t> Pins(const std::vector<veldan::idx_t>& ind) {
  return std::vector<veldan::pin_t>(ind.begin(), ind.end());
}

veldan::real_t PartitionArrays(veldan::idx_t nvtxs, const std::vector<veldan::idx_t>& netptr,
                               const std::vector<veldan::idx_t>& netind,
                               const std::vector<veldan::real_t>& netwgt,
                               const std::vector<veldan::real_t>& cellwgt,
                               const veldan::Options& options, std::vector<veldan::idx_t>& part,
                               bool fixed, veldan::idx_t ncon) {
  veldan::HGraphView view;
  view.nvtxs = nvtxs;
  view.nnets = static_cast<veldan::idx_t>(netptr.size()) - 1;
  view.ncon = cellwgt.empty() ? 1 : ncon;
  view.cellwgt = cellwgt.empty() ? nullptr : cellwgt.data();
  const std::vector<veldan::pin_t> pins = Pins(netind);
  view.netptr = netptr.data();
  view.netind = pins.data();
  view.netwgt = netwgt.empty() ? nullptr : netwgt.data();
  part.resize(static_cast<std::size_t>(nvtxs), 0);
  return veldan::PartitionHGraph(view, veldan::MakeConfig(options, view, fixed), part, part);
}

veldan::HGraphPtr BuildLevel(veldan::idx_t nvtxs, const std::vector<veldan::idx_t>& netptr,
                             const std::vector<veldan::idx_t>& netind,
                             const std::vector<veldan::real_t>& netwgt,
                             const std::vector<veldan::real_t>& cellwgt, veldan::idx_t ncon) {
  veldan::HGraphPtr g = veldan::SetUpHGraph(
      nvtxs, static_cast<veldan::idx_t>(netptr.size()) - 1, ncon,
      cellwgt.empty() ? nullptr : cellwgt.data(), netwgt.empty() ? nullptr : netwgt.data(),
      netptr.data(), Pins(netind).data());
  TestContext ctrl;
  veldan::CreateIncidentHGraph(ctrl, g.get());
  g->nfixed = 0;
  return g;
}

veldan::HGraphPtr BuildLevel(veldan::idx_t nvtxs, const NetList& nets,
                             const std::vector<veldan::real_t>& netwgt,
                             const std::vector<veldan::real_t>& cellwgt, veldan::idx_t ncon) {
  std::vector<veldan::idx_t> ptr{0}, ind;
  for (const auto& n : nets) {
    ind.insert(ind.end(), n.begin(), n.end());
    ptr.push_back(static_cast<veldan::idx_t>(ind.size()));
  }
  return BuildLevel(nvtxs, ptr, ind, netwgt, cellwgt, ncon);
}

veldan::HGraphPtr LoadLevel(const std::string& name) {
  const std::string dir = SharedHgrDir();
  if (dir.empty() || !FileExists(dir + "/" + name)) return nullptr;
  const veldan::HGraphPtr file = veldan::ReadHGraph((dir + "/" + name).c_str());
  const veldan::idx_t nnets = file->nnets;
  std::vector<veldan::idx_t> ptr(file->netptr.begin(), file->netptr.end());
  std::vector<veldan::idx_t> ind(file->netind.data(), file->netind.data() + file->netptr[nnets]);
  std::vector<veldan::real_t> nw(file->netwgt.begin(), file->netwgt.end());
  std::vector<veldan::real_t> cw(file->cellwgt.begin(), file->cellwgt.end());
  return BuildLevel(file->nvtxs, ptr, ind, nw, cw, std::max<veldan::idx_t>(file->ncon, 1));
}

}  // namespace veldan_test
