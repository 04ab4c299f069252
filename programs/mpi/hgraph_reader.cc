// The parallel .hgr reader. Rank 0 reads the header and broadcasts it. The
// rest of the file is cut into one byte range per rank; a rank owns the
// lines that start in its range (it resynchronises at the first line start
// at or after the range's beginning) and reads them in two passes:
//
//   1. count the lines, the data lines (not comments) and find the first
//      blank line; prefix sums over the ranks then give every owned line its
//      file line number and its index among the data lines, which tells net
//      lines from cell-weight lines;
//   2. parse the owned net and cell-weight lines.
//
// The messages, and which of several faults is reported, follow the
// single-process reader (io/reader.cc): it first reads the header,
// then counts the pins of every net line (finding a premature end of the
// net section before anything else), then checks the header counts against
// the weight format, and then reads the nets and the cell weights in file
// order. Every rank keeps its first fault with its line number; the
// smallest line number over the ranks is the fault reported, by the rank
// that found it.
#include "programs/mpi/hgraph_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace veldan::mpi {
namespace {

// The same limits as the single-process reader.
constexpr i64 kMaxNCon = 20;
constexpr i64 kMaxEntries = static_cast<i64>(PTRDIFF_MAX / sizeof(i64));
constexpr double kMaxWeightSum = FLT_MAX / 4.0;
// Zoltan's ids are 32-bit here.
constexpr i64 kMaxZoltanIds = static_cast<i64>(std::numeric_limits<std::uint32_t>::max());

// Reads a file line by line from any byte offset through a large buffer;
// a line longer than the buffer is gathered in a string of its own.
class LineScanner {
 public:
  LineScanner(int fd, i64 filesize) : fd_(fd), size_(filesize), buf_(kChunk) {}

  void Seek(i64 pos) { pos_ = pos; }
  i64 pos() const { return pos_; }

  // The next line without its line feed; false at the end of the file.
  bool Next(std::string_view* line) {
    if (pos_ >= size_) return false;
    for (int attempt = 0; attempt < 2; attempt++) {
      if (pos_ < bufstart_ || pos_ >= bufstart_ + buflen_) Fill(pos_);
      const char* from = buf_.data() + (pos_ - bufstart_);
      const std::size_t avail = static_cast<std::size_t>(bufstart_ + buflen_ - pos_);
      const void* nl = std::memchr(from, '\n', avail);
      if (nl != nullptr) {
        const std::size_t len = static_cast<const char*>(nl) - from;
        *line = std::string_view(from, len);
        pos_ += static_cast<i64>(len) + 1;
        return true;
      }
      if (bufstart_ + buflen_ >= size_) {  // the last line, without a line feed
        *line = std::string_view(from, avail);
        pos_ = size_;
        return true;
      }
      if (pos_ == bufstart_) break;  // longer than the buffer
      Fill(pos_);                    // start the buffer at the line and look again
    }
    // A line longer than the buffer.
    long_.clear();
    for (;;) {
      if (pos_ < bufstart_ || pos_ >= bufstart_ + buflen_) Fill(pos_);
      const char* from = buf_.data() + (pos_ - bufstart_);
      const std::size_t avail = static_cast<std::size_t>(bufstart_ + buflen_ - pos_);
      const void* nl = std::memchr(from, '\n', avail);
      if (nl != nullptr) {
        const std::size_t len = static_cast<const char*>(nl) - from;
        long_.append(from, len);
        pos_ += static_cast<i64>(len) + 1;
        break;
      }
      long_.append(from, avail);
      pos_ += static_cast<i64>(avail);
      if (pos_ >= size_) break;
    }
    *line = long_;
    return true;
  }

 private:
  static constexpr std::size_t kChunk = std::size_t{4} << 20;

  void Fill(i64 at) {
    bufstart_ = at;
    buflen_ = 0;
    const i64 want = std::min<i64>(static_cast<i64>(buf_.size()), size_ - at);
    while (buflen_ < want) {
      const ssize_t n = pread(fd_, buf_.data() + buflen_, static_cast<std::size_t>(want - buflen_),
                              at + buflen_);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        std::fprintf(stderr, "veldan-mpi: reading the hypergraph file failed: %s\n",
                     n < 0 ? std::strerror(errno) : "it is shorter than its size");
        MPI_Abort(MPI_COMM_WORLD, kStatusInput);
      }
      buflen_ += n;
    }
  }

