// The hypergraph file reader: a first pass counts the pins so that the pin
// array is allocated once, a second pass fills the arrays.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "programs/cli.h"
#include "support/io.h"
#include "support/memory.h"

namespace veldan {
namespace {

// ncon may not exceed this.
constexpr idx_t kMaxNCon = 20;
// The most entries an array of 8-byte elements could ever have.
constexpr idx_t kMaxEntries = static_cast<idx_t>(PTRDIFF_MAX / sizeof(idx_t));
// The partitioning sums weights in single precision: part weights add up
// cell weights, and the cut and the sum of external degrees add up net
// weights, each at most once per pin. Files whose weights could carry such a
// sum past this bound (a quarter of the float range, leaving room for the
// rounding of the sums and the factors applied to them) are refused, since a
// sum that overflows to infinity makes every partition look alike.
constexpr double kMaxWeightSum = FLT_MAX / 4.0;

// One pass over the file: the stream, the line buffer kept for the whole
// pass, and the number of the line last read (for messages). The program
// ends on the first error, but an exit hook (support/memory.h) throws
// instead, so what a pass holds is released when it is left either way.
struct LineSource {
  const char* filename;
  std::FILE* fp = nullptr;
  char* line = nullptr;
  std::size_t capacity = 0;
  idx_t lineno = 0;

  explicit LineSource(const char* name) : filename(name) {}
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;
  ~LineSource() {
    ax_free(&line);
    ax_fclose(fp);
  }
};

// The tokens of one line, released when left.
struct Tokens : TokenList {
  Tokens() = default;
  Tokens(const Tokens&) = delete;
  Tokens& operator=(const Tokens&) = delete;
  ~Tokens() { FreeTokens(this); }
};

// The arrays being filled; they pass to the hypergraph once complete.
struct ReadArrays {
  idx_t* netptr = nullptr;
  idx_t* netind = nullptr;
  real_t* netwgt = nullptr;
  real_t* cellwgt = nullptr;
  idx_t* marker = nullptr;

