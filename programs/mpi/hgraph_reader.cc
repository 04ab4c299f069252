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
// Every line is read with the calls of io/lines.h, as the single-process
// reader (io/reader.cc) reads it, so the messages are its own. Which of
// several faults is reported also follows that reader: it first reads the
// header, then counts the pins of every net line (finding a premature end
// of the net section before anything else), then checks the header counts
// against the weight format, and then reads the nets, the cell weights and
// what follows the last line in file order. Every rank keeps its first fault with its line number; the
// smallest line number over the ranks is the fault reported, by the rank
// that found it.
#include "programs/mpi/hgraph_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "hgraph/config.h"
#include "io/io.h"
#include "io/lines.h"

namespace veldan::mpi {
namespace {

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
  LineAt at{filename, 0};
  for (;;) {
    const bool got = scan.Next(&raw);
    at.lineno++;
    if (!got) {
      failure->Set(0, EarlyEnd(at));
      return r;
    }
    const LineKind kind = ClassifyLine(raw, at.lineno == 1, &content);
    if (kind == LineKind::kBlank) {
      failure->Set(0, BlankLine(at, "the header"));
      return r;
    }
    if (kind == LineKind::kData) break;
  }
  r.body = scan.pos();
  r.lineno = at.lineno;
  try {
    r.header = ScanHeader(content, at);
  } catch (const InputError& e) {
    failure->Set(0, e);
  }
  return r;
}

// The checks the single-process reader makes on the header once it has
// counted the pins, and the bound of Zoltan's ids.
void CheckCounts(const char* filename, const HgrHeader& h, i64 lineno, Failure* failure) {
  try {
    CheckHeaderCounts(h, LineAt{filename, lineno});
  } catch (const InputError& e) {
    failure->Set(0, e);
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
  std::vector<std::string_view> fields;
  while (scan->pos() < range.hi && scan->Next(&raw)) {
    // The body never holds the line that opens the file.
    const LineKind kind = ClassifyLine(raw, false, &content);
    if (kind != LineKind::kComment) {
      if (kind == LineKind::kBlank && c.blankdata < 0) {
        c.blankdata = c.ndata;
        c.blankline = c.nlines;
      }
      if (kind == LineKind::kData) {
        SplitFields(content, &fields);
        c.tokens += static_cast<i64>(fields.size());
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
  const Range& range = pass.range;
  const Placement& place = pass.place;
  const HgrHeader& h = pass.h;
  const bool store = pass.store;
  ParseState* sums = out.sums;
  LocalHGraph* graph = out.graph;
  const bool cellweights = h.cellweights();
  const i64 lastline = cellweights ? h.nnets + h.nvtxs : h.nnets;
  *out.firstcell = -1;

  if (!range.empty()) {
    const std::string last = LastLineName(h);
    std::vector<std::string_view> fields;
    std::vector<idx_t> cells;
    real_t weights[kMaxNCon];
    pass.scan->Seek(range.start);
    std::string_view raw, content;
    LineAt at{pass.filename, place.firstline - 1};
    i64 g = place.firstdata - 1;  // data line index, 1 = the first line after the header
    bool firstnet = true;
    try {
      while (pass.scan->pos() < range.hi && pass.scan->Next(&raw)) {
        at.lineno++;
        const LineKind kind = ClassifyLine(raw, false, &content);
        if (kind == LineKind::kComment) continue;
        g++;
        if (g > lastline) {
          CheckAfterLast(raw, at, last);
          continue;
        }
        if (kind == LineKind::kBlank)  // inside the cell section (pass 1 checked the nets)
          throw BlankLine(at,
                          Format("the weight line of cell %ld", static_cast<long>(g - h.nnets)));
        const std::string_view line = SplitFields(content, &fields);

        if (g <= h.nnets) {
          const i64 i = g;  // net number, from 1
          if (store && firstnet) graph->net0 = i - 1;
          firstnet = false;
          const real_t w = ScanNetLine(fields, h, i, at, &cells);
          // A cell repeated within a net counts once.
          std::sort(cells.begin(), cells.end());
          cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
          if (h.netweights())
            AddNetWeight(w, static_cast<idx_t>(cells.size()), i, at, &sums->netsum);
          if (store) {
            graph->pins.insert(graph->pins.end(), cells.begin(), cells.end());
            graph->netptr.push_back(static_cast<i64>(graph->pins.size()));
            if (h.netweights()) graph->netwgt.push_back(w);
          }
          continue;
        }

        // A cell-weight line.
        const i64 c = g - h.nnets;  // cell number, from 1
        if (*out.firstcell < 0) *out.firstcell = c - 1;
        ScanCellWeights(fields, line, h, c, at, sums->cellsum, weights);
        if (store) out.weightlines->insert(out.weightlines->end(), weights, weights + h.ncon);
      }
    } catch (const InputError& e) {
      out.failure->Set(at.lineno, e);
      return;
    }
  }
  // The end of the file inside the cell section (pass 1 has checked the net
  // section).
  if (pass.atend && cellweights && place.ndata < lastline)
    out.failure->Set(place.eofline, EarlyEnd(LineAt{pass.filename, place.eofline}));
}

}  // namespace

void ReadHGraphParallel(const Comm& comm, const char* filename, LocalHGraph* graph) {
  Failure failure;

  // The header, on rank 0.
  long meta[7] = {};  // nnets, nvtxs, fmt, ncon, body, header line, size
  if (comm.rank == 0) {
    try {
      CheckInputFile(filename);
    } catch (const InputError& e) {
      failure.Set(0, e);
    }
    const int fd = failure.failed() ? -1 : open(filename, O_RDONLY);
    struct stat st;
    if (!failure.failed() && (fd < 0 || fstat(fd, &st) != 0)) {
      failure.Set(0, OpenFailure(filename, "GetNetListSize: filename", errno));
    } else if (!failure.failed()) {
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
    }
    if (fd >= 0) close(fd);
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
  if (fd < 0) failure.Set(0, OpenFailure(filename, "GetNetListSize: filename", errno));
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
    failure.Set(lineno, BlankLine(LineAt{filename, lineno},
                                  Format("net %ld", static_cast<long>(place.firstdata +
                                                                      census.blankdata))));
  }
  if (comm.rank == comm.size - 1 && place.ndata < h.nnets)
    failure.Set(place.eofline, EarlyEnd(LineAt{filename, place.eofline}));
  AgreeOrExit(comm, failure);

  if (comm.rank == 0) CheckCounts(filename, h, headerline, &failure);
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
  // Every rank reads the file through with the single-process reader's
  // scanner, keeping the values of its own block; the faults are found
  // alike everywhere and rank 0 reports them.
  Failure failure;
  std::vector<idx_t> block(static_cast<std::size_t>(cell1 - cell0), -1);
  try {
    ReadPartitionBlock(nvtxs, cell0, cell1, block.data(), filename, nparts);
  } catch (const InputError& e) {
    failure.Set(comm.rank == 0 ? 0 : 1, e);
  }
  AgreeOrExit(comm, failure);
  // Every value is now -1 or a part below nparts.
  fixed->assign(block.begin(), block.end());
}

}  // namespace veldan::mpi
