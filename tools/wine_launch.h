// `--wine` in the native build: hand the run over to the Windows build of the
// simulator under Wine, where it loads the real kovirlm.dll and the registry is
// Wine's. The Windows build looks for it in KOVIRLM_WINDOWS_BUILD, or in the
// windows preset's build folder.
#pragma once

#include <string>
#include <vector>

namespace spool {

// True in the Windows build, where --wine needs no hand-over.
bool IsWindowsBuild();

// Replaces this process with `wine kovir_spool.exe args...` (without --wine).
// Returns only on failure, with a one-line error.
std::string RunWindowsBuild(const std::vector<std::string>& args);

}  // namespace spool