  int fd_;
  i64 size_;
  std::vector<char> buf_;
  i64 bufstart_ = 0, buflen_ = 0;
  i64 pos_ = 0;
  std::string long_;
};

enum class LineKind { kBlank, kComment, kData };

// As the single-process reader sees a line: one carriage return before the
// line end is dropped; a line left empty ends the input early; a line
// starting with '%' is a comment.
LineKind Classify(std::string_view raw, std::string_view* content) {
  std::size_t len = raw.size();
  if (len > 0 && raw[len - 1] == '\r') len--;
  if (len < 1) return LineKind::kBlank;
  if (raw[0] == '%') return LineKind::kComment;
  *content = raw.substr(0, len);
  return LineKind::kData;
}

bool IsTrimmed(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
bool IsDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The line as a C string (up to a null byte) stripped of leading and
// trailing blanks, tabs, line feeds and carriage returns.
std::string_view Trim(std::string_view s) {
  const std::size_t nul = s.find('\0');
  if (nul != std::string_view::npos) s = s.substr(0, nul);
  std::size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) b++;
  while (e > b && IsTrimmed(s[e - 1])) e--;
  return s.substr(b, e - b);
}

// The tokens of a trimmed line, cut at runs of blanks, tabs and carriage
// returns.
void Tokenize(std::string_view s, std::vector<std::string_view>* tokens) {
  tokens->clear();
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && IsDelimiter(s[i])) i++;
    if (i >= s.size()) break;
    const std::size_t start = i;
    while (i < s.size() && !IsDelimiter(s[i])) i++;
    tokens->push_back(s.substr(start, i - start));
  }
}

// A whole token as a decimal integer (what strtol reads, nothing after it).
bool ScanLong(std::string_view token, i64* value) {
  if (!token.empty() && token.size() <= 18) {
    i64 v = 0;
    bool digits = true;
    for (const char c : token) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      v = v * 10 + (c - '0');
    }
    if (digits) {
      *value = v;
      return true;
    }
  }
  const std::string text(token);
  char* stop = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &stop, 10);
  if (stop == text.c_str() || *stop != '\0') return false;
  *value = v;
  return true;
}

// A whole token as a single-precision number (what strtof reads).
bool ScanFloat(std::string_view token, float* value) {
  const std::string text(token);
  char* stop = nullptr;
  const float v = std::strtof(text.c_str(), &stop);
  if (stop == text.c_str() || *stop != '\0') return false;
  *value = v;
  return true;
}

// A blank line where a line was expected ends the input early.
std::string BlankLineText(const char* filename, i64 lineno, const std::string& expected) {
  return PlainFailureText(Format("Premature end of input file: file: %s\nHypergraph file %s, "
                                 "line %ld is blank where %s was expected.\n",
                                 filename, filename, static_cast<long>(lineno),
                                 expected.c_str()));
}

// ---- header (rank 0) ------------------------------------------------------

struct HeaderResult {
  HgrHeader header;
  i64 body = 0;    // byte offset of the line after the header
  i64 lineno = 0;  // line number of the header
};

