// The refusal of an input and the opening of an input file.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <string>

#include "io/internal.h"
#include "support/format.h"

namespace veldan {

void Refuse(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = FormatV(fmt, args);
  va_end(args);
  throw InputError(254, text + "\n");
}

void RefuseAt(const LineAt& at, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string message = FormatV(fmt, args);
  va_end(args);
  if (!message.empty() && message.back() != '\n') message += '\n';
  Refuse("%sHypergraph file %s, line %ld.\n", message.c_str(), at.filename, at.lineno);
}

bool ValueLines::Next(std::string* text, idx_t* lineno) {
  for (int ch = 0; ch != EOF;) {
    line_.clear();
    while ((ch = std::getc(fp_)) != EOF && ch != '\n') line_ += static_cast<char>(ch);
    if (ch == EOF && std::ferror(fp_)) {
      failed_ = true;
      return false;
    }
    lineno_++;
    if (lineno_ == 1 && line_.compare(0, 3, "\xEF\xBB\xBF") == 0) line_.erase(0, 3);
    std::size_t b = 0, e = line_.size();
    while (b < e && std::isspace(static_cast<unsigned char>(line_[b]))) b++;
    while (e > b && std::isspace(static_cast<unsigned char>(line_[e - 1]))) e--;
    if (b == e) continue;
    *text = line_.substr(b, e - b);
    *lineno = lineno_;
    return true;
  }
  return false;
}

std::string Shown(std::string_view token) {
  std::string out;
  for (std::size_t i = 0; i < token.size() && i < 40; i++) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (token.size() > 40) out += "...";
  return out;
}

std::FILE* OpenInput(const char* name, const char* msg) {
  std::FILE* fp = std::fopen(name, "r");
  if (fp != nullptr) return fp;
  throw OpenFailure(name, msg, errno);
}

}  // namespace veldan
