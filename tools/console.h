// The run's live output: timeline lines (elapsed ms, who, what) and the job's
// progress. Spooler, poller and watcher threads all print through one Console,
// so its lock keeps their lines whole.
//
// On a terminal the progress is a bar redrawn in place under the timeline; every
// timeline line first clears the bar and then redraws it. Anywhere else (a pipe, a
// file, a test) progress is a plain line at each quarter of the job.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace spool {

struct Console {
  explicit Console(std::FILE* out, bool terminal);

  // Milliseconds since the Console was made (the spooler's start).
  long ElapsedMs() const;

  // One timeline line: "[  1234 ms] who       what".
  void Event(const std::string& who, const std::string& what);
  // Plain output (headings, the report after the run).
  void Print(const std::string& text);

  void Progress(std::size_t done, std::size_t total);
  // Ends the bar's line on a terminal.
  void EndProgress();

 private:
  void DrawBarLocked();
  void ClearBarLocked();

  std::FILE* out_;
  bool terminal_;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::string bar_;        // the bar as last drawn (terminal only)
  int quartersShown_ = 0;  // plain progress lines printed so far
};

// A bar `width` characters wide between brackets, filled with '#' for `part` of
// `whole` (rounded, never past the frame) and '.' for the rest: "[#####.....]".
std::string Bar(std::size_t part, std::size_t whole, int width);

// Bytes as a reader can take them in one line: printable ASCII as is, the rest
// as \xNN, cut after `limit` characters with "...".
std::string Printable(const std::string& bytes, std::size_t limit = 72);
// Bytes as lowercase hex pairs: "1b 40" on the timeline, "1b,40" in a .reg file.
std::string Hex(const std::string& bytes, const char* separator = " ");

bool StdoutIsTerminal();

}  // namespace spool
