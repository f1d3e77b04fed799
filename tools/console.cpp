#include "tools/console.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace spool {

Console::Console(std::FILE* out, bool terminal)
    : out_(out), terminal_(terminal), start_(std::chrono::steady_clock::now()) {}

long Console::ElapsedMs() const {
  using namespace std::chrono;
  return static_cast<long>(duration_cast<milliseconds>(steady_clock::now() - start_).count());
}

void Console::Event(const std::string& who, const std::string& what) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%6ld ms] ", ElapsedMs());
  std::string line = stamp + who;
  if (who.size() < 10) line.append(10 - who.size(), ' ');
  line += " " + what + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  std::fputs(line.c_str(), out_);
  DrawBarLocked();
  std::fflush(out_);
}

void Console::Print(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBarLocked();
  std::fputs(text.c_str(), out_);
  DrawBarLocked();
  std::fflush(out_);
}

void Console::Progress(std::size_t done, std::size_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_) {
    bar_ = ProgressBar(done, total, 30);
    std::fputs(("\r" + bar_).c_str(), out_);
  } else {
    // A line at 25, 50, 75 and 100 percent keeps a log readable.
    const int quarters = total == 0 ? 4 : static_cast<int>(done * 4 / total);
    if (quarters <= quartersShown_) return;
    quartersShown_ = quarters;
    std::fputs((ProgressBar(done, total, 20) + "\n").c_str(), out_);
  }
  std::fflush(out_);
}

void Console::EndProgress() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminal_ && !bar_.empty()) std::fputs("\n", out_);
  bar_.clear();
  std::fflush(out_);
}

void Console::ClearBarLocked() {
  if (terminal_ && !bar_.empty()) std::fputs("\r\033[K", out_);
}

void Console::DrawBarLocked() {
  if (terminal_ && !bar_.empty()) std::fputs(bar_.c_str(), out_);
}

std::string ProgressBar(std::size_t done, std::size_t total, int width) {
  const std::size_t filled = total == 0 ? width : done * width / total;
  const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  std::string bar = "job [";
  bar.append(filled, '#');
  bar.append(width - filled, '.');
  char tail[64];
  std::snprintf(tail, sizeof tail, "] %3d%%  %zu/%zu bytes", percent, done, total);
  return bar + tail;
}

std::string Printable(const std::string& bytes, std::size_t limit) {
  std::string text;
  for (unsigned char c : bytes) {
    if (text.size() >= limit) return text + "...";
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else if (c == '\\') {
      text += "\\\\";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      text += escaped;
    }
  }
  return text;
}

std::string Hex(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", c);
    if (!text.empty()) text += ' ';
    text += pair;
  }
  return text;
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

}  // namespace spool
