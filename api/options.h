// The options of a partitioning as every interface names them: one row per
// option, in the order of the program's help. The command line is parsed
// from it, the Python module reads its keyword arguments through it and the
// C interface converts its struct with it, so that an option is added by its
// field in Options (and veldan_options), its row here and the code that
// reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "hgraph/config.h"
#include "veldan/veldan.h"
#include "veldan/veldan_c.h"

namespace veldan {

enum class OptionKind {
  Keyword,  // one of the names of `keywords`, case ignored
  Integer,  // a whole number from lo to hi (on the command line)
  Real,     // a decimal number
  Flag,     // on when named
  Program,  // the command line's own, not a field of Options
};

// How a field of veldan_options is stored.
enum class CField { None, Int, Int64, Double };

// A value of an option: keyword codes, whole numbers and flags (0 or 1) in
// i, decimal numbers in d.
struct OptionValue {
  std::int64_t i = 0;
  double d = 0.0;
};

struct OptionRow {
  const char* cli;  // the name on the command line; null: not there
  const char* key;  // the Python keyword and the veldan_options field; null: neither
  OptionKind kind;
  std::span<const SchemeName> keywords;
  std::int64_t lo, hi;
  OptionValue (*get)(const Options&);  // null for the program's own
  void (*set)(Options&, OptionValue);
  CField cfield;
  std::size_t coffset;  // of the field in veldan_options
  std::span<const char* const> help;  // the lines of its -help entry
};

std::span<const OptionRow> OptionRows();
// The row whose command-line name (cli) or key (otherwise) is name; null
// when there is none.
const OptionRow* FindOption(std::string_view name, bool cli);

// The C struct from the options and back, field by field through the rows.
void OptionsToC(const Options& o, veldan_options* c);
Options OptionsFromC(const veldan_options& c);

}  // namespace veldan
