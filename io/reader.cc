// The hypergraph file reader: a first pass counts the pins so that the pin
// array is allocated once, a second pass fills the arrays.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <strings.h>

#include "hgraph/config.h"
#include "io/internal.h"
#include "io/lines.h"
#include "support/format.h"
#include "support/io.h"
#include "support/memory.h"

namespace veldan {
namespace {

// One pass over the file: the stream, the line buffer kept for the whole
// pass, and the number of the line last read (for messages). The first
// error ends the read by an exception; what a pass holds is released as it
// passes.
struct LineSource {
  const char* filename;
  std::FILE* fp = nullptr;
  char* line = nullptr;
  std::size_t capacity = 0;
  idx_t lineno = 0;

  explicit LineSource(const char* name) : filename(name) {}
  LineAt at() const { return {filename, lineno}; }
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;
  ~LineSource() {
    ax_free(&line);
    ax_fclose(fp);
  }
};

// The arrays being filled; they pass to the hypergraph once complete.
struct ReadArrays {
  Array<idx_t> netptr;
  Array<pin_t> netind;
  Array<real_t> netwgt;
  Array<real_t> cellwgt;
  Array<idx_t> marker;
};

// Reads the next line that is not a comment and gives its content (see
// ClassifyLine). The end of the file and a blank line (nothing before its
// line end) both end the input early; for a blank line the message says
// what was expected there, `what` with num.
std::string_view NextLine(LineSource& src, const char* what, idx_t num = 0) {
  for (;;) {
    const idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
    const bool ended = len < 0 || (len == 0 && std::feof(src.fp));
    src.lineno++;
    if (ended) throw EarlyEnd(src.at());
    std::string_view content;
    switch (ClassifyLine(std::string_view(src.line, static_cast<std::size_t>(len)),
                         src.lineno == 1, &content)) {
      case LineKind::kBlank: {
        char expected[96];
        std::snprintf(expected, sizeof expected, what, num);
        throw BlankLine(src.at(), expected);
      }
      case LineKind::kComment:
        continue;
      case LineKind::kData:
        return content;
    }
  }
}

// After the last expected line: only blank lines, blanks and comments.
void CheckNothingFollows(LineSource& src, const std::string& last) {
  for (;;) {
    const idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
    if (len < 0 || (len == 0 && std::feof(src.fp))) return;
    src.lineno++;
    CheckAfterLast(std::string_view(src.line, static_cast<std::size_t>(len)), src.at(), last);
  }
}

// Reads the header from the first line that is not a comment. The checks
// that both passes share are made here.
HgrHeader ReadHeader(LineSource& src) {
  const std::string_view line = NextLine(src, "the header");
  return ScanHeader(line, src.at());
}

void ClosePass(LineSource& src) {
  ax_free(&src.line);
  ax_fclose(src.fp);
  src.fp = nullptr;
}

// ---- Matrix Market -----------------------------------------------------------

// Whether the file's first line starts with the Matrix Market banner.
bool IsMatrixMarket(const char* filename) {
  std::FILE* fp = std::fopen(filename, "r");
  if (fp == nullptr) return false;
  char head[15] = {};
  const std::size_t n = std::fread(head, 1, 14, fp);
  std::fclose(fp);
  return n == 14 && std::strncmp(head, "%%MatrixMarket", 14) == 0;
}

// The next line that holds something: comments and blank lines are skipped.
char* NextEntryLine(LineSource& src) {
  for (;;) {
    const idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
    if (len < 0 || (len == 0 && std::feof(src.fp)))
      throw EarlyEnd(src.at());
    src.lineno++;
    if (src.line[0] == '%') continue;
    if (std::strspn(src.line, " \t\r\n") == std::strlen(src.line)) continue;
    return src.line;
  }
}

[[noreturn]] __attribute__((format(printf, 2, 3))) void MatrixFail(const LineSource& src,
                                                                    const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string message = FormatV(fmt, args);
  va_end(args);
  Refuse("Matrix Market file %s, line %ld: %s\n", src.filename, src.lineno, message.c_str());
}

struct MatrixShape {
  idx_t nrows = 0, ncols = 0, nentries = 0;
  int nvalues = 1;         // numbers after the two indices: 0 pattern, 2 complex
  bool mirrored = false;   // symmetric, skew-symmetric or hermitian
};

// Reads the banner and the size line; src is left before the first entry.
MatrixShape ReadMatrixHeader(LineSource& src) {
  std::vector<std::string_view> banner;
  ax_getline(&src.line, &src.capacity, src.fp);
  src.lineno++;
  SplitFields(src.line != nullptr ? src.line : "", &banner);
  auto word = [&](std::size_t t) { return t < banner.size() ? std::string(banner[t]) : ""; };
  if (banner.size() < 5 || strcasecmp(word(1).c_str(), "matrix") != 0)
    MatrixFail(src, "the banner must read \"%%%%MatrixMarket matrix coordinate <field> "
                    "<symmetry>\".");
  if (strcasecmp(word(2).c_str(), "coordinate") != 0)
    MatrixFail(src, "only sparse (coordinate) matrices can be read, not \"%s\".",
               word(2).c_str());
  MatrixShape m;
  const std::string fieldword = word(3), symmetryword = word(4);
  const char* field = fieldword.c_str();
  if (strcasecmp(field, "pattern") == 0)
    m.nvalues = 0;
  else if (strcasecmp(field, "real") == 0 || strcasecmp(field, "integer") == 0 ||
           strcasecmp(field, "double") == 0)
    m.nvalues = 1;
  else if (strcasecmp(field, "complex") == 0)
    m.nvalues = 2;
  else
    MatrixFail(src, "the field \"%s\" is not one of pattern, real, integer, complex.", field);
  const char* symmetry = symmetryword.c_str();
  if (strcasecmp(symmetry, "general") == 0)
    m.mirrored = false;
  else if (strcasecmp(symmetry, "symmetric") == 0 || strcasecmp(symmetry, "skew-symmetric") == 0 ||
           strcasecmp(symmetry, "hermitian") == 0)
    m.mirrored = true;
  else
    MatrixFail(src, "the symmetry \"%s\" is not one of general, symmetric, skew-symmetric, "
                    "hermitian.",
               symmetry);

  std::vector<std::string_view> size;
  SplitFields(NextEntryLine(src), &size);
  idx_t v[3];
  if (size.size() != 3 || !ScanLong(size[0], &v[0]) || !ScanLong(size[1], &v[1]) ||
      !ScanLong(size[2], &v[2]))
    MatrixFail(src, "the size line must hold three integers: rows, columns, entries.");
  m.nrows = v[0];
  m.ncols = v[1];
  m.nentries = v[2];
  if (m.nrows < 0 || m.ncols < 0 || m.nentries < 0)
    MatrixFail(src, "the size line holds a negative count.");
  if (m.ncols < 2) RefuseAt(src.at(), "Cannot partition graph with %ld cells\n", m.ncols);
  if (m.nrows >= kMaxEntries || m.ncols >= kMaxEntries || m.nentries >= kMaxEntries / 2)
    MatrixFail(src, "the counts (%ld rows, %ld columns, %ld entries) are too large.", m.nrows,
               m.ncols, m.nentries);
  if (!FitsPinLists(m.ncols, m.nrows))
    MatrixFail(src, "the matrix (%ld rows, %ld columns) is too large: at most %ld rows and %ld "
                    "columns can be read.",
               m.nrows, m.ncols, kMaxLevelCount, kMaxLevelCount);
  if (m.mirrored && m.nrows != m.ncols)
    MatrixFail(src, "a %s matrix must be square, not %ld x %ld.", symmetry, m.nrows, m.ncols);
  return m;
}

// Calls visit(row, column) for every entry of the file, counted from 0, and
// for the mirror image of every off-diagonal entry of a mirrored matrix.
// Returns the matrix's shape.
template <class Visit>
MatrixShape ForEachEntry(const char* filename, Visit visit) {
  LineSource src(filename);
  src.fp = OpenInput(filename, "ReadHGraph: filename");
  const MatrixShape m = ReadMatrixHeader(src);
  std::vector<std::string_view> fields;
  for (idx_t e = 0; e < m.nentries; e++) {
    SplitFields(NextEntryLine(src), &fields);
    const int nfields = static_cast<int>(fields.size());
    idx_t row = 0, col = 0;
    if (nfields != 2 + m.nvalues)
      MatrixFail(src, "entry %ld must hold %d numbers, not %d.", e + 1, 2 + m.nvalues, nfields);
    if (!ScanLong(fields[0], &row) || !ScanLong(fields[1], &col))
      MatrixFail(src, "entry %ld: \"%s %s\" are not two integer indices.", e + 1,
                 std::string(fields[0]).c_str(), std::string(fields[1]).c_str());
    for (int t = 2; t < nfields; t++) {
      real_t value;
      if (!ScanFloat(fields[t], &value))
        MatrixFail(src, "entry %ld: \"%s\" is not a number.", e + 1,
                   std::string(fields[t]).c_str());
    }
    if (row < 1 || row > m.nrows || col < 1 || col > m.ncols)
      MatrixFail(src, "entry (%ld, %ld) lies outside the %ld x %ld matrix.", row, col, m.nrows,
                 m.ncols);
    visit(row - 1, col - 1);
    if (m.mirrored && row != col) visit(col - 1, row - 1);
  }
  return m;
}

// One entry of a matrix: row and column.
struct Entry {
  idx_t row, col;
  bool operator<(const Entry& o) const { return row != o.row ? row < o.row : col < o.col; }
};

// The entries read so far, grown by doubling; released when left.
struct EntryList {
  Entry* list = nullptr;
  idx_t size = 0, capacity = 0;
  EntryList() = default;
  EntryList(const EntryList&) = delete;
  EntryList& operator=(const EntryList&) = delete;
  ~EntryList() { ax_free(&list); }
  void Add(idx_t row, idx_t col) {
    if (size == capacity) {
      capacity = capacity ? 2 * capacity : 1024;
      list = static_cast<Entry*>(
          ax_realloc(list, static_cast<std::size_t>(capacity) * sizeof(Entry), "ReadHGraph: entries"));
    }
    list[size++] = {row, col};
  }
};

// A sparse matrix in the row-net model: every row that holds an entry is a
// net over the columns of its entries (in increasing order); the columns
// are the cells. Values are not used; repeated entries count once. Memory
// follows the entries in the file, not the declared number of rows.
HGraphPtr ReadMatrixMarket(const char* filename) {
  EntryList entries;
  const MatrixShape m =
      ForEachEntry(filename, [&](idx_t row, idx_t col) { entries.Add(row, col); });
  std::sort(entries.list, entries.list + entries.size);

  ReadArrays arrays;
  idx_t nnets = 0, npins = 0;
  for (idx_t i = 0; i < entries.size; i++) {
    if (i > 0 && entries.list[i].row == entries.list[i - 1].row &&
        entries.list[i].col == entries.list[i - 1].col)
      continue;
    if (i == 0 || entries.list[i].row != entries.list[i - 1].row) nnets++;
    npins++;
  }
  arrays.netptr = Array<idx_t>(nnets + 1, "main: netptr");
  arrays.netind = Array<pin_t>(npins, "main: netind");
  idx_t* netptr = arrays.netptr.data();
  pin_t* netind = arrays.netind.data();
  netptr[0] = 0;
  idx_t e = 0, k = 0;
  for (idx_t i = 0; i < entries.size; i++) {
    const Entry& x = entries.list[i];
    if (i > 0 && x.row == entries.list[i - 1].row && x.col == entries.list[i - 1].col) continue;
    if (i > 0 && x.row != entries.list[i - 1].row) netptr[++e] = k;
    netind[k++] = static_cast<pin_t>(x.col);
  }
  if (nnets > 0) netptr[nnets] = k;

  HGraphPtr graph = CreateHGraph();
  graph->nvtxs = m.ncols;
  graph->nnets = nnets;
  graph->ncon = 1;
  graph->netptr = std::move(arrays.netptr);
  graph->netind = std::move(arrays.netind);
  return graph;
}

}  // namespace

idx_t GetNetListSize(const char* filename) {
  CheckInputFile(filename);

  LineSource src(filename);
  src.fp = OpenInput(filename, "GetNetListSize: filename");
  const HgrHeader h = ReadHeader(src);
  const idx_t skip = h.netweights() ? 1 : 0;

  idx_t npins = 0;
  std::vector<std::string_view> fields;
  for (idx_t i = 0; i < h.nnets; i++) {
    SplitFields(NextLine(src, "net %ld", i + 1), &fields);
    // A weighted line without fields counts nothing (not minus one), so the
    // count stays an upper bound and the second pass reports the empty line.
    const idx_t nfields = static_cast<idx_t>(fields.size());
    if (nfields > skip) npins += nfields - skip;
  }

  ClosePass(src);
  return npins;
}

HGraphPtr ReadHGraph(const char* filename) {
  CheckInputFile(filename);
  if (IsMatrixMarket(filename)) return ReadMatrixMarket(filename);
  const idx_t npins = GetNetListSize(filename);

  LineSource src(filename);
  src.fp = OpenInput(filename, "ReadHGraph: filename");
  const HgrHeader h = ReadHeader(src);
  const idx_t nnets = h.nnets;
  const idx_t nvtxs = h.nvtxs;
  const idx_t ncon = h.ncon;
  const bool netweights = h.netweights();
  const bool cellweights = h.cellweights();
  CheckHeaderCounts(h, src.at());

  // Counts that claim more memory than there is are said to be the reason
  // before the failing allocation prints its figures.
  const double need = 8.0 * static_cast<double>(nnets + 1) + 8.0 * static_cast<double>(npins) +
                      4.0 * static_cast<double>(nnets) +
                      static_cast<double>(nvtxs) * (4.0 * static_cast<double>(ncon) + 16.0);
  if (need < 9e18) {
    const auto bytes = static_cast<std::size_t>(need);
    if (void* probe = std::malloc(bytes)) {
      std::free(probe);
    } else {
      char reason[512];
      std::snprintf(reason, sizeof reason,
                    "Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) need "
                    "%.0f bytes, more memory than there is.\n",
                    filename, src.lineno, nnets, nvtxs, need);
      throw InputError(kExitOutOfMemory,
                       reason + OutOfMemoryText("allocation", "ReadHGraph: arrays", bytes));
    }
  }

  // The levels keep cell and net numbers in pin_t (see FitsPinLists).
  if (!FitsPinLists(nvtxs, nnets))
    Refuse("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are too "
           "large: a hypergraph holds at most %ld nets and %ld cells.\n",
           filename, src.lineno, nnets, nvtxs, kMaxLevelCount, kMaxLevelCount);

  ReadArrays arrays;
  arrays.netptr = Array<idx_t>(nnets + 1, "main: netptr");
  arrays.netind = Array<pin_t>(npins, "main: netind");
  if (netweights) arrays.netwgt = Array<real_t>(nnets, "main: netwgt");
  if (cellweights) arrays.cellwgt = Array<real_t>(nvtxs * ncon, "main: cellwgt");
  idx_t* netptr = arrays.netptr.data();
  pin_t* netind = arrays.netind.data();
  real_t* netwgt = arrays.netwgt.data();
  real_t* cellwgt = arrays.cellwgt.data();

  // The net that last took each cell: a repeated cell of a net is found in
  // constant time, so long nets stay linear.
  arrays.marker = Array<idx_t>(nvtxs, -1, "ReadHGraph: marker");
  idx_t* marker = arrays.marker.data();

  netptr[0] = 0;
  idx_t k = 0;
  double netsum = 0.0;  // net weights times their pin counts, so far
  std::vector<std::string_view> fields;
  std::vector<idx_t> cells;
  for (idx_t i = 1; i <= nnets; i++) {
    SplitFields(NextLine(src, "net %ld", i), &fields);
    const real_t w = ScanNetLine(fields, h, i, src.at(), &cells);
    if (netweights) netwgt[i - 1] = w;
    for (const idx_t cell : cells) {
      if (marker[cell] == i) continue;  // repeated within this net
      marker[cell] = i;
      if (k >= npins) Refuse("Critical I/O error. Internal failure. Please report it as bug\n");
      netind[k++] = static_cast<pin_t>(cell);
    }
    netptr[i] = k;
    if (netweights) AddNetWeight(w, k - netptr[i - 1], i, src.at(), &netsum);
  }
  arrays.marker.reset();

  if (cellweights) {
    // Per weight index, the sum of the positive weights so far (the rest
    // count as the smallest positive weight once set up).
    double cellsum[kMaxNCon] = {};
    for (idx_t c = 1; c <= nvtxs; c++) {
      const std::string_view line =
          SplitFields(NextLine(src, "the weight line of cell %ld", c), &fields);
      ScanCellWeights(fields, line, h, c, src.at(), cellsum, cellwgt + (c - 1) * ncon);
    }
  }

  CheckNothingFollows(src, LastLineName(h));
  ClosePass(src);

  HGraphPtr graph = CreateHGraph();
  graph->nvtxs = nvtxs;
  graph->nnets = nnets;
  graph->ncon = ncon;
  graph->netptr = std::move(arrays.netptr);
  graph->netind = std::move(arrays.netind);
  graph->netwgt = std::move(arrays.netwgt);
  graph->cellwgt = std::move(arrays.cellwgt);
  return graph;
}

}  // namespace veldan
