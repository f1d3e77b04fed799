#include "tools/report.h"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>

#include "emulator/device_monitor.h"
#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tools/ink_bars.h"
#include "tools/job_data.h"
#include "tools/port_tap.h"
#include "tools/reg_export.h"

namespace spool {
namespace {

bool WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

// The emulated printer's digest, which is FNV-1a.
std::string DigestText(const std::string& bytes) {
  return fmt::format("{} bytes, fnv1a-64 {:016x}", bytes.size(),
                     emu::Digest(emu::kDigestStart, bytes.data(), bytes.size()));
}

std::string ExportKey(const SpoolOptions& options, const std::filesystem::path& file,
                      Console& console) {
  const std::optional<std::vector<RegValue>> values = ReadStatusKey(options.printer);
  const std::string key = StatusKeyName(options.printer);
  if (!values) {
    console.Print("\nThe printer's StMonitor key does not exist; nothing exported.\n");
    return "";
  }
  if (!WriteFile(file, FormatRegFile(key, *values, "\r\n"))) {
    return "cannot write " + file.string();
  }
  console.Print("\nStMonitor key after the job (" + file.string() + "):\n\n" +
                FormatRegFile(key, *values, "\n"));
  return "";
}

void ShowInk(const SpoolOptions& options, Console& console) {
  const std::optional<std::string> stored =
      emu::status_app::ReadString(options.printer, VALUE_INK_LEVEL);
  if (!stored) {
    console.Print(
        "Ink levels: none stored (the monitor asks a KP-210S only, and only while the "
        "status application runs).\n");
    return;
  }
  const emu::InkLevels levels = emu::ParseInkLevel(*stored);
  if (levels.colours.empty()) {
    console.Print("Ink levels: InkLevel \"" + Printable(*stored) +
                  "\" is not in the printer's ink format.\n");
    return;
  }
  console.Print("Ink levels (InkLevel \"" + Printable(*stored, 40) + "\"):\n" + InkBars(levels));
}

std::string CheckReceived(const std::string& job, const std::string& received,
                          const std::filesystem::path& file, Console& console) {
  if (!WriteFile(file, received)) return "cannot write " + file.string();
  const std::optional<std::string> jobBytes = JobBytes(received, TappedWrites());
  const std::size_t commandBytes = jobBytes ? received.size() - jobBytes->size() : 0;
  std::string text = fmt::format(
      "\nThe printer received {} bytes ({}): {} from the monitor's commands, {} of job data.\n",
      received.size(), file.string(), commandBytes, jobBytes ? jobBytes->size() : 0);
  const bool intact = jobBytes && *jobBytes == job;
  text += "Job sent:     " + DigestText(job) + "\n";
  if (jobBytes) {
    text += "Job received: " + DigestText(*jobBytes) + "\n";
  } else {
    text += "Job received: the printer's bytes do not add up to the writes made\n";
  }
  text += intact ? "Job data: intact\n" : "Job data: NOT intact\n";
  console.Print(text);
  return intact ? "" : "the job's bytes did not arrive intact";
}

}  // namespace

std::string Report(const SpoolOptions& options, const std::string& job, const std::string& received,
                   Console& console) {
  const std::filesystem::path out(options.outDir);
  std::string error = ExportKey(options, out / "StMonitor.reg", console);
  ShowInk(options, console);
  const std::string check = CheckReceived(job, received, out / "received.bin", console);
  return error.empty() ? check : error;
}

}  // namespace spool
