// The hypergraph file reader: a first pass counts the pins so that the pin
// array is allocated once, a second pass fills the arrays.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <strings.h>
#include <sys/stat.h>

#include "io/internal.h"
#include "support/format.h"
#include "support/io.h"
#include "support/memory.h"

namespace veldan {
namespace {

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
  Array<idx_t> netptr;
  Array<idx_t> netind;
  Array<real_t> netwgt;
  Array<real_t> cellwgt;
  Array<idx_t> marker;
};

// Ends the read with the message, followed by the file and the line it
// concerns.
[[noreturn]] __attribute__((format(printf, 2, 3))) void Fail(const LineSource& src,
                                                              const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string message = FormatV(fmt, args);
  va_end(args);
  if (!message.empty() && message.back() != '\n') message += '\n';
  Refuse("%sHypergraph file %s, line %ld.\n", message.c_str(), src.filename, src.lineno);
}


// Reads the next line that is not a comment, without the carriage return
// of a line end; a byte-order mark that opens the file is dropped. The end
// of the file and a blank line (nothing before its line end) both end the
// input early; for a blank line the message says what was expected there,
// `what` with num.
char* NextLine(LineSource& src, const char* what, idx_t num = 0) {
  for (;;) {
    idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
    const bool ended = len < 0 || (len == 0 && std::feof(src.fp));
    src.lineno++;
    if (src.lineno == 1 && len >= 3 && std::strncmp(src.line, "\xEF\xBB\xBF", 3) == 0) {
      std::memmove(src.line, src.line + 3, std::strlen(src.line + 3) + 1);
      len -= 3;
    }
    if (len > 0 && src.line[len - 1] == '\r') src.line[--len] = '\0';
    if (ended) Fail(src, "Premature end of input file: file: %s\n", src.filename);
    if (len < 1) {
      char expected[96];
      std::snprintf(expected, sizeof expected, what, num);
      Refuse("Premature end of input file: file: %s\nHypergraph file %s, line %ld is blank "
              "where %s was expected.\n",
              src.filename, src.filename, src.lineno, expected);
    }
    if (src.line[0] != '%') return src.line;
  }
}

// After the last expected line: only blank lines, blanks and comments.
void CheckNothingFollows(LineSource& src, const char* last) {
  for (;;) {
    const idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
    if (len < 0 || (len == 0 && std::feof(src.fp))) return;
    src.lineno++;
    if (src.line[0] == '%') continue;
    ax_strtrim_right(src.line, " \n\t\r");
    const char* p = src.line;
    while (*p == ' ' || *p == '\t') p++;
    if (*p == '\0') continue;
    Refuse("Hypergraph file %s, line %ld: the file goes on after %s, the last line the header "
            "announces (\"%s\").\n",
            src.filename, src.lineno, last, Shown(p).c_str());
  }
}

// The name must be that of an existing file, not of a folder.
void CheckInputFile(const char* filename) {
  struct stat st;
  if (stat(filename, &st) == 0 && S_ISDIR(st.st_mode))
    Refuse("Hypergraph file %s is a folder, not a file.\n", filename);
  if (!ax_fexists(filename)) Refuse("Hypergraph file %s does not exist!\n", filename);
}

// Strips the line of leading and trailing blanks, tabs, line feeds and
// carriage returns, and cuts it into tokens at runs of blanks and tabs.
void CutLine(char* line, TokenList* tokens) {
  ax_strtrim_right(line, " \n\t\r");
  ax_strtrim_left(line, " \n\t\r");
  strtokenize(line, " \t\r", tokens);
}

// Reads a whole token as a decimal integer (an optional sign and digits,
// nothing after them); false otherwise. Out-of-range values saturate at
// the ends of the 64-bit range.
bool ScanLong(const char* text, idx_t* value) {
  char* stop = nullptr;
  errno = 0;
  const long v = std::strtol(text, &stop, 10);
  if (stop == text || *stop != '\0') return false;
  *value = v;
  return true;
}

// Reads a whole token as a decimal floating-point number; false otherwise.
bool ScanFloat(const char* text, real_t* value) {
  char* stop = nullptr;
  const float v = std::strtof(text, &stop);
  if (stop == text || *stop != '\0') return false;
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
  Tokens tokens;
  CutLine(NextLine(src, "the header"), &tokens);
  idx_t values[4];
  const int nread = tokens.ntoks < 4 ? tokens.ntoks : 4;
  for (int t = 0; t < nread; t++)
    if (!ScanLong(tokens.list[t], &values[t]))
      Refuse("Hypergraph file %s, line %ld: the header holds \"%s\" where an integer is "
              "expected.\n",
              src.filename, src.lineno, Shown(tokens.list[t]).c_str());
  if (tokens.ntoks > 4)
    Refuse("Hypergraph file %s, line %ld: the header holds %d fields; it holds 2 to 4: the "
            "number of nets, the number of cells, fmt and ncon.\n",
            src.filename, src.lineno, tokens.ntoks);

  if (nread < 2)
    Refuse("Hypergraph file %s, line %ld: the header must give the number of nets and "
            "the number of cells.\n",
            src.filename, src.lineno);
  Header h;
  h.nnets = values[0];
  h.nvtxs = values[1];
  if (nread > 2) h.fmt = values[2];
  if (nread > 3) h.ncon = values[3];

  if (h.nnets < 0)
    Refuse("Hypergraph file %s, line %ld: the number of nets (%ld) is negative.\n",
            src.filename, src.lineno, h.nnets);
  if (h.nvtxs < 2) Fail(src, "Cannot partition graph with %ld cells\n", h.nvtxs);
  if (h.fmt != 0 && h.fmt != 1 && h.fmt != 10 && h.fmt != 11)
    Fail(src,
         "Cannot read this type of file format!\nThe format code is %ld; it is 0 (no weights), "
         "1 (net weights), 10 (cell weights) or 11 (both).\n",
         h.fmt);
  if (h.nnets >= kMaxEntries || h.nvtxs >= kMaxEntries)
    Refuse("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are "
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
      Fail(src, "Premature end of input file: file: %s\n", src.filename);
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
  Tokens banner;
  idx_t len = ax_getline(&src.line, &src.capacity, src.fp);
  src.lineno++;
  if (len < 0) len = 0;
  CutLine(src.line, &banner);
  auto word = [&](int t) { return t < banner.ntoks ? banner.list[t] : ""; };
  if (banner.ntoks < 5 || strcasecmp(word(1), "matrix") != 0)
    MatrixFail(src, "the banner must read \"%%%%MatrixMarket matrix coordinate <field> "
                    "<symmetry>\".");
  if (strcasecmp(word(2), "coordinate") != 0)
    MatrixFail(src, "only sparse (coordinate) matrices can be read, not \"%s\".", word(2));
  MatrixShape m;
  const char* field = word(3);
  if (strcasecmp(field, "pattern") == 0)
    m.nvalues = 0;
  else if (strcasecmp(field, "real") == 0 || strcasecmp(field, "integer") == 0 ||
           strcasecmp(field, "double") == 0)
    m.nvalues = 1;
  else if (strcasecmp(field, "complex") == 0)
    m.nvalues = 2;
  else
    MatrixFail(src, "the field \"%s\" is not one of pattern, real, integer, complex.", field);
  const char* symmetry = word(4);
  if (strcasecmp(symmetry, "general") == 0)
    m.mirrored = false;
  else if (strcasecmp(symmetry, "symmetric") == 0 || strcasecmp(symmetry, "skew-symmetric") == 0 ||
           strcasecmp(symmetry, "hermitian") == 0)
    m.mirrored = true;
  else
    MatrixFail(src, "the symmetry \"%s\" is not one of general, symmetric, skew-symmetric, "
                    "hermitian.",
               symmetry);

  Tokens size;
  CutLine(NextEntryLine(src), &size);
  idx_t v[3];
  if (size.ntoks != 3 || !ScanLong(size.list[0], &v[0]) || !ScanLong(size.list[1], &v[1]) ||
      !ScanLong(size.list[2], &v[2]))
    MatrixFail(src, "the size line must hold three integers: rows, columns, entries.");
  m.nrows = v[0];
  m.ncols = v[1];
  m.nentries = v[2];
  if (m.nrows < 0 || m.ncols < 0 || m.nentries < 0)
    MatrixFail(src, "the size line holds a negative count.");
  if (m.ncols < 2) Fail(src, "Cannot partition graph with %ld cells\n", m.ncols);
  if (m.nrows >= kMaxEntries || m.ncols >= kMaxEntries || m.nentries >= kMaxEntries / 2)
    MatrixFail(src, "the counts (%ld rows, %ld columns, %ld entries) are too large.", m.nrows,
               m.ncols, m.nentries);
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
  Tokens tokens;
  for (idx_t e = 0; e < m.nentries; e++) {
    CutLine(NextEntryLine(src), &tokens);
    idx_t row = 0, col = 0;
    if (tokens.ntoks != 2 + m.nvalues)
      MatrixFail(src, "entry %ld must hold %d numbers, not %d.", e + 1, 2 + m.nvalues,
                 tokens.ntoks);
    if (!ScanLong(tokens.list[0], &row) || !ScanLong(tokens.list[1], &col))
      MatrixFail(src, "entry %ld: \"%s %s\" are not two integer indices.", e + 1,
                 tokens.list[0], tokens.list[1]);
    for (int t = 2; t < tokens.ntoks; t++) {
      real_t value;
      if (!ScanFloat(tokens.list[t], &value))
        MatrixFail(src, "entry %ld: \"%s\" is not a number.", e + 1, tokens.list[t]);
    }
    if (row < 1 || row > m.nrows || col < 1 || col > m.ncols)
      MatrixFail(src, "entry (%ld, %ld) lies outside the %ld x %ld matrix.", row, col, m.nrows,
                 m.ncols);
    visit(row - 1, col - 1);
    if (m.mirrored && row != col) visit(col - 1, row - 1);
    FreeTokens(&tokens);
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
  arrays.netind = Array<idx_t>(npins, "main: netind");
  idx_t* netptr = arrays.netptr.data();
  idx_t* netind = arrays.netind.data();
  netptr[0] = 0;
  idx_t e = 0, k = 0;
  for (idx_t i = 0; i < entries.size; i++) {
    const Entry& x = entries.list[i];
    if (i > 0 && x.row == entries.list[i - 1].row && x.col == entries.list[i - 1].col) continue;
    if (i > 0 && x.row != entries.list[i - 1].row) netptr[++e] = k;
    netind[k++] = x.col;
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
  const Header h = ReadHeader(src);
  const idx_t skip = HasNetWeights(h.fmt) ? 1 : 0;

  idx_t npins = 0;
  Tokens tokens;
  for (idx_t i = 0; i < h.nnets; i++) {
    CutLine(NextLine(src, "net %ld", i + 1), &tokens);
    // A weighted line without tokens counts nothing (not minus one), so the
    // count stays an upper bound and the second pass reports the empty line.
    if (tokens.ntoks > skip) npins += tokens.ntoks - skip;
    FreeTokens(&tokens);
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
  const Header h = ReadHeader(src);
  const idx_t nnets = h.nnets;
  const idx_t nvtxs = h.nvtxs;
  const idx_t ncon = h.ncon;
  const bool netweights = HasNetWeights(h.fmt);
  const bool cellweights = HasCellWeights(h.fmt);

  if (ncon > 1 && !cellweights)
    Refuse("------------------------------------------------------------------------------\n"
            "***  I detected an error in your input file  ***\n\n"
            "You specified ncon=%ld, but the fmt parameter does not specify vertex weights\n"
            "Make sure that the fmt parameter is set to either 10 or 11.\n"
            "------------------------------------------------------------------------------\n"
            "Hypergraph file %s, line %ld.\n",
            ncon, filename, src.lineno);
  if (ncon < 1 || ncon > kMaxNCon)
    Refuse("Hypergraph file %s, line %ld: ncon=%ld is outside the range 1 to %ld.\n",
            filename, src.lineno, ncon, kMaxNCon);
  if (nvtxs > kMaxEntries / ncon)
    Refuse("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are "
            "too large.\n",
            filename, src.lineno, nnets, nvtxs);

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

  ReadArrays arrays;
  arrays.netptr = Array<idx_t>(nnets + 1, "main: netptr");
  arrays.netind = Array<idx_t>(npins, "main: netind");
  if (netweights) arrays.netwgt = Array<real_t>(nnets, "main: netwgt");
  if (cellweights) arrays.cellwgt = Array<real_t>(nvtxs * ncon, "main: cellwgt");
  idx_t* netptr = arrays.netptr.data();
  idx_t* netind = arrays.netind.data();
  real_t* netwgt = arrays.netwgt.data();
  real_t* cellwgt = arrays.cellwgt.data();

  // The net that last took each cell: a repeated cell of a net is found in
  // constant time, so long nets stay linear.
  arrays.marker = Array<idx_t>(nvtxs, -1, "ReadHGraph: marker");
  idx_t* marker = arrays.marker.data();

  netptr[0] = 0;
  idx_t k = 0;
  double netsum = 0.0;  // net weights times their pin counts, so far
  Tokens tokens;
  for (idx_t i = 1; i <= nnets; i++) {
    CutLine(NextLine(src, "net %ld", i), &tokens);
    int first = 0;
    if (netweights) {
      if (tokens.ntoks == 0) Fail(src, "The line for net %ld is empty.\n", i);
      real_t w;
      if (!ScanFloat(tokens.list[0], &w)) Fail(src, "Failed to read the weight for net %ld\n", i);
      if (!std::isfinite(w))
        Refuse("Hypergraph file %s, line %ld: the weight of net %ld is not a finite number.\n",
                filename, src.lineno, i);
      if (w < 0.0f)
        Refuse("Hypergraph file %s, line %ld: the weight of net %ld is negative (%g).\n",
                filename, src.lineno, i, static_cast<double>(w));
      netwgt[i - 1] = w;
      first = 1;
    }
    if (first >= tokens.ntoks) Fail(src, "Empty Hyperedge # %ld\n", i);

    for (int t = first; t < tokens.ntoks; t++) {
      idx_t cell;
      if (!ScanLong(tokens.list[t], &cell))
        Fail(src, "Failed to read the %ldth cell for net %ld\n", static_cast<idx_t>(t), i);
      if (cell < 1 || cell > nvtxs)
        Fail(src, "Cell number: %ld read for net %ld is wrong.\n", cell, i);
      cell--;
      if (marker[cell] == i) continue;  // repeated within this net
      marker[cell] = i;
      if (k >= npins) Refuse("Critical I/O error. Internal failure. Please report it as bug\n");
      netind[k++] = cell;
    }
    netptr[i] = k;
    if (netweights) {
      netsum += static_cast<double>(netwgt[i - 1]) * static_cast<double>(k - netptr[i - 1]);
      if (netsum > kMaxWeightSum)
        Refuse("Hypergraph file %s, line %ld: the net weights are too large: up to net %ld, "
                "the weights times the pin counts add up to more than %g.\n",
                filename, src.lineno, i, kMaxWeightSum);
    }
    FreeTokens(&tokens);
  }
  arrays.marker.reset();

  if (cellweights) {
    // Per weight index, the sum of the positive weights so far (the rest
    // count as the smallest positive weight once set up).
    double cellsum[kMaxNCon] = {};
    for (idx_t c = 1; c <= nvtxs; c++) {
      char* line = NextLine(src, "the weight line of cell %ld", c);
      CutLine(line, &tokens);
      if (tokens.ntoks < ncon)
        Fail(src,
             "Not sufficient number of weights are provided for cell %ld <input line: %s>, "
             "%d\n",
                c, line, tokens.ntoks);
      real_t* w = cellwgt + (c - 1) * ncon;
      for (idx_t j = 0; j < ncon; j++) {
        if (!ScanFloat(tokens.list[j], &w[j]))
          Fail(src, "Failed to read the %ldth weight for cell %ld\n", j, c);
        if (!std::isfinite(w[j]))
          Refuse("Hypergraph file %s, line %ld: weight %ld of cell %ld is not a finite "
                  "number.\n",
                  filename, src.lineno, j, c);
        if (w[j] < 0.0f)
          Refuse("Hypergraph file %s, line %ld: weight %ld of cell %ld is negative (%g).\n",
                  filename, src.lineno, j, c, static_cast<double>(w[j]));
        if (w[j] > 0.0f) cellsum[j] += static_cast<double>(w[j]);
        if (cellsum[j] > kMaxWeightSum)
          Refuse("Hypergraph file %s, line %ld: the cell weights are too large: up to cell "
                  "%ld, weight %ld of the cells adds up to more than %g.\n",
                  filename, src.lineno, c, j, kMaxWeightSum);
      }
      FreeTokens(&tokens);
    }
  }

  char last[64];
  if (cellweights)
    std::snprintf(last, sizeof last, "the weight line of cell %ld", nvtxs);
  else if (nnets > 0)
    std::snprintf(last, sizeof last, "net %ld", nnets);
  else
    std::snprintf(last, sizeof last, "the header");
  CheckNothingFollows(src, last);
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