HeaderResult ReadHeaderOnRoot(const char* filename, int fd, i64 size, Failure* failure) {
  HeaderResult r;
  LineScanner scan(fd, size);
  std::string_view raw, content;
  i64 lineno = 0;
  for (;;) {
    const bool got = scan.Next(&raw);
    lineno++;
    if (!got) raw = std::string_view();
    const LineKind kind = Classify(raw, &content);
    if (kind == LineKind::kBlank) {
      failure->Set(0, got ? BlankLineText(filename, lineno, "the header")
                          : LineFailureText(Format("Premature end of input file: file: %s\n",
                                                   filename),
                                            filename, lineno));
      return r;
    }
    if (kind == LineKind::kData) break;
  }
  r.body = scan.pos();
  r.lineno = lineno;

  const std::string text(Trim(content));
  std::vector<std::string_view> tokens;
  Tokenize(text, &tokens);
  i64 values[4] = {};
  const int nread = tokens.size() < 4 ? static_cast<int>(tokens.size()) : 4;
  for (int t = 0; t < nread; t++)
    if (!ScanLong(tokens[t], &values[t])) {
      failure->Set(0, PlainFailureText(Format(
                          "Hypergraph file %s, line %ld: the header holds \"%s\" where an "
                          "integer is expected.\n",
                          filename, static_cast<long>(lineno), std::string(tokens[t]).c_str())));
      return r;
    }
  if (nread < 2) {
    failure->Set(0, PlainFailureText(Format("Hypergraph file %s, line %ld: the header must give "
                                            "the number of nets and the number of cells.\n",
                                            filename, static_cast<long>(lineno))));
    return r;
  }
  HgrHeader& h = r.header;
  h.nnets = values[0];
  h.nvtxs = values[1];
  if (nread > 2) h.fmt = values[2];
  if (nread > 3) h.ncon = values[3];
  if (h.nnets < 0) {
    failure->Set(0, PlainFailureText(
                        Format("Hypergraph file %s, line %ld: the number of nets (%ld) is "
                               "negative.\n",
                               filename, static_cast<long>(lineno), static_cast<long>(h.nnets))));
  } else if (h.nvtxs < 2) {
    failure->Set(0, LineFailureText(Format("Cannot partition graph with %ld cells\n",
                                           static_cast<long>(h.nvtxs)),
                                    filename, lineno));
  } else if (h.fmt != 0 && h.fmt != 1 && h.fmt != 10 && h.fmt != 11) {
    failure->Set(0, LineFailureText(Format("Cannot read this type of file format!\nThe format "
                                           "code is %ld; it is 0 (no weights), 1 (net weights), "
                                           "10 (cell weights) or 11 (both).\n",
                                           static_cast<long>(h.fmt)),
                                    filename, lineno));
  } else if (h.nnets >= kMaxEntries || h.nvtxs >= kMaxEntries) {
    failure->Set(0, PlainFailureText(Format(
                        "Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) "
                        "are too large.\n",
                        filename, static_cast<long>(lineno), static_cast<long>(h.nnets),
                        static_cast<long>(h.nvtxs))));
  }
  return r;
}

// The checks the single-process reader makes on the header once it has
// counted the pins.
void CheckHeaderCounts(const char* filename, const HgrHeader& h, i64 lineno, Failure* failure) {
  if (h.ncon > 1 && !h.cellweights()) {
    std::string t;
    t += "------------------------------------------------------------------------------\n";
    t += "***  I detected an error in your input file  ***\n\n";
    t += Format("You specified ncon=%ld, but the fmt parameter does not specify vertex weights\n",
                static_cast<long>(h.ncon));
    t += "Make sure that the fmt parameter is set to either 10 or 11.\n";
    t += "------------------------------------------------------------------------------\n";
    t += Format("Hypergraph file %s, line %ld.\n", filename, static_cast<long>(lineno));
    failure->Set(0, PlainFailureText(t));
    return;
  }
  if (h.ncon < 1 || h.ncon > kMaxNCon) {
    failure->Set(0, PlainFailureText(Format(
                        "Hypergraph file %s, line %ld: ncon=%ld is outside the range 1 to %ld.\n",
                        filename, static_cast<long>(lineno), static_cast<long>(h.ncon),
                        static_cast<long>(kMaxNCon))));
    return;
  }
  if (h.nvtxs > kMaxEntries / h.ncon) {
    failure->Set(0, PlainFailureText(Format(
                        "Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) "
                        "are too large.\n",
                        filename, static_cast<long>(lineno), static_cast<long>(h.nnets),
                        static_cast<long>(h.nvtxs))));
    return;
  }
  if (h.nvtxs >= kMaxZoltanIds || h.nnets >= kMaxZoltanIds)
    failure->Set(0, PlainFailureText(Format(
                        "Hypergraph file %s, line %ld: veldan-mpi takes fewer than %ld cells and "
                        "nets (Zoltan's ids have 32 bits); the header gives %ld nets, %ld cells.\n",
                        filename, static_cast<long>(lineno), static_cast<long>(kMaxZoltanIds),
                        static_cast<long>(h.nnets), static_cast<long>(h.nvtxs))));
}

// ---- the body ---------------------------------------------------------------

// What pass 1 finds in one rank's lines.
struct Census {
  i64 nlines = 0;           // lines that start in the range
  i64 ndata = 0;            // of them, lines that are not comments
  i64 tokens = 0;           // tokens of the data lines (bounds the pins)
  i64 blankdata = -1;       // data index (0-based, local) of the first blank line
  i64 blankline = -1;       // its line index (0-based, local)
};

