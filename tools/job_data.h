// The job the simulated spooler prints and the check that it arrived intact.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace spool {

// A built-in sample job: a few pages of text between printer resets, 48 KiB, the
// same bytes on every run.
std::string SampleJob();

// The whole file, or nothing (with `error` set to a reason) when it cannot be read.
std::optional<std::string> ReadJobFile(const std::string& path, std::string* error);

// One write the printer accepted, in order: the spooler's job data or one of the
// monitor's own commands.
struct WriteSegment {
  bool job;
  std::size_t length;
};

// The job's bytes among everything the printer received, cutting out the
// monitor's commands by their place in the stream. Nothing when the received
// bytes do not add up to the writes made.
std::optional<std::string> JobBytes(const std::string& received,
                                    const std::vector<WriteSegment>& writes);

}  // namespace spool
