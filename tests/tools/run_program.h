// Runs kovir_spool as a user does, through the system's command interpreter (sh
// natively, cmd under Wine), and collects its exit status, output and error
// output from files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace spool_test {

struct ProgramRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

inline std::string Quote(const std::string& arg) {
#ifdef _WIN32
  return "\"" + arg + "\"";  // the tests' arguments never contain quotes
#else
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

// Runs the simulator with `args`; its output goes to files in `scratch`.
inline ProgramRun RunSpool(const std::vector<std::string>& args,
                           const std::filesystem::path& scratch) {
  std::filesystem::create_directories(scratch);
  const std::filesystem::path out = scratch / "stdout.txt";
  const std::filesystem::path err = scratch / "stderr.txt";
  std::string command = Quote(KOVIR_SPOOL_PROGRAM);
  // Appended piece by piece: GCC 12 misreads "literal" + temporary as an overlapping copy.
  for (const std::string& arg : args) command.append(" ").append(Quote(arg));
  command.append(" > ").append(Quote(out.string())).append(" 2> ").append(Quote(err.string()));
#ifdef _WIN32
  // cmd /c strips the outer pair of quotes from a line that starts with one.
  command = "\"" + command;
  command += "\"";
#endif
  const int status = std::system(command.c_str());
  ProgramRun run;
#ifdef _WIN32
  run.exitCode = status;
#else
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  run.out = ReadWholeFile(out);
  run.err = ReadWholeFile(err);
  return run;
}

// The "name"=data lines of a .reg file, by name; CR LF or LF line ends.
inline std::map<std::string, std::string> RegValues(const std::string& regFile) {
  std::map<std::string, std::string> values;
  std::istringstream lines(regFile);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 2 || line[0] != '"') continue;
    const std::size_t close = line.find("\"=");
    if (close == std::string::npos) continue;
    values[line.substr(1, close - 1)] = line.substr(close + 2);
  }
  return values;
}

inline int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

}  // namespace spool_test
