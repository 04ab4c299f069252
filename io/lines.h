// The lines of a hypergraph (.hgr) file one at a time: what kind of line a
// line is, its fields, the header, a net, the weights of a cell, what may
// follow the last line, and the refusal of each with the program's message.
// The reader of this room reads a file through with these calls;
// veldan-mpi's reader, where every process reads only the lines that start
// in its share of the bytes, reads its lines with the same calls, so that
// both accept the same files and refuse the others with the same text.
// A refusal is an InputError whose text names the file and the line.
#pragma once

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/io.h"
#include "support/types.h"

namespace veldan {

// The most entries an array of 8-byte elements could ever have.
inline constexpr idx_t kMaxEntries = static_cast<idx_t>(PTRDIFF_MAX / sizeof(idx_t));
// The partitioning sums weights in single precision: part weights add up
// cell weights, and the cut and the sum of external degrees add up net
// weights, each at most once per pin. Files whose weights could carry such a
// sum past this bound (a quarter of the float range, leaving room for the
// rounding of the sums and the factors applied to them) are refused, since a
// sum that overflows to infinity makes every partition look alike.
inline constexpr double kMaxWeightSum = FLT_MAX / 4.0;

// The counts of the header line: nets, cells, the weight format and the
// number of weights per cell.
struct HgrHeader {
  idx_t nnets = 0;
  idx_t nvtxs = 0;
  idx_t fmt = 0;
  idx_t ncon = 1;
  bool netweights() const { return fmt % 10 > 0; }
  bool cellweights() const { return (fmt / 10) % 10 > 0; }
};

// The line a message is about.
struct LineAt {
  const char* filename;
  idx_t lineno;
};

// The name must be that of an existing file, not of a folder.
void CheckInputFile(const char* filename);

// The refusal of a file that could not be opened for reading: the system's
// reason err, msg naming the reader.
InputError OpenFailure(const char* name, const char* msg, int err);

enum class LineKind {
  kBlank,    // nothing before the line end: the input ends early here
  kComment,  // starts with '%'
  kData,
};
// raw is a line without its line feed; first tells the line that opens
// the file, where a byte-order mark is dropped. One carriage return before
// the line end is dropped too; content is what remains of a data line.
LineKind ClassifyLine(std::string_view raw, bool first, std::string_view* content);

// The line as a C string (up to a null byte) without the blanks, tabs,
// line feeds and carriage returns around it, cut into fields at runs of
// blanks, tabs and carriage returns; returns the line so stripped.
std::string_view SplitFields(std::string_view line, std::vector<std::string_view>* fields);

// Reads a whole field as a decimal integer (what strtol reads, nothing
// after it); false otherwise. Out-of-range values saturate at the ends of
// the 64-bit range.
bool ScanLong(std::string_view field, idx_t* value);
// Reads a whole field as a single-precision number (what strtof reads,
// nothing after it); false otherwise.
bool ScanFloat(std::string_view field, real_t* value);

// The header from the content of the first line that is not a comment, with
// the checks that need nothing but the header.
HgrHeader ScanHeader(std::string_view line, const LineAt& at);
// The checks of the header counts that come once the pins of the nets have
// been counted: ncon against the format, its range, the size of the cell
// weights.
void CheckHeaderCounts(const HgrHeader& h, const LineAt& at);

// Reads the fields of the line of net `net` (from 1): its weight first
// under net weights, then its cells, which go to *cells counted from 0 as
// the line gives them (a repeated cell stays repeated). Returns the weight,
// 1 without net weights.
real_t ScanNetLine(const std::vector<std::string_view>& fields, const HgrHeader& h, idx_t net,
                   const LineAt& at, std::vector<idx_t>* cells);
// Adds the weight of net `net` times its pin count to the running sum
// *netsum, which must stay within kMaxWeightSum.
void AddNetWeight(real_t weight, idx_t npins, idx_t net, const LineAt& at, double* netsum);
// Reads the h.ncon weights of cell `cell` (from 1) into weights from the
// fields of its line (line: the whole line, stripped, for the message) and
// adds the positive ones to the running sums cellsum[0 .. h.ncon), which must
// stay within kMaxWeightSum.
void ScanCellWeights(const std::vector<std::string_view>& fields, std::string_view line,
                     const HgrHeader& h, idx_t cell, const LineAt& at, double* cellsum,
                     real_t* weights);

// The last line the header announces, as the messages name it.
std::string LastLineName(const HgrHeader& h);
// A line (raw, without its line feed) after the last line the header
// announces, named last: only blank lines, blanks and comments may follow.
void CheckAfterLast(std::string_view raw, const LineAt& at, const std::string& last);

// The refusals of a file that ends before a line it announces: at its end,
// or by a blank line where `expected` was.
InputError EarlyEnd(const LineAt& at);
InputError BlankLine(const LineAt& at, const std::string& expected);

}  // namespace veldan