  ReadArrays() = default;
  ReadArrays(const ReadArrays&) = delete;
  ReadArrays& operator=(const ReadArrays&) = delete;
  ~ReadArrays() { ax_free(&netptr, &netind, &netwgt, &cellwgt, &marker); }
};

// Reads the next line that is not a comment. The end of the file and a
// blank line (nothing before its line feed) both end the input early.
char* NextLine(LineSource& src) {
  for (;;) {
    const idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
    src.lineno++;
    if (len < 1) errexit("Premature end of input file: file: %s\n", src.filename);
    if (src.line[0] != '%') return src.line;
  }
}

// Strips the line of leading and trailing blanks, line feeds and tabs, and
// cuts it into tokens at runs of blanks and tabs.
void CutLine(char* line, TokenList* tokens) {
  ax_strtrim_right(line, " \n\t");
  ax_strtrim_left(line, " \n\t");
  strtokenize(line, " \t", tokens);
}

// Scans an integer the way "%ld" does (leading white space, a sign, the
// longest run of digits, the rest ignored); false when the text does not
// begin with a number. Out-of-range values saturate at the ends of the
// 64-bit range. *end, when given, receives the first character not used.
bool ScanLong(const char* text, idx_t* value, const char** end = nullptr) {
  char* stop = nullptr;
  errno = 0;
  const long v = std::strtol(text, &stop, 10);
  if (stop == text) return false;
  *value = v;
  if (end) *end = stop;
  return true;
}

// Scans a float the way "%f" does; false when the text does not begin with
// a number.
bool ScanFloat(const char* text, real_t* value) {
  char* stop = nullptr;
  const float v = std::strtof(text, &stop);
  if (stop == text) return false;
  *value = v;
  return true;
}

struct Header {
  idx_t nnets = 0;
  idx_t nvtxs = 0;
  idx_t fmt = 0;
  idx_t ncon = 1;
};

// Reads the header from the first line that is not a comment: the net
// count, the cell count, then fmt and ncon when present. The checks that
// both passes share are made here.
Header ReadHeader(LineSource& src) {
  const char* text = NextLine(src);
  idx_t values[4];
  int nread = 0;
  while (nread < 4 && ScanLong(text, &values[nread], &text)) nread++;

  if (nread < 2)
    errexit("Hypergraph file %s, line %ld: the header must give the number of nets and "
            "the number of cells.\n",
            src.filename, src.lineno);
  Header h;
  h.nnets = values[0];
  h.nvtxs = values[1];
  if (nread > 2) h.fmt = values[2];
  if (nread > 3) h.ncon = values[3];

  if (h.nnets < 0)
    errexit("Hypergraph file %s, line %ld: the number of nets (%ld) is negative.\n",
            src.filename, src.lineno, h.nnets);
  if (h.nvtxs < 2) errexit("Cannot partition graph with %ld cells\n", h.nvtxs);
  if (h.fmt > 99 || h.fmt < 0) errexit("Cannot read this type of file format!");
  if (h.nnets >= kMaxEntries || h.nvtxs >= kMaxEntries)
    errexit("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are "
            "too large.\n",
            src.filename, src.lineno, h.nnets, h.nvtxs);
  return h;
}

bool HasNetWeights(idx_t fmt) { return fmt % 10 > 0; }
bool HasCellWeights(idx_t fmt) { return (fmt / 10) % 10 > 0; }

void ClosePass(LineSource& src) {
  ax_free(&src.line);
  ax_fclose(src.fp);
  src.fp = nullptr;
}

}  // namespace

idx_t GetNetListSize(const char* filename) {
  if (!ax_fexists(filename)) errexit("Hypergraph file %s does not exist!\n", filename);

  LineSource src(filename);
  src.fp = ax_fopen(filename, "r", "GetNetListSize: filename");
  const Header h = ReadHeader(src);
  const idx_t skip = HasNetWeights(h.fmt) ? 1 : 0;

  idx_t npins = 0;
  Tokens tokens;
  for (idx_t i = 0; i < h.nnets; i++) {
    CutLine(NextLine(src), &tokens);
    // A weighted line without tokens counts nothing (not minus one), so the
    // count stays an upper bound and the second pass reports the empty line.
    if (tokens.ntoks > skip) npins += tokens.ntoks - skip;
    FreeTokens(&tokens);
  }

  ClosePass(src);
  return npins;
}

HGraph* ReadHGraph(const char* filename) {
  const idx_t npins = GetNetListSize(filename);

  LineSource src(filename);
  src.fp = ax_fopen(filename, "r", "ReadHGraph: filename");
  const Header h = ReadHeader(src);
  const idx_t nnets = h.nnets;
  const idx_t nvtxs = h.nvtxs;
  const idx_t ncon = h.ncon;
  const bool netweights = HasNetWeights(h.fmt);
  const bool cellweights = HasCellWeights(h.fmt);

  if (ncon > 1 && !cellweights) {
    std::printf("------------------------------------------------------------------------------\n");
    std::printf("***  I detected an error in your input file  ***\n\n");
    std::printf("You specified ncon=%ld, but the fmt parameter does not specify vertex weights\n",
                ncon);
    std::printf("Make sure that the fmt parameter is set to either 10 or 11.\n");
    std::printf("------------------------------------------------------------------------------\n");
    ax_exit(0);
  }
  if (ncon < 1 || ncon > kMaxNCon)
    errexit("Hypergraph file %s, line %ld: ncon=%ld is outside the range 1 to %ld.\n",
            filename, src.lineno, ncon, kMaxNCon);
  if (nvtxs > kMaxEntries / ncon)
    errexit("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are "
            "too large.\n",
            filename, src.lineno, nnets, nvtxs);

  ReadArrays arrays;
  idx_t* netptr = arrays.netptr = ax_imalloc(nnets + 1, "main: netptr");
  idx_t* netind = arrays.netind = ax_imalloc(npins, "main: netind");
  real_t* netwgt = arrays.netwgt = netweights ? ax_fmalloc(nnets, "main: netwgt") : nullptr;
  real_t* cellwgt = arrays.cellwgt =
      cellweights ? ax_fmalloc(nvtxs * ncon, "main: cellwgt") : nullptr;

  // The net that last took each cell: a repeated cell of a net is found in
  // constant time, so long nets stay linear.
  idx_t* marker = arrays.marker = ax_ismalloc(nvtxs, -1, "ReadHGraph: marker");

  netptr[0] = 0;
  idx_t k = 0;
  double netsum = 0.0;  // net weights times their pin counts, so far
  Tokens tokens;
  for (idx_t i = 1; i <= nnets; i++) {
    CutLine(NextLine(src), &tokens);
    int first = 0;
    if (netweights) {
      if (tokens.ntoks == 0) errexit("The line for net %ld is empty.\n", i);
      real_t w;
      if (!ScanFloat(tokens.list[0], &w)) errexit("Failed to read the weight for net %ld\n", i);
      if (!std::isfinite(w))
        errexit("Hypergraph file %s, line %ld: the weight of net %ld is not a finite number.\n",
                filename, src.lineno, i);
      if (w < 0.0f)
        errexit("Hypergraph file %s, line %ld: the weight of net %ld is negative (%g).\n",
                filename, src.lineno, i, static_cast<double>(w));
      netwgt[i - 1] = w;
      first = 1;
    }
    if (first >= tokens.ntoks) errexit("Empty Hyperedge # %ld\n", i);

    for (int t = first; t < tokens.ntoks; t++) {
      idx_t cell;
      if (!ScanLong(tokens.list[t], &cell))
        errexit("Failed to read the %ldth cell for net %ld\n", static_cast<idx_t>(t), i);
      if (cell < 1 || cell > nvtxs)
        errexit("Cell number: %ld read for net %ld is wrong.\n", cell, i);
      cell--;
      if (marker[cell] == i) continue;  // repeated within this net
      marker[cell] = i;
      if (k >= npins) errexit("Critical I/O error. Internal failure. Please report it as bug\n");
      netind[k++] = cell;
    }
    netptr[i] = k;
    if (netweights) {
      netsum += static_cast<double>(netwgt[i - 1]) * static_cast<double>(k - netptr[i - 1]);
      if (netsum > kMaxWeightSum)
        errexit("Hypergraph file %s, line %ld: the net weights are too large: up to net %ld, "
                "the weights times the pin counts add up to more than %g.\n",
                filename, src.lineno, i, kMaxWeightSum);
    }
    FreeTokens(&tokens);
  }
  ax_free(&arrays.marker);

  if (cellweights) {
    // Per weight index, the sum of the positive weights so far (the rest
    // count as the smallest positive weight once set up).
    double cellsum[kMaxNCon] = {};
    for (idx_t c = 1; c <= nvtxs; c++) {
      char* line = NextLine(src);
      CutLine(line, &tokens);
      if (tokens.ntoks < ncon)
        errexit("Not sufficient number of weights are provided for cell %ld <input line: %s>, "
                "%d\n",
                c, line, tokens.ntoks);
      real_t* w = cellwgt + (c - 1) * ncon;
      for (idx_t j = 0; j < ncon; j++) {
        if (!ScanFloat(tokens.list[j], &w[j]))
          errexit("Failed to read the %ldth weight for cell %ld\n", j, c);
        if (!std::isfinite(w[j]))
          errexit("Hypergraph file %s, line %ld: weight %ld of cell %ld is not a finite "
                  "number.\n",
                  filename, src.lineno, j, c);
        if (w[j] > 0.0f) cellsum[j] += static_cast<double>(w[j]);
        if (cellsum[j] > kMaxWeightSum)
          errexit("Hypergraph file %s, line %ld: the cell weights are too large: up to cell "
                  "%ld, weight %ld of the cells adds up to more than %g.\n",
                  filename, src.lineno, c, j, kMaxWeightSum);
      }
      FreeTokens(&tokens);
    }
  }

  ClosePass(src);

  HGraph* graph = CreateHGraph();
  graph->nvtxs = nvtxs;
  graph->nnets = nnets;
  graph->ncon = ncon;
  graph->netptr = netptr;
  graph->netind = netind;
  graph->netwgt = netwgt;
  graph->cellwgt = cellwgt;
  arrays.netptr = arrays.netind = nullptr;
  arrays.netwgt = arrays.cellwgt = nullptr;
  return graph;
}

}  // namespace veldan
