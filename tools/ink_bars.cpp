#include "tools/ink_bars.h"

#include <fmt/format.h>

#include <algorithm>

#include "tools/console.h"

namespace spool {

std::string InkBars(const emu::InkLevels& levels, int width) {
  std::string text;
  for (const auto& [name, percent] : levels.colours) {
    // A printer may report out-of-range levels; the bar never overflows its frame.
    text += fmt::format("  {:9}{} {:3}%\n", name, Bar(std::clamp(percent, 0, 100), 100, width),
                        percent);
  }
  return text;
}

}  // namespace spool
