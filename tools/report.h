// What the simulator shows after the job: the StMonitor key exported as a .reg
// file, the ink levels as bars, and the bytes the printer received with the
// check that the job's bytes arrived intact.
#pragma once

#include <string>

#include "tools/console.h"
#include "tools/spool_options.h"

namespace spool {

// Writes OUT/StMonitor.reg and OUT/received.bin and prints the report. Returns
// an empty string when the job arrived intact and both files were written, else
// a one-line error.
std::string Report(const SpoolOptions& options, const std::string& job, const std::string& received,
                   Console& console);

}  // namespace spool
