#include "tools/console.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
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

namespace {

// "job [#####.....]  50%  24576/49152 bytes".
std::string ProgressBar(std::size_t done, std::size_t total, int width) {
  const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
  return fmt::format("job {} {:3}%  {}/{} bytes", Bar(done, total, width), percent, done, total);
}

}  // namespace

void Console::Event(const std::string& who, const std::string& what) {
  const std::string line = fmt::format("[{:6} ms] {:10} {}\n", ElapsedMs(), who, what);
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

std::string Bar(std::size_t part, std::size_t whole, int width) {
  const auto w = static_cast<std::size_t>(width);
  const std::size_t filled = whole == 0 ? w : std::min(w, (2 * part * w + whole) / (2 * whole));
  return fmt::format("[{}{}]", std::string(filled, '#'), std::string(w - filled, '.'));
}

std::string Printable(const std::string& bytes, std::size_t limit) {
  std::string text;
  for (unsigned char c : bytes) {
    if (text.size() >= limit) return text + "...";
    if (c == '\\') {
      text += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += fmt::format("\\x{:02x}", c);
    }
  }
  return text;
}

std::string Hex(const std::string& bytes, const char* separator) {
  const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
  return fmt::format("{:02x}", fmt::join(begin, begin + bytes.size(), separator));
}

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

}  // namespace spool