// The owned byte range [first line start, hi) of a rank.
struct Range {
  i64 start = 0, hi = 0;
  bool empty() const { return start >= hi; }
};

Range OwnedRange(const Comm& comm, LineScanner* scan, i64 body, i64 size) {
  const i64 n = size - body;
  const i64 lo = body + BlockStart(n, comm.size, comm.rank);
  Range r;
  r.hi = body + BlockStart(n, comm.size, comm.rank + 1);
  if (lo >= r.hi) {
    r.start = r.hi;
    return r;
  }
  if (lo == body) {
    r.start = lo;
    return r;
  }
  // The first line start at or after lo: after the first line feed at or
  // after lo - 1.
  scan->Seek(lo - 1);
  std::string_view skipped;
  scan->Next(&skipped);
  r.start = scan->pos();
  return r;
}

Census CountLines(LineScanner* scan, const Range& range) {
  Census c;
  if (range.empty()) return c;
  scan->Seek(range.start);
  std::string_view raw, content;
  while (scan->pos() < range.hi && scan->Next(&raw)) {
    const LineKind kind = Classify(raw, &content);
    if (kind != LineKind::kComment) {
      if (kind == LineKind::kBlank && c.blankdata < 0) {
        c.blankdata = c.ndata;
        c.blankline = c.nlines;
      }
      if (kind == LineKind::kData) {
        bool intoken = false;
        for (const char ch : content) {
          const bool d = IsDelimiter(ch);
          if (!d && !intoken) c.tokens++;
          intoken = !d;
        }
      }
      c.ndata++;
    }
    c.nlines++;
  }
  return c;
}

// Where a rank's lines sit in the file, and the sums that run over the
// nets and cells before them.
struct Placement {
  i64 firstline = 0;  // file line number of the first owned line
  i64 firstdata = 0;  // index of the first owned data line, 1 = first line after the header
  i64 eofline = 0;    // line number of the end of the file
  i64 ndata = 0;      // data lines after the header in the whole file
};

struct ParseState {
  // Sums over the nets and cells before the first owned line, and running.
  double netsum = 0.0;
  double cellsum[kMaxNCon] = {};
};

