// gen_stencil: writes the hypergraph of a 3-D 7-point stencil matrix in the
// row-net model.
//
// The matrix belongs to an N x N x N grid of points, numbered
// x + N (y + N z) from 0. Row i holds a nonzero in column i and in the column
// of each grid neighbour of point i (one step along x, y or z, inside the
// grid): 7 nonzeros inside, 4 to 6 on the faces, edges and corners. In the
// row-net model every column is a cell and every row a net whose pins are the
// columns of its nonzeros, so there are N^3 cells, N^3 nets and
// 7 N^3 - 6 N^2 pins (N = 64: 1810432; N = 100: 6940000), all weights 1.
//
// The output is the plain hypergraph text format: a comment line naming the
// size, a header "<nets> <cells>" (no weights), then one line per net with
// its cells numbered from 1 in increasing order. The file depends only on N.
//
//   gen_stencil N [OUT.hgr]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Largest N whose pin count stays below 2^31, so that every reader taking
// 32-bit counts accepts the file.
constexpr long kMaxSide = 674;

void Usage(const char* prog) {
  std::fprintf(stderr,
               "Usage: %s N [OUT.hgr]\n"
               "  N        points per side of the grid (2 to %ld); N^3 cells and nets,\n"
               "           7 N^3 - 6 N^2 pins\n"
               "  OUT.hgr  output file (default standard output)\n",
               prog, kMaxSide);
}

bool ParseLong(const char* text, long* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') return false;
  *value = v;
  return true;
}

// Appends the decimal digits of v (> 0) and a separator to the buffer.
char* PutNumber(char* p, std::uint64_t v, char sep) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = digits[--n];
  *p++ = sep;
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  long side = 0;
  if (argc < 2 || argc > 3 || !ParseLong(argv[1], &side) || side < 2 || side > kMaxSide) {
    Usage(argv[0]);
    return 1;
  }
  const char* out = argc == 3 ? argv[2] : nullptr;
  std::FILE* fp = stdout;
  if (out != nullptr) {
    fp = std::fopen(out, "w");
    if (fp == nullptr) {
      std::perror(out);
      return 1;
    }
  }

  const std::uint64_t n = static_cast<std::uint64_t>(side);
  const std::uint64_t plane = n * n;
  const std::uint64_t cells = plane * n;
  std::fprintf(fp, "%% gen_stencil %ld: 3-D 7-point stencil, row-net model, %llu pins\n", side,
               static_cast<unsigned long long>(7 * cells - 6 * plane));
  std::fprintf(fp, "%llu %llu\n", static_cast<unsigned long long>(cells),
               static_cast<unsigned long long>(cells));

  // One net per line, written through a buffer: the large sizes have
  // millions of pins.
  static char buffer[1 << 16];
  char* p = buffer;
  for (std::uint64_t z = 0; z < n; z++) {
    for (std::uint64_t y = 0; y < n; y++) {
      for (std::uint64_t x = 0; x < n; x++) {
        const std::uint64_t i = x + n * (y + n * z) + 1;  // numbered from 1
        // Columns in increasing order: -z, -y, -x, self, +x, +y, +z.
        std::uint64_t cols[7];
        int m = 0;
        if (z > 0) cols[m++] = i - plane;
        if (y > 0) cols[m++] = i - n;
        if (x > 0) cols[m++] = i - 1;
        cols[m++] = i;
        if (x + 1 < n) cols[m++] = i + 1;
        if (y + 1 < n) cols[m++] = i + n;
        if (z + 1 < n) cols[m++] = i + plane;
        for (int c = 0; c < m; c++) p = PutNumber(p, cols[c], c + 1 < m ? ' ' : '\n');
        if (p - buffer > static_cast<long>(sizeof(buffer)) - 256) {
          std::fwrite(buffer, 1, static_cast<std::size_t>(p - buffer), fp);
          p = buffer;
        }
      }
    }
  }
  std::fwrite(buffer, 1, static_cast<std::size_t>(p - buffer), fp);

  if (std::ferror(fp) || (fp != stdout && std::fclose(fp) != 0)) {
    std::perror(out != nullptr ? out : "standard output");
    return 1;
  }
  return 0;
}
