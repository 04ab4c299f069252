// The lines of a hypergraph file and their refusals (see lines.h).
#include "io/lines.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hgraph/config.h"
#include "io/internal.h"
#include "support/format.h"
#include "support/io.h"

namespace veldan {
namespace {

bool IsStripped(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }
bool IsDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The field as a C string for strtol and strtof: short fields on the stack.
template <class Read>
bool ReadWhole(std::string_view field, Read read) {
  char small[64];
  std::string large;
  const char* text = small;
  if (field.size() < sizeof small) {
    std::memcpy(small, field.data(), field.size());
    small[field.size()] = '\0';
  } else {
    large.assign(field);
    text = large.c_str();
  }
  char* stop = nullptr;
  read(text, &stop);
  return stop != text && *stop == '\0';
}

}  // namespace

void CheckInputFile(const char* filename) {
  struct stat st;
  if (stat(filename, &st) == 0 && S_ISDIR(st.st_mode))
    Refuse("Hypergraph file %s is a folder, not a file.\n", filename);
  if (!ax_fexists(filename)) Refuse("Hypergraph file %s does not exist!\n", filename);
}

InputError OpenFailure(const char* name, const char* msg, int err) {
  return InputError(254, std::string("file: ") + name + ", mode: r, [" + msg +
                             "]: " + std::strerror(err) + "\nFailed on ax_fopen()\n\n");
}

LineKind ClassifyLine(std::string_view raw, bool first, std::string_view* content) {
  if (first && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  if (raw.empty()) return LineKind::kBlank;
  if (raw[0] == '%') return LineKind::kComment;
  *content = raw;
  return LineKind::kData;
}

std::string_view SplitFields(std::string_view line, std::vector<std::string_view>* fields) {
  const std::size_t nul = line.find('\0');
  if (nul != std::string_view::npos) line = line.substr(0, nul);
  std::size_t b = 0, e = line.size();
  while (b < e && IsStripped(line[b])) b++;
  while (e > b && IsStripped(line[e - 1])) e--;
  line = line.substr(b, e - b);
  fields->clear();
  for (std::size_t i = 0; i < line.size();) {
    while (i < line.size() && IsDelimiter(line[i])) i++;
    if (i >= line.size()) break;
    const std::size_t start = i;
    while (i < line.size() && !IsDelimiter(line[i])) i++;
    fields->push_back(line.substr(start, i - start));
  }
  return line;
}

bool ScanLong(std::string_view field, idx_t* value) {
  // Plain digits, too few to overflow, are read here; anything else goes
  // through strtol.
  if (!field.empty() && field.size() <= 18) {
    idx_t v = 0;
    bool digits = true;
    for (const char c : field) {
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
  long v = 0;
  const bool whole = ReadWhole(field, [&](const char* text, char** stop) {
    errno = 0;
    v = std::strtol(text, stop, 10);
  });
  if (whole) *value = v;
  return whole;
}

bool ScanFloat(std::string_view field, real_t* value) {
  float v = 0.0f;
  const bool whole =
      ReadWhole(field, [&](const char* text, char** stop) { v = std::strtof(text, stop); });
  if (whole) *value = v;
  return whole;
}

HgrHeader ScanHeader(std::string_view line, const LineAt& at) {
  std::vector<std::string_view> fields;
  SplitFields(line, &fields);
  const int nfields = static_cast<int>(fields.size());
  const int nread = nfields < 4 ? nfields : 4;
  idx_t values[4] = {};
  for (int t = 0; t < nread; t++)
    if (!ScanLong(fields[t], &values[t]))
      Refuse("Hypergraph file %s, line %ld: the header holds \"%s\" where an integer is "
             "expected.\n",
             at.filename, at.lineno, Shown(fields[t]).c_str());
  if (nfields > 4)
    Refuse("Hypergraph file %s, line %ld: the header holds %d fields; it holds 2 to 4: the "
           "number of nets, the number of cells, fmt and ncon.\n",
           at.filename, at.lineno, nfields);
  if (nread < 2)
    Refuse("Hypergraph file %s, line %ld: the header must give the number of nets and "
           "the number of cells.\n",
           at.filename, at.lineno);

  HgrHeader h;
  h.nnets = values[0];
  h.nvtxs = values[1];
  if (nread > 2) h.fmt = values[2];
  if (nread > 3) h.ncon = values[3];
  if (h.nnets < 0)
    Refuse("Hypergraph file %s, line %ld: the number of nets (%ld) is negative.\n", at.filename,
           at.lineno, h.nnets);
  if (h.nvtxs < 2) RefuseAt(at, "Cannot partition graph with %ld cells\n", h.nvtxs);
  if (h.fmt != 0 && h.fmt != 1 && h.fmt != 10 && h.fmt != 11)
    RefuseAt(at,
             "Cannot read this type of file format!\nThe format code is %ld; it is 0 (no "
             "weights), 1 (net weights), 10 (cell weights) or 11 (both).\n",
             h.fmt);
  if (h.nnets >= kMaxEntries || h.nvtxs >= kMaxEntries)
    Refuse("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are "
           "too large.\n",
           at.filename, at.lineno, h.nnets, h.nvtxs);
  return h;
}

void CheckHeaderCounts(const HgrHeader& h, const LineAt& at) {
  if (h.ncon > 1 && !h.cellweights())
    Refuse("------------------------------------------------------------------------------\n"
           "***  I detected an error in your input file  ***\n\n"
           "You specified ncon=%ld, but the fmt parameter does not specify vertex weights\n"
           "Make sure that the fmt parameter is set to either 10 or 11.\n"
           "------------------------------------------------------------------------------\n"
           "Hypergraph file %s, line %ld.\n",
           h.ncon, at.filename, at.lineno);
  if (h.ncon < 1 || h.ncon > kMaxNCon)
    Refuse("Hypergraph file %s, line %ld: ncon=%ld is outside the range 1 to %ld.\n",
           at.filename, at.lineno, h.ncon, kMaxNCon);
  if (h.nvtxs > kMaxEntries / h.ncon)
    Refuse("Hypergraph file %s, line %ld: the header counts (%ld nets, %ld cells) are "
           "too large.\n",
           at.filename, at.lineno, h.nnets, h.nvtxs);
}

real_t ScanNetLine(const std::vector<std::string_view>& fields, const HgrHeader& h, idx_t net,
                   const LineAt& at, std::vector<idx_t>* cells) {
  const int nfields = static_cast<int>(fields.size());
  real_t w = 1.0f;
  int first = 0;
  if (h.netweights()) {
    if (nfields == 0) RefuseAt(at, "The line for net %ld is empty.\n", net);
    if (!ScanFloat(fields[0], &w)) RefuseAt(at, "Failed to read the weight for net %ld\n", net);
    if (!std::isfinite(w))
      Refuse("Hypergraph file %s, line %ld: the weight of net %ld is not a finite number.\n",
             at.filename, at.lineno, net);
    if (w < 0.0f)
      Refuse("Hypergraph file %s, line %ld: the weight of net %ld is negative (%g).\n",
             at.filename, at.lineno, net, static_cast<double>(w));
    first = 1;
  }
  if (first >= nfields) RefuseAt(at, "Empty Hyperedge # %ld\n", net);

  cells->clear();
  for (int t = first; t < nfields; t++) {
    idx_t cell;
    if (!ScanLong(fields[t], &cell))
      RefuseAt(at, "Failed to read the %ldth cell for net %ld\n", static_cast<idx_t>(t), net);
    if (cell < 1 || cell > h.nvtxs)
      RefuseAt(at, "Cell number: %ld read for net %ld is wrong.\n", cell, net);
    cells->push_back(cell - 1);
  }
  return w;
}

void AddNetWeight(real_t weight, idx_t npins, idx_t net, const LineAt& at, double* netsum) {
  *netsum += static_cast<double>(weight) * static_cast<double>(npins);
  if (*netsum > kMaxWeightSum)
    Refuse("Hypergraph file %s, line %ld: the net weights are too large: up to net %ld, "
           "the weights times the pin counts add up to more than %g.\n",
           at.filename, at.lineno, net, kMaxWeightSum);
}

void ScanCellWeights(const std::vector<std::string_view>& fields, std::string_view line,
                     const HgrHeader& h, idx_t cell, const LineAt& at, double* cellsum,
                     real_t* weights) {
  const int nfields = static_cast<int>(fields.size());
  if (nfields < h.ncon)
    RefuseAt(at,
             "Not sufficient number of weights are provided for cell %ld <input line: %s>, %d\n",
             cell, std::string(line).c_str(), nfields);
  for (idx_t j = 0; j < h.ncon; j++) {
    real_t& w = weights[j];
    if (!ScanFloat(fields[j], &w))
      RefuseAt(at, "Failed to read the %ldth weight for cell %ld\n", j, cell);
    if (!std::isfinite(w))
      Refuse("Hypergraph file %s, line %ld: weight %ld of cell %ld is not a finite number.\n",
             at.filename, at.lineno, j, cell);
    if (w < 0.0f)
      Refuse("Hypergraph file %s, line %ld: weight %ld of cell %ld is negative (%g).\n",
             at.filename, at.lineno, j, cell, static_cast<double>(w));
    if (w > 0.0f) cellsum[j] += static_cast<double>(w);
    if (cellsum[j] > kMaxWeightSum)
      Refuse("Hypergraph file %s, line %ld: the cell weights are too large: up to cell %ld, "
             "weight %ld of the cells adds up to more than %g.\n",
             at.filename, at.lineno, cell, j, kMaxWeightSum);
  }
}

std::string LastLineName(const HgrHeader& h) {
  if (h.cellweights()) return Format("the weight line of cell %ld", h.nvtxs);
  if (h.nnets > 0) return Format("net %ld", h.nnets);
  return "the header";
}

void CheckAfterLast(std::string_view raw, const LineAt& at, const std::string& last) {
  if (!raw.empty() && raw[0] == '%') return;
  const std::size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) raw = raw.substr(0, nul);
  while (!raw.empty() && IsStripped(raw.back())) raw.remove_suffix(1);
  while (!raw.empty() && (raw[0] == ' ' || raw[0] == '\t')) raw.remove_prefix(1);
  if (raw.empty()) return;
  Refuse("Hypergraph file %s, line %ld: the file goes on after %s, the last line the header "
         "announces (\"%s\").\n",
         at.filename, at.lineno, last.c_str(), Shown(raw).c_str());
}

InputError EarlyEnd(const LineAt& at) {
  return InputError(254, Format("Premature end of input file: file: %s\nHypergraph file %s, "
                                "line %ld.\n\n",
                                at.filename, at.filename, at.lineno));
}

InputError BlankLine(const LineAt& at, const std::string& expected) {
  return InputError(254, Format("Premature end of input file: file: %s\nHypergraph file %s, "
                                "line %ld is blank where %s was expected.\n\n",
                                at.filename, at.filename, at.lineno, expected.c_str()));
}

}  // namespace veldan