// Pass 2: reads the owned lines. With store, fills graph; without, only
// finds the first fault. sums holds the sums before the range, as far as
// they are known, and receives them at the end of the range (or the fault).
// atend: this rank reports an end of the file inside the cell section.
struct ParsePass {
  const char* filename;
  LineScanner* scan;
  const Range& range;
  const Placement& place;
  const HgrHeader& h;
  bool store;
  bool atend;
};
struct ParseOutput {
  ParseState* sums;
  LocalHGraph* graph;
  std::vector<float>* weightlines;
  i64* firstcell;
  Failure* failure;
};
void ParseLines(const ParsePass& pass, const ParseOutput& out) {
  const char* filename = pass.filename;
  LineScanner* scan = pass.scan;
  const Range& range = pass.range;
  const Placement& place = pass.place;
  const HgrHeader& h = pass.h;
  const bool store = pass.store, atend = pass.atend;
  ParseState* sums = out.sums;
  LocalHGraph* graph = out.graph;
  std::vector<float>* weightlines = out.weightlines;
  i64* firstcell = out.firstcell;
  Failure* failure = out.failure;
  const bool netweights = h.netweights(), cellweights = h.cellweights();
  const i64 ncon = h.ncon;
  const i64 lastline = cellweights ? h.nnets + h.nvtxs : h.nnets;
  std::vector<std::string_view> tokens;
  std::vector<std::uint32_t> netpins;
  *firstcell = -1;

  auto premature = [&](i64 lineno) {
    failure->Set(lineno, LineFailureText(Format("Premature end of input file: file: %s\n",
                                                filename),
                                         filename, lineno));
  };

  if (!range.empty()) {
    scan->Seek(range.start);
    std::string_view raw, content;
    i64 lineno = place.firstline - 1;
    i64 g = place.firstdata - 1;
    bool firstnet = true;
    while (scan->pos() < range.hi && scan->Next(&raw)) {
      lineno++;
      const LineKind kind = Classify(raw, &content);
      if (kind == LineKind::kComment) continue;
      g++;
      if (g > lastline) break;
      if (kind == LineKind::kBlank) {  // inside the cell section (pass 1 checked the nets)
        failure->Set(lineno, BlankLineText(filename, lineno,
                                           Format("the weight line of cell %ld",
                                                  static_cast<long>(g - h.nnets))));
        return;
      }
      const std::string_view line = Trim(content);
      Tokenize(line, &tokens);
      const int ntoks = static_cast<int>(tokens.size());

      if (g <= h.nnets) {
        const i64 i = g;  // net number, from 1
        if (store && firstnet) graph->net0 = i - 1;
        firstnet = false;
        float w = 1.0f;
        int first = 0;
        if (netweights) {
          if (ntoks == 0) {
            failure->Set(lineno, LineFailureText(Format("The line for net %ld is empty.\n",
                                                        static_cast<long>(i)),
                                                 filename, lineno));
            return;
          }
          if (!ScanFloat(tokens[0], &w)) {
            failure->Set(lineno, LineFailureText(Format("Failed to read the weight for net %ld\n",
                                                        static_cast<long>(i)),
                                                 filename, lineno));
            return;
          }
          if (!std::isfinite(w)) {
            failure->Set(lineno, PlainFailureText(Format(
                                     "Hypergraph file %s, line %ld: the weight of net %ld is not "
                                     "a finite number.\n",
                                     filename, static_cast<long>(lineno), static_cast<long>(i))));
            return;
          }
          if (w < 0.0f) {
            failure->Set(lineno, PlainFailureText(Format(
                                     "Hypergraph file %s, line %ld: the weight of net %ld is "
                                     "negative (%g).\n",
                                     filename, static_cast<long>(lineno), static_cast<long>(i),
                                     static_cast<double>(w))));
            return;
          }
          first = 1;
        }
        if (first >= ntoks) {
          failure->Set(lineno, LineFailureText(Format("Empty Hyperedge # %ld\n",
                                                      static_cast<long>(i)),
                                               filename, lineno));
          return;
        }
        netpins.clear();
        for (int t = first; t < ntoks; t++) {
          i64 cell = 0;
          if (!ScanLong(tokens[t], &cell)) {
            failure->Set(lineno, LineFailureText(Format("Failed to read the %ldth cell for net "
                                                        "%ld\n",
                                                        static_cast<long>(t), static_cast<long>(i)),
                                                 filename, lineno));
            return;
          }
          if (cell < 1 || cell > h.nvtxs) {
            failure->Set(lineno, LineFailureText(Format("Cell number: %ld read for net %ld is "
                                                        "wrong.\n",
                                                        static_cast<long>(cell),
                                                        static_cast<long>(i)),
                                                 filename, lineno));
            return;
          }
          netpins.push_back(static_cast<std::uint32_t>(cell - 1));
        }
        // A cell repeated within a net counts once.
        std::sort(netpins.begin(), netpins.end());
        netpins.erase(std::unique(netpins.begin(), netpins.end()), netpins.end());
        if (netweights) {
          sums->netsum += static_cast<double>(w) * static_cast<double>(netpins.size());
          if (sums->netsum > kMaxWeightSum) {
            failure->Set(lineno, PlainFailureText(Format(
                                     "Hypergraph file %s, line %ld: the net weights are too "
                                     "large: up to net %ld, the weights times the pin counts add "
                                     "up to more than %g.\n",
                                     filename, static_cast<long>(lineno), static_cast<long>(i),
                                     kMaxWeightSum)));
            return;
          }
        }
        if (store) {
          graph->pins.insert(graph->pins.end(), netpins.begin(), netpins.end());
          graph->netptr.push_back(static_cast<i64>(graph->pins.size()));
          if (netweights) graph->netwgt.push_back(w);
        }
        continue;
      }

      // A cell-weight line.
      const i64 c = g - h.nnets;  // cell number, from 1
      if (*firstcell < 0) *firstcell = c - 1;
      if (ntoks < ncon) {
        failure->Set(lineno, LineFailureText(
                                 Format("Not sufficient number of weights are provided for cell "
                                        "%ld <input line: %s>, %d\n",
                                        static_cast<long>(c), std::string(line).c_str(), ntoks),
                                 filename, lineno));
        return;
      }
      for (i64 j = 0; j < ncon; j++) {
        float w = 0.0f;
        if (!ScanFloat(tokens[j], &w)) {
          failure->Set(lineno, LineFailureText(Format("Failed to read the %ldth weight for cell "
                                                      "%ld\n",
                                                      static_cast<long>(j), static_cast<long>(c)),
                                               filename, lineno));
          return;
        }
        if (!std::isfinite(w)) {
          failure->Set(lineno, PlainFailureText(Format(
                                   "Hypergraph file %s, line %ld: weight %ld of cell %ld is not a "
                                   "finite number.\n",
                                   filename, static_cast<long>(lineno), static_cast<long>(j),
                                   static_cast<long>(c))));
          return;
        }
        if (w > 0.0f) sums->cellsum[j] += static_cast<double>(w);
        if (sums->cellsum[j] > kMaxWeightSum) {
          failure->Set(lineno, PlainFailureText(Format(
                                   "Hypergraph file %s, line %ld: the cell weights are too "
                                   "large: up to cell %ld, weight %ld of the cells adds up to "
                                   "more than %g.\n",
                                   filename, static_cast<long>(lineno), static_cast<long>(c),
                                   static_cast<long>(j), kMaxWeightSum)));
          return;
        }
        if (store) weightlines->push_back(w);
      }
    }
  }
  // The end of the file inside the cell section (pass 1 has checked the net
  // section).
  if (atend && cellweights && place.ndata < lastline) premature(place.eofline);
}

}  // namespace

