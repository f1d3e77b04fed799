#include "tools/wine_launch.h"

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#endif

namespace spool {

#ifdef _WIN32

bool IsWindowsBuild() {
  return true;
}
std::string RunWindowsBuild(const std::vector<std::string>&) {
  return "already under Windows";
}

#else

bool IsWindowsBuild() {
  return false;
}

std::string RunWindowsBuild(const std::vector<std::string>& args) {
  const char* fromEnvironment = std::getenv("KOVIRLM_WINDOWS_BUILD");
  const std::filesystem::path build =
      fromEnvironment != nullptr ? fromEnvironment : KOVIRLM_DEFAULT_WINDOWS_BUILD;
  const std::filesystem::path program = build / "kovir_spool.exe";
  std::error_code ignored;
  if (!std::filesystem::exists(program, ignored) ||
      !std::filesystem::exists(build / "kovirlm.dll", ignored)) {
    return "--wine: no Windows build in " + build.string() +
           " (scripts/demo --wine builds it; KOVIRLM_WINDOWS_BUILD names another folder)";
  }
  setenv("WINEPREFIX", (build / "wineprefix").c_str(), 0);
  setenv("WINEDEBUG", "-all", 0);
  std::vector<std::string> command = {"wine", program.string()};
  for (const std::string& arg : args) {
    if (arg != "--wine") command.push_back(arg);
  }
  std::vector<char*> argv;
  for (std::string& arg : command) argv.push_back(arg.data());
  argv.push_back(nullptr);
  execvp("wine", argv.data());
  return std::string("--wine: cannot run wine: ") + std::strerror(errno);
}

#endif

}  // namespace spool
