// kovir_spool: a simulated print spooler for watching the KOVIR language monitor
// at work. It loads the monitor through InitializeMonitorEx, stacks it on the
// emulated device monitor and printer (through a tap that puts what crosses the
// port on a timeline), lets the status application stand-in register the
// printer, prints one job, and then shows the printer's StMonitor key, the ink
// levels and whether the job's bytes arrived intact.
//
// Exit status: 0 success, 1 the run failed, 2 a bad command line or job file.
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

std::string Banner(const spool::SpoolOptions& options, std::size_t jobSize) {
  std::string text = "kovir_spool " KOVIRLM_VERSION_STRING
                     " - simulated spooler printing through the KOVIR language monitor\n";
  text += "printer \"" + options.printer + "\" on " + options.port + ", device ID \"" +
          options.deviceId + "\"\n";
  text += "status application: " +
          (options.statusApp ? "running, model \"" + options.model + "\", polls every " +
                                   std::to_string(options.pollIntervalMs) + " ms"
                             : std::string("installed, not running (StMonExistFlag 0)")) +
          "\n";
  text += "job: " + (options.jobFile.empty() ? std::string("built-in sample") : options.jobFile) +
          ", " + std::to_string(jobSize) + " bytes, " +
          (options.paceKiBPerSecond == 0 ? std::string("unpaced")
                                         : std::to_string(options.paceKiBPerSecond) + " KiB/s") +
          "\n";
  text += "timeline: ms since start; registry lines come from sampling the key every 10 ms\n\n";
  return text;
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

  MONITOR monitor{};
  std::string loaded;
  error = spool::LoadMonitor(&monitor, &loaded);
  if (!error.empty()) {
    spool::TearDownScenario(options);
    return Fail(1, error);
  }
  console.Event("spooler", "InitializeMonitorEx -> TRUE (" + loaded + ")");

  MONITOR* device = spool::InstallPortTap(emu::DeviceMonitor(), &console);
  std::string received;
  {
    spool::RegistryWatch watch(options.printer, &console);
    error = spool::PrintJob(&monitor, device, options, *job, console);
    watch.Stop();
    received = emu::Received(options.port);
  }
  const spool::TapCounts counts = spool::TappedCounts();
  console.Print("\n" + std::to_string(counts.commands) + " command(s) sent, " +
                std::to_string(counts.repliesRead) + " replies read (" +
                std::to_string(counts.pollerReplies) + " by the poller), " +
                std::to_string(counts.emptyReads) + " empty reads.\n");
  const std::string reportError = spool::Report(options, *job, received, console);
  spool::TearDownScenario(options);
  if (!error.empty()) return Fail(1, error);
  if (!reportError.empty()) return Fail(1, reportError);
  return 0;
}
