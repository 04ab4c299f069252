// gen_circuit: writes a random hypergraph that looks like a placed netlist.
//
// The cells sit on a square grid. Every net has a driver cell and sinks drawn
// near it: most nets have two or three pins and stay within a few grid
// steps, a minority fan out to more cells over a wider window, and a few
// long nets (clock- or bus-like) span a large part of the grid. Every cell
// drives at least one net while nets last, so no cell is left without nets
// when there are at least as many nets as cells.
//
// The output is the plain hypergraph text format: a comment line naming the
// parameters, a header "<nets> <cells>" (no weights), then one line per net
// with its cells numbered from 1. The same parameters and seed always give
// the same file: the generator uses its own random stream, not the
// platform's.
//
//   gen_circuit [-cells N] [-nets M] [-maxpins P] [-seed S] [-o FILE]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: small, fast and identical on every platform.
struct Rng {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in 0..n-1 (n > 0); the bias of the modulo is negligible here.
  long Below(long n) { return static_cast<long>(Next() % static_cast<std::uint64_t>(n)); }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
};

struct Options {
  long cells = 3000;
  long nets = -1;  // default: about 1.1 nets per cell
  long maxpins = -1;  // default: 60, or the number of cells when fewer
  long seed = 1;
  std::string out;
};

void Usage(const char* prog) {
  std::fprintf(stderr,
               "Usage: %s [-cells N] [-nets M] [-maxpins P] [-seed S] [-o FILE]\n"
               "  -cells N    number of cells (at least 2, default 3000)\n"
               "  -nets M     number of nets (default 1.1 x cells)\n"
               "  -maxpins P  largest net size (2 to cells, default 60 or cells)\n"
               "  -seed S     seed of the generator (default 1)\n"
               "  -o FILE     output file (default standard output)\n",
               prog);
}

bool ParseLong(const char* text, long* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *value = v;
  return true;
}

bool ParseOptions(int argc, char** argv, Options* opt) {
  for (int i = 1; i < argc; i++) {
    const char* a = argv[i];
    if (i + 1 >= argc) return false;
    const char* v = argv[++i];
    bool ok = true;
    if (std::strcmp(a, "-cells") == 0) ok = ParseLong(v, &opt->cells);
    else if (std::strcmp(a, "-nets") == 0) ok = ParseLong(v, &opt->nets);
    else if (std::strcmp(a, "-maxpins") == 0) ok = ParseLong(v, &opt->maxpins);
    else if (std::strcmp(a, "-seed") == 0) ok = ParseLong(v, &opt->seed);
    else if (std::strcmp(a, "-o") == 0) opt->out = v;
    else return false;
    if (!ok) return false;
  }
  if (opt->nets < 0) opt->nets = opt->cells + opt->cells / 10;
  if (opt->maxpins < 0) opt->maxpins = opt->cells < 60 ? opt->cells : 60;
  return opt->cells >= 2 && opt->nets >= 1 && opt->maxpins >= 2 &&
         opt->maxpins <= opt->cells;
}

// Number of pins of a net: a netlist's heavy tail of small nets.
long DrawNetSize(Rng& rng, long maxpins) {
  const double u = rng.Unit();
  long size;
  if (u < 0.58) size = 2;
  else if (u < 0.80) size = 3;
  else if (u < 0.90) size = 4 + rng.Below(3);    // 4..6
  else if (u < 0.985) size = 7 + rng.Below(14);  // 7..20
  else size = 21 + rng.Below(maxpins);           // long nets, clipped below
  return size < maxpins ? size : maxpins;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseOptions(argc, argv, &opt)) {
    Usage(argv[0]);
    return 1;
  }

  const long n = opt.cells;
  const long side = static_cast<long>(std::ceil(std::sqrt(static_cast<double>(n))));
  Rng rng{static_cast<std::uint64_t>(opt.seed) * 0x2545f4914f6cdd1dULL + 12345};

  // Cell c sits at (c % side, c / side); the last row may be partial.
  auto cell_at = [&](long x, long y) -> long {
    if (x < 0 || y < 0 || x >= side || y >= side) return -1;
    const long c = y * side + x;
    return c < n ? c : -1;
  };

  // Drivers: every cell once in a random order while nets last, then random.
  std::vector<long> order(n);
  for (long i = 0; i < n; i++) order[i] = i;
  for (long i = n - 1; i > 0; i--) std::swap(order[i], order[rng.Below(i + 1)]);

  std::vector<long> mark(n, -1);  // net that last took the cell
  std::vector<std::vector<long>> nets(opt.nets);
  for (long e = 0; e < opt.nets; e++) {
    const long driver = (e < n) ? order[e] : rng.Below(n);
    const long size = DrawNetSize(rng, opt.maxpins);
    // Sinks lie in a window around the driver that widens with the net size
    // (a few grid steps for small nets, a large part of the grid for long
    // ones).
    long radius = 1 + static_cast<long>(std::sqrt(static_cast<double>(size)));
    if (size > 20) radius = side / 3 + 1;
    const long dx0 = driver % side, dy0 = driver / side;

    std::vector<long>& pins = nets[e];
    pins.push_back(driver);
    mark[driver] = e;
    long misses = 0;
    while (static_cast<long>(pins.size()) < size) {
      long c;
      if (radius < side) {
        const long x = dx0 + rng.Below(2 * radius + 1) - radius;
        const long y = dy0 + rng.Below(2 * radius + 1) - radius;
        c = cell_at(x, y);
      } else {
        c = rng.Below(n);  // the window covers the grid: any cell will do
      }
      if (c >= 0 && mark[c] != e) {
        mark[c] = e;
        pins.push_back(c);
        misses = 0;
      } else if (++misses > 64) {
        radius = (radius < side) ? 2 * radius : side;  // crowded: look further out
        misses = 0;
      }
    }
  }

  std::FILE* fp = stdout;
  if (!opt.out.empty()) {
    fp = std::fopen(opt.out.c_str(), "w");
    if (fp == nullptr) {
      std::perror(opt.out.c_str());
      return 1;
    }
  }
  std::fprintf(fp, "%% gen_circuit -cells %ld -nets %ld -maxpins %ld -seed %ld\n", n,
               opt.nets, opt.maxpins, opt.seed);
  std::fprintf(fp, "%ld %ld\n", opt.nets, n);
  for (const std::vector<long>& pins : nets) {
    for (std::size_t p = 0; p < pins.size(); p++)
      std::fprintf(fp, p ? " %ld" : "%ld", pins[p] + 1);
    std::fputc('\n', fp);
  }
  if (fp != stdout && std::fclose(fp) != 0) {
    std::perror(opt.out.c_str());
    return 1;
  }
  return 0;
}
