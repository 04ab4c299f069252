// Standard output of the partitioning routines, and its capture per task.
//
// Tasks that run at once (the runs of a bisection, the halves of a
// recursive bisection) each print into a capture of their own; their caller
// prints the captures in task order, so that the report reads the same
// whatever the number of threads.
#pragma once

#include <string>

namespace veldan {

// printf to standard output, or to the capture of the calling task.
void Print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Flushes standard output; nothing while capturing.
void FlushPrint();
// Writes text as it is, where Print would.
void PrintText(const std::string& text);

class ProgressLine;
// The progress line that Print keeps clear of while it writes to standard
// output (null: none).
void SetOutputObserver(ProgressLine* line);

// While the object lives, Print on its thread appends to it. Captures
// nest; the previous destination is back when the object goes.
class OutputCapture {
 public:
  OutputCapture();
  ~OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  // What was printed so far; the capture starts again empty.
  std::string Take();

 private:
  std::string text_;
  std::string* prev_;
};

}  // namespace veldan
