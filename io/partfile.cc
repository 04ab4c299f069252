// The fixed-cell file: one value per cell, -1 for a free cell, else the
// part the cell must end in; and the part-weight file: the target fractions
// of the parts, one line per part.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/internal.h"
#include "support/io.h"

namespace veldan {
namespace {

bool IsFolder(const char* filename) {
  struct stat st;
  return stat(filename, &st) == 0 && S_ISDIR(st.st_mode);
}

// Reads a fixed-cell file or, with initial, a partition to improve: the same
// lines and checks, named by `what` in the messages, except that every value
// of a partition is a part number.
void ReadValueFile(idx_t nvtxs, idx_t first, idx_t last, idx_t* part, const char* filename,
                   idx_t nparts, bool initial) {
  const char* what = initial ? "Initial partition file" : "Fixed-cell file";
  if (IsFolder(filename)) Refuse("%s %s is a folder, not a file.\n", what, filename);
  StreamCloser file{OpenInput(filename, "ReadPartition: partfile")};
  std::FILE* fp = file.fp;

  // One value per line: an optional sign and decimal digits, blanks around
  // it; blank lines are skipped, and nothing may follow the last value.
  idx_t lineno = 0, i = 0;
  ValueLines lines(fp);
  std::string text;
  while (lines.Next(&text, &lineno)) {
    std::size_t gap = 0;
    while (gap < text.size() && !std::isspace(static_cast<unsigned char>(text[gap]))) gap++;
    if (i == nvtxs)
      Refuse("%s %s, line %ld: the file goes on after the value of its last cell "
              "(%ld cells): \"%s\".\n",
              what, filename, lineno, nvtxs, Shown(text).c_str());
    if (gap < text.size())
      Refuse("%s %s, line %ld: one value per line, but the line holds \"%s\".\n", what,
              filename, lineno, Shown(text).c_str());

    // The magnitude saturates at the 64-bit limit.
    bool negative = false, digits = false, number = true;
    idx_t value = 0;
    for (std::size_t pos = 0; pos < text.size(); pos++) {
      const char c = text[pos];
      if (pos == 0 && (c == '-' || c == '+')) {
        negative = (c == '-');
      } else if (c >= '0' && c <= '9') {
        digits = true;
        const idx_t d = c - '0';
        value = (value > (INT64_MAX - d) / 10) ? INT64_MAX : value * 10 + d;
      } else {
        number = false;
      }
    }
    if (!number || !digits)
      Refuse("%s %s, line %ld: the value for cell %ld is not a number (\"%s\").\n", what,
              filename, lineno, i + 1, Shown(text).c_str());
    if (negative) value = -value;
    if (initial && (value < 0 || value >= nparts))
      Refuse("%s %s, line %ld: cell %ld has the value %ld; a value is a part number from 0 "
              "to %ld.\n",
              what, filename, lineno, i + 1, value, nparts - 1);
    if (value < -1)
      Refuse("Fixed-cell file %s, line %ld: cell %ld has the value %ld; a value is -1 (free) "
              "or a part number.\n",
              filename, lineno, i + 1, value);
    if (nparts > 0 && value >= nparts)
      Refuse("Input Error:\n\tThe file %s contains more than %ld sets of pre-assigned "
              "vertices.\n\tLine %ld puts cell %ld in part %ld; the parts are 0 to %ld.\n",
              filename, nparts, lineno, i + 1, value, nparts - 1);
    if (i >= first && i < last) part[i - first] = value;
    i++;
  }
  if (lines.failed())
    Refuse("%s %s could not be read: %s\n", what, filename, std::strerror(errno));
  if (i < nvtxs) Refuse("%s %s holds %ld values for %ld cells.\n", what, filename, i, nvtxs);
}

}  // namespace

void ReadPartitionBlock(idx_t nvtxs, idx_t first, idx_t last, idx_t* part,
                        const char* filename, idx_t nparts) {
  ReadValueFile(nvtxs, first, last, part, filename, nparts, false);
}

void ReadInitialPartition(idx_t nvtxs, idx_t* part, const char* filename, idx_t nparts) {
  ReadValueFile(nvtxs, 0, nvtxs, part, filename, nparts, true);
}

void ReadPartition(idx_t nvtxs, idx_t* part, const char* filename, idx_t nparts) {
  ReadPartitionBlock(nvtxs, 0, nvtxs, part, filename, nparts);
}

std::vector<double> ReadPartWeights(const char* filename, idx_t nparts, idx_t ncon) {
  if (IsFolder(filename)) Refuse("Part-weight file %s is a folder, not a file.\n", filename);
  StreamCloser file{OpenInput(filename, "ReadPartWeights: weightfile")};

  // One line per part, ncon fractions on it, blanks between them; blank
  // lines are skipped, and nothing may follow the last part.
  std::vector<double> weights;
  std::vector<double> sum(static_cast<std::size_t>(ncon), 0.0);
  idx_t lineno = 0, lastline = 0, p = 0;
  ValueLines lines(file.fp);
  std::string text;
  while (lines.Next(&text, &lineno)) {
    if (p == nparts)
      Refuse("Part-weight file %s, line %ld: the file goes on after the weights of its last "
             "part (%ld parts): \"%s\".\n",
             filename, lineno, nparts, Shown(text).c_str());
    std::vector<std::string> fields;
    for (std::size_t b = 0; b < text.size();) {
      std::size_t e = b;
      while (e < text.size() && !std::isspace(static_cast<unsigned char>(text[e]))) e++;
      fields.push_back(text.substr(b, e - b));
      b = e;
      while (b < text.size() && std::isspace(static_cast<unsigned char>(text[b]))) b++;
    }
    if (static_cast<idx_t>(fields.size()) != ncon)
      Refuse("Part-weight file %s, line %ld: %ld fraction%s per line (one per weight of a "
             "cell), but the line holds \"%s\".\n",
             filename, lineno, ncon, ncon == 1 ? "" : "s", Shown(text).c_str());
    for (idx_t j = 0; j < ncon; j++) {
      const std::string& f = fields[j];
      char* end = nullptr;
      errno = 0;
      const double value = std::strtod(f.c_str(), &end);
      if (f.empty() || end != f.c_str() + f.size() || !std::isfinite(value))
        Refuse("Part-weight file %s, line %ld: the weight of part %ld is not a number "
               "(\"%s\").\n",
               filename, lineno, p, Shown(f).c_str());
      if (value < 0.0)
        Refuse("Part-weight file %s, line %ld: part %ld has the weight %s; a weight is a "
               "fraction of at least 0.\n",
               filename, lineno, p, Shown(f).c_str());
      weights.push_back(value);
      sum[j] += value;
    }
    lastline = lineno;
    p++;
  }
  if (lines.failed())
    Refuse("Part-weight file %s could not be read: %s\n", filename, std::strerror(errno));
  if (p < nparts)
    Refuse("Part-weight file %s holds %ld lines for %ld parts.\n", filename, p, nparts);
  for (idx_t j = 0; j < ncon; j++)
    if (std::fabs(sum[j] - 1.0) > 1e-6)
      Refuse("Part-weight file %s, line %ld (the last): the weights%s sum to %.9g, not 1.\n",
             filename, lastline,
             ncon > 1 ? (" in column " + std::to_string(j + 1)).c_str() : "", sum[j]);
  return weights;
}

}  // namespace veldan
