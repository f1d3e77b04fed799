#include "tools/job_data.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace spool {

std::string SampleJob() {
  constexpr std::size_t kSize = 48 * 1024;
  const std::string reset =
      "\x1b"
      "E";
  std::string job = reset;
  int page = 1;
  int line = 1;
  while (job.size() < kSize) {
    job += fmt::format(
        "KOVIR demo job, page {}, line {:2}: the quick brown fox jumps over the lazy dog.\r\n",
        page, line);
    if (++line > 60) {
      job += '\f';
      line = 1;
      ++page;
    }
  }
  job.resize(kSize - reset.size() - 1);
  return job + "\f" + reset;
}

std::optional<std::string> ReadJobFile(const std::string& path, std::string* error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    *error = "cannot read job file '" + path + "': it is a directory";
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot read job file '" + path + "': " + std::strerror(errno);
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (file.bad()) {
    *error = "cannot read job file '" + path + "'";
    return std::nullopt;
  }
  return bytes.str();
}

std::optional<std::string> JobBytes(const std::string& received,
                                    const std::vector<WriteSegment>& writes) {
  std::string job;
  std::size_t at = 0;
  for (const WriteSegment& write : writes) {
    if (at + write.length > received.size()) return std::nullopt;
    if (write.job) job.append(received, at, write.length);
    at += write.length;
  }
  if (at != received.size()) return std::nullopt;
  return job;
}

}  // namespace spool
