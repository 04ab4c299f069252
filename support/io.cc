// Files, line reading, tokenising and small string routines.
#include "support/io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>

#include "support/memory.h"

namespace veldan {

int ax_fexists(const char* name) {
  struct stat st;
  if (name == nullptr || stat(name, &st) != 0) return 0;
  return S_ISREG(st.st_mode) ? 1 : 0;
}

std::FILE* ax_fopen(const char* name, const char* mode, const char* msg) {
  std::FILE* fp = std::fopen(name, mode);
  if (fp != nullptr) return fp;

  // The report is sized to its contents, so a long path is never cut short.
  const int err = errno;
  const char* fmt = "file: %s, mode: %s, [%s]";
  const char* m = msg != nullptr ? msg : "";
  const int len = std::snprintf(nullptr, 0, fmt, name, mode, m);
  char* text = static_cast<char*>(
      ax_malloc(static_cast<std::size_t>(len > 0 ? len : 0) + 1,
                "ax_fopen: text"));
  std::snprintf(text, static_cast<std::size_t>(len > 0 ? len : 0) + 1, fmt,
                name, mode, m);
  errno = err;
  std::perror(text);
  ax_free(&text);
  errexit("Failed on ax_fopen()\n");
}

void ax_fclose(std::FILE* fp) {
  if (fp != nullptr) std::fclose(fp);
}

idx_t ax_getline(char** lineptr, std::size_t* capacity, std::FILE* stream) {
  if (std::feof(stream)) return -1;

  if (*lineptr == nullptr || *capacity == 0) {
    *capacity = 1024;
    *lineptr = static_cast<char*>(ax_malloc(*capacity, "ax_getline: lineptr"));
  }

  // Doubling whenever the stored characters plus two reach the capacity
  // keeps room for at least one more character and the closing null. The
  // program reads from one thread, so the stream needs no lock per
  // character.
  std::size_t stored = 0;
  int ch;
  while ((ch = getc_unlocked(stream)) != EOF) {
    (*lineptr)[stored++] = static_cast<char>(ch);
    while (stored + 2 >= *capacity) {
      *capacity *= 2;
      *lineptr = static_cast<char*>(
          ax_realloc(*lineptr, *capacity, "ax_getline: lineptr"));
    }
    if (ch == '\n') break;
  }
  (*lineptr)[stored] = '\0';

  if (ch == '\n') --stored;
  return static_cast<idx_t>(stored);
}

void strtokenize(const char* str, const char* delims, TokenList* tokens) {
  if (str == nullptr) str = "";
  tokens->strbuf = ax_strdup(str);

  auto is_delim = [delims](char c) {
    return c != '\0' && std::strchr(delims, c) != nullptr;
  };

  // Count the maximal runs of non-delimiters.
  int ntoks = 0;
  for (const char* s = str; *s != '\0';) {
    while (*s != '\0' && is_delim(*s)) ++s;
    if (*s == '\0') break;
    ++ntoks;
    while (*s != '\0' && !is_delim(*s)) ++s;
  }

  tokens->ntoks = ntoks;
  tokens->list = ax_tmalloc<char*>(ntoks, "strtokenize: tokens->list");

  // Cut the private copy at every delimiter and point at each token.
  int k = 0;
  for (char* s = tokens->strbuf; *s != '\0';) {
    while (*s != '\0' && is_delim(*s)) *s++ = '\0';
    if (*s == '\0') break;
    tokens->list[k++] = s;
    while (*s != '\0' && !is_delim(*s)) ++s;
  }
}

void FreeTokens(TokenList* tokens) {
  ax_free(&tokens->list, &tokens->strbuf);
  tokens->ntoks = 0;
}

char* ax_strdup(const char* str) {
  if (str == nullptr) return nullptr;
  const std::size_t len = std::strlen(str);
  char* copy = static_cast<char*>(ax_malloc(len + 1, "ax_strdup: str"));
  std::memcpy(copy, str, len + 1);
  return copy;
}

char* ax_strtrim_right(char* str, const char* rmlist) {
  if (str == nullptr) return nullptr;
  std::size_t len = std::strlen(str);
  while (len > 0 && std::strchr(rmlist, str[len - 1]) != nullptr) --len;
  str[len] = '\0';
  return str;
}

char* ax_strtrim_left(char* str, const char* rmlist) {
  if (str == nullptr) return nullptr;
  const std::size_t skip = std::strspn(str, rmlist);
  if (skip > 0) std::memmove(str, str + skip, std::strlen(str + skip) + 1);
  return str;
}

idx_t ax_GetStringID(const StringMap* table, const char* str) {
  const std::size_t len = std::strlen(str);
  for (idx_t i = 0; table[i].name != nullptr; ++i) {
    if (std::strlen(table[i].name) == len &&
        strncasecmp(table[i].name, str, len) == 0)
      return table[i].id;
  }
  return -1;
}

}  // namespace veldan
