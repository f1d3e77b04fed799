// kovir_spool: a simulated print spooler for watching the KOVIR language monitor
// at work. It loads the monitor through InitializeMonitorEx, as the Windows 95
// spooler does, or through InitializePrintMonitor2, as the NT family's does
// (--face nt), stacks it on the emulated device monitor and printer (watching its
// calls to put what crosses the port on a timeline), lets the status application
// stand-in register the printer, prints one job, and then shows the printer's
// StMonitor key, the ink levels and whether the job's bytes arrived intact.
//
// Exit status: 0 success, 1 the run failed, 2 a bad command line or job file.
#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "emulator/device_monitor.h"
#include "tools/console.h"
#include "tools/job_data.h"
#include "tools/kovir_spool_version.h"
#include "tools/monitor_loader.h"
#include "tools/port_tap.h"
#include "tools/registry_watch.h"
#include "tools/report.h"
#include "tools/spool_options.h"
#include "tools/spool_run.h"
#include "tools/wine_launch.h"

namespace {

int Fail(int status, const std::string& error) {
  std::fprintf(stderr, "kovir_spool: %s\n", error.c_str());
  return status;
}

std::string Banner(const spool::SpoolOptions& o, std::size_t jobSize) {
  const std::string app = o.statusApp ? fmt::format("running, model \"{}\", polls every {} ms",
                                                    o.model, o.pollIntervalMs)
                                      : "installed, not running (StMonExistFlag 0)";
  return fmt::format(
      "kovir_spool " KOVIRLM_VERSION_STRING
      " - simulated spooler printing through the KOVIR language monitor\n"
      "spooler: {}\n"
      "printer \"{}\" on {}, device ID \"{}\"\nstatus application: {}\njob: {}, {} bytes, {}\n"
      "timeline: ms since start; registry lines come from sampling the key every 10 ms\n\n",
      o.face == spool::SpoolerFace::Nt ? "NT family (InitializePrintMonitor2, UTF-16 names)"
                                       : "Windows 95 (InitializeMonitorEx, ANSI names)",
      o.printer, o.port, o.deviceId, app, o.jobFile.empty() ? "built-in sample" : o.jobFile,
      jobSize, o.paceKiBPerSecond == 0 ? "unpaced" : fmt::format("{} KiB/s", o.paceKiBPerSecond));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const spool::ParsedOptions parsed = spool::ParseSpoolOptions(args);
  if (!parsed.error.empty()) return Fail(2, parsed.error);
  const spool::SpoolOptions& options = parsed.options;
  if (options.help) {
    std::fputs(spool::UsageText().c_str(), stdout);
    return 0;
  }
  if (options.wine && !spool::IsWindowsBuild()) return Fail(1, spool::RunWindowsBuild(args));

  std::string error;
  std::optional<std::string> job =
      options.jobFile.empty() ? spool::SampleJob() : spool::ReadJobFile(options.jobFile, &error);
  if (!job) return Fail(2, error);
  std::error_code created;
  std::filesystem::create_directories(options.outDir, created);
  if (created) {
    return Fail(2, "cannot create --out directory '" + options.outDir + "': " + created.message());
  }

  spool::Console console(stdout, spool::StdoutIsTerminal());
  console.Print(Banner(options, job->size()));
  spool::SetUpScenario(options);

  spool::LoadedMonitor monitor;
  std::string loaded;
  error = spool::LoadMonitor(options.face, &monitor, &loaded);
  if (!error.empty()) {
    spool::TearDownScenario(options);
    return Fail(1, error);
  }
  console.Event("spooler", spool::EntryLine(monitor, loaded));

  spool::StartPortTap(&console);
  std::string received;
  {
    spool::RegistryWatch watch(options.printer, &console);
    error = spool::PrintJob(monitor, options, *job, console);
    watch.Stop();
    received = emu::Received(options.port);
  }
  const spool::TapCounts counts = spool::TappedCounts();
  console.Print(
      fmt::format("\n{} command(s) sent, {} replies read ({} by the poller), {} empty reads.\n",
                  counts.commands, counts.repliesRead, counts.pollerReplies, counts.emptyReads));
  const std::string reportError = spool::Report(options, *job, received, console);
  spool::TearDownScenario(options);
  if (!error.empty()) return Fail(1, error);
  if (!reportError.empty()) return Fail(1, reportError);
  return 0;
}
