// Files, line reading, tokenising and the small string routines used by the
// file readers and the option parser.
#pragma once

#include <cstdio>

#include "support/types.h"

namespace veldan {

// 1 when name is an existing regular file, else 0.
int ax_fexists(const char* name);
// Opens the file or ends the program ("Failed on ax_fopen()").
std::FILE* ax_fopen(const char* name, const char* mode, const char* msg);
void ax_fclose(std::FILE* fp);
// Reads one line (line feed kept in the buffer) into *lineptr, growing it by
// doubling. Returns the number of characters before the line feed, or -1
// when the stream's end-of-file indicator was already set.
idx_t ax_getline(char** lineptr, std::size_t* capacity, std::FILE* stream);

// A text cut into tokens: a private copy of the text with the delimiters
// overwritten by nulls, and pointers to the tokens inside it.
struct TokenList {
  int ntoks = 0;
  char* strbuf = nullptr;
  char** list = nullptr;
};

void strtokenize(const char* str, const char* delims, TokenList* tokens);
void FreeTokens(TokenList* tokens);

char* ax_strdup(const char* str);
char* ax_strtrim_right(char* str, const char* rmlist);
char* ax_strtrim_left(char* str, const char* rmlist);

// One entry of a keyword table; a table ends with a null name.
struct StringMap {
  const char* name;
  idx_t id;
};

// Code of the first entry with the same length as str that matches it
// without regard to case; -1 when none does.
idx_t ax_GetStringID(const StringMap* table, const char* str);

}  // namespace veldan