void ReadHGraphParallel(const Comm& comm, const char* filename, LocalHGraph* graph) {
  Failure failure;

  // The header, on rank 0.
  long meta[7] = {};  // nnets, nvtxs, fmt, ncon, body, header line, size
  if (comm.rank == 0) {
    struct stat st;
    if (stat(filename, &st) != 0 || !S_ISREG(st.st_mode)) {
      failure.Set(0, PlainFailureText(Format("Hypergraph file %s does not exist!\n", filename)));
    } else {
      const int fd = open(filename, O_RDONLY);
      if (fd < 0) {
        const int err = errno;
        failure.Set(0, Format("file: %s, mode: r, [GetNetListSize: filename]: %s\n", filename,
                              std::strerror(err)) +
                           PlainFailureText("Failed on ax_fopen()\n"));
      } else {
        char head[15] = {};
        if (pread(fd, head, 14, 0) == 14 && std::strncmp(head, "%%MatrixMarket", 14) == 0) {
          failure.Set(0, PlainFailureText(Format(
                             "Hypergraph file %s is a Matrix Market file; veldan-mpi reads only "
                             ".hgr files (veldan reads both).\n",
                             filename)));
        } else {
          const HeaderResult hr = ReadHeaderOnRoot(filename, fd, st.st_size, &failure);
          meta[0] = hr.header.nnets;
          meta[1] = hr.header.nvtxs;
          meta[2] = hr.header.fmt;
          meta[3] = hr.header.ncon;
          meta[4] = hr.body;
          meta[5] = hr.lineno;
          meta[6] = st.st_size;
        }
        close(fd);
      }
    }
  }
  AgreeOrExit(comm, failure);
  MPI_Bcast(meta, 7, MPI_LONG, 0, comm.comm);
  HgrHeader& h = graph->header;
  h.nnets = meta[0];
  h.nvtxs = meta[1];
  h.fmt = meta[2];
  h.ncon = meta[3];
  const i64 body = meta[4], headerline = meta[5], size = meta[6];

  const int fd = open(filename, O_RDONLY);
  if (fd < 0) {
    const int err = errno;
    failure.Set(0, Format("file: %s, mode: r, [GetNetListSize: filename]: %s\n", filename,
                          std::strerror(err)) +
                       PlainFailureText("Failed on ax_fopen()\n"));
  }
  AgreeOrExit(comm, failure);
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  LineScanner scan(fd, size);

  // Pass 1: the census of the owned lines.
  const Range range = OwnedRange(comm, &scan, body, size);
  const Census census = CountLines(&scan, range);
  long counts[2] = {census.nlines, census.ndata}, before[2] = {0, 0}, total[2] = {0, 0};
  MPI_Exscan(counts, before, 2, MPI_LONG, MPI_SUM, comm.comm);
  if (comm.rank == 0) before[0] = before[1] = 0;
  MPI_Allreduce(counts, total, 2, MPI_LONG, MPI_SUM, comm.comm);

  Placement place;
  place.firstline = headerline + before[0] + 1;
  place.firstdata = before[1] + 1;
  place.eofline = headerline + total[0] + 1;
  place.ndata = total[1];

  // A premature end of the net section: a blank line among the first nnets
  // data lines, or fewer data lines than nets.
  if (census.blankdata >= 0 && place.firstdata + census.blankdata <= h.nnets) {
    const i64 lineno = place.firstline + census.blankline;
    failure.Set(lineno, BlankLineText(filename, lineno,
                                      Format("net %ld", static_cast<long>(place.firstdata +
                                                                          census.blankdata))));
  }
  if (comm.rank == comm.size - 1 && place.ndata < h.nnets)
    failure.Set(place.eofline, LineFailureText(Format("Premature end of input file: file: %s\n",
                                                      filename),
                                               filename, place.eofline));
  AgreeOrExit(comm, failure);

  if (comm.rank == 0) CheckHeaderCounts(filename, h, headerline, &failure);
  AgreeOrExit(comm, failure);

  // Pass 2: the nets and the cell weights.
  graph->pins.reserve(static_cast<std::size_t>(census.tokens));
  std::vector<float> weightlines;  // the weights of the cell lines this rank read
  i64 firstcell = -1;
  ParseState sums;
  ParseLines(ParsePass{filename, &scan, range, place, h, true, comm.rank == comm.size - 1},
             ParseOutput{&sums, graph, &weightlines, &firstcell, &failure});

  // The weight sums run across the ranks: with the sums of the ranks before
  // known, a rank whose lines carry a sum past the bound reads them again
  // to find the line where it happens.
  {
    double local[1 + kMaxNCon] = {}, prior[1 + kMaxNCon] = {};
    local[0] = sums.netsum;
    for (i64 j = 0; j < kMaxNCon; j++) local[1 + j] = sums.cellsum[j];
    MPI_Exscan(local, prior, 1 + kMaxNCon, MPI_DOUBLE, MPI_SUM, comm.comm);
    if (comm.rank == 0) std::fill(prior, prior + 1 + kMaxNCon, 0.0);
    bool crosses = false;
    for (i64 j = 0; j < 1 + kMaxNCon; j++)
      crosses = crosses || (prior[j] > 0.0 && prior[j] + local[j] > kMaxWeightSum);
    if (crosses) {
      ParseState again;
      again.netsum = prior[0];
      for (i64 j = 0; j < kMaxNCon; j++) again.cellsum[j] = prior[1 + j];
      LocalHGraph scratch;
      std::vector<float> unused;
      i64 unusedcell = -1;
      Failure exact;
      ParseLines(ParsePass{filename, &scan, range, place, h, false, false},
                 ParseOutput{&again, &scratch, &unused, &unusedcell, &exact});
      if (exact.failed()) failure.Set(exact.key, exact.text, exact.status);
    }
  }
  close(fd);
  AgreeOrExit(comm, failure);

  // The cell weights to their block owners.
  graph->cell0 = BlockStart(h.nvtxs, comm.size, comm.rank);
  graph->cell1 = BlockStart(h.nvtxs, comm.size, comm.rank + 1);
  if (h.cellweights()) {
    const i64 ncon = h.ncon;
    const i64 nread = static_cast<i64>(weightlines.size()) / ncon;
    const i64 from = firstcell < 0 ? 0 : firstcell;
    std::vector<int> sendcounts(comm.size, 0), senddispls(comm.size, 0);
    std::vector<int> recvcounts(comm.size, 0), recvdispls(comm.size, 0);
    for (int r = 0; r < comm.size; r++) {
      const i64 b0 = BlockStart(h.nvtxs, comm.size, r), b1 = BlockStart(h.nvtxs, comm.size, r + 1);
      const i64 lo = std::max(b0, from), hi = std::min(b1, from + nread);
      if (hi > lo) {
        sendcounts[r] = static_cast<int>((hi - lo) * ncon);
        senddispls[r] = static_cast<int>((lo - from) * ncon);
      }
    }
    MPI_Alltoall(sendcounts.data(), 1, MPI_INT, recvcounts.data(), 1, MPI_INT, comm.comm);
    for (int r = 1; r < comm.size; r++) recvdispls[r] = recvdispls[r - 1] + recvcounts[r - 1];
    graph->cellwgt.resize(static_cast<std::size_t>(graph->ncells() * ncon));
    MPI_Alltoallv(weightlines.data(), sendcounts.data(), senddispls.data(), MPI_FLOAT,
                  graph->cellwgt.data(), recvcounts.data(), recvdispls.data(), MPI_FLOAT,
                  comm.comm);
  }
}

