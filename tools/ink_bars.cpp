#include "tools/ink_bars.h"

#include <algorithm>
#include <cstdio>

namespace spool {

std::string InkBars(const emu::InkLevels& levels, int width) {
  std::string text;
  for (const auto& [name, percent] : levels.colours) {
    // A printer may report out-of-range levels; the bar never overflows its frame.
    const int clamped = std::clamp(percent, 0, 100);
    const int filled = (clamped * width + 50) / 100;
    char label[32];
    std::snprintf(label, sizeof label, "  %-9s[", name.c_str());
    char tail[16];
    std::snprintf(tail, sizeof tail, "] %3d%%\n", percent);
    text += label + std::string(filled, '#') + std::string(width - filled, '.') + tail;
  }
  return text;
}

}  // namespace spool