// ---- the fixed-cell file ------------------------------------------------------

void ReadFixedCells(const Comm& comm, const char* filename, i64 nvtxs, i64 nparts, i64 cell0,
                    i64 cell1, std::vector<int>* fixed) {
  // Every rank reads the file through, keeping the values of its own
  // block; the faults are found alike everywhere and rank 0 reports them.
  Failure failure;
  fixed->assign(static_cast<std::size_t>(cell1 - cell0), -1);
  std::FILE* fp = std::fopen(filename, "r");
  i64 maxvalue = -1;
  i64 beyondline = 0, beyondcell = 0, beyondvalue = 0;  // the first value at or above nparts
  if (fp == nullptr) {
    const int err = errno;
    failure.Set(0, Format("file: %s, mode: r, [ReadPartition: partfile]: %s\n", filename,
                          std::strerror(err)) +
                       PlainFailureText("Failed on ax_fopen()\n"));
  } else {
    i64 lineno = 1;
    for (i64 i = 0; i < nvtxs; i++) {
      int ch;
      do {
        ch = getc_unlocked(fp);
        if (ch == '\n') lineno++;
      } while (ch != EOF && std::isspace(ch));
      if (ch == EOF) {
        if (std::ferror(fp))
          failure.Set(0, PlainFailureText(Format("Fixed-cell file %s could not be read: %s\n",
                                                 filename, std::strerror(errno))));
        else
          failure.Set(0, PlainFailureText(Format("Fixed-cell file %s holds %ld values for %ld "
                                                 "cells.\n",
                                                 filename, static_cast<long>(i),
                                                 static_cast<long>(nvtxs))));
        break;
      }
      char shown[32];
      int nshown = 0;
      bool negative = false, digits = false, number = true;
      i64 value = 0;
      for (i64 pos = 0; ch != EOF && !std::isspace(ch); pos++, ch = getc_unlocked(fp)) {
        if (nshown < static_cast<int>(sizeof(shown)) - 1) shown[nshown++] = static_cast<char>(ch);
        if (pos == 0 && (ch == '-' || ch == '+')) {
          negative = (ch == '-');
        } else if (ch >= '0' && ch <= '9') {
          digits = true;
          const i64 d = ch - '0';
          value = (value > (INT64_MAX - d) / 10) ? INT64_MAX : value * 10 + d;
        } else {
          number = false;
        }
      }
      shown[nshown] = '\0';
      if (!number || !digits) {
        failure.Set(0, PlainFailureText(Format(
                           "Fixed-cell file %s, line %ld: the value for cell %ld is not a number "
                           "(\"%s\").\n",
                           filename, static_cast<long>(lineno), static_cast<long>(i + 1), shown)));
        break;
      }
      if (negative) value = -value;
      if (value < -1) {
        failure.Set(0, PlainFailureText(Format(
                           "Fixed-cell file %s, line %ld: cell %ld has the value %ld; a value is "
                           "-1 (free) or a part number.\n",
                           filename, static_cast<long>(lineno), static_cast<long>(i + 1),
                           static_cast<long>(value))));
        break;
      }
      if (value >= nparts && maxvalue < nparts) {
        beyondline = lineno;
        beyondcell = i + 1;
        beyondvalue = value;
      }
      maxvalue = std::max(maxvalue, value);
      if (i >= cell0 && i < cell1)
        (*fixed)[static_cast<std::size_t>(i - cell0)] =
            value >= nparts ? static_cast<int>(std::min<i64>(nparts, INT32_MAX)) : static_cast<int>(value);
      if (ch == '\n') lineno++;
    }
    std::fclose(fp);
  }
  if (!failure.failed() && maxvalue >= nparts)
    failure.Set(0, Format("Input Error:\n\tThe file %s contains more than %ld sets of "
                          "pre-assigned vertices.\n\tLine %ld puts cell %ld in part %ld; the "
                          "parts are 0 to %ld.\n\n",
                          filename, static_cast<long>(nparts), static_cast<long>(beyondline),
                          static_cast<long>(beyondcell), static_cast<long>(beyondvalue),
                          static_cast<long>(nparts - 1)));
  // Every rank found the same; rank 0 speaks.
  if (comm.rank != 0) failure.key = failure.failed() ? 1 : Failure::kNone;
  AgreeOrExit(comm, failure);
}

}  // namespace veldan::mpi
