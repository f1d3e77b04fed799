// Two ports print at once while a poller-like thread keeps using the status key.
// The current key flips between the two printers (the latest StartDocPort
// decides, any EndDocPort clears it), but every registry write must land in one of
// the two printers' own keys, and each printer must receive exactly its own job.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;
using monitor_test::kPrintersKey;
using monitor_test::StoreValuesIn;
using monitor_test::MonitorTest;
using monitor_test::Spooler;

// The bytes of document `round` on `port`, distinct for every port and round.
std::string DocumentBytes(const std::string& port, int round) {
  std::string bytes;
  for (int line = 0; line < 8; ++line) {
    bytes += port + " document " + std::to_string(round) + " line " + std::to_string(line) + "\n";
  }
  return bytes;
}

using DocumentConcurrency = MonitorTest;

TEST_F(DocumentConcurrency, TwoPortsPrintingWhileTheStatusKeyIsInUseTouchOnlyTheirOwnKeys) {
  const std::string first = "DocRace.Kp", second = "DocRace.KpSecond";
  const std::string bystander = "DocRace.Kp.Bystander";
  ClearStatusKey();
  for (const std::string& printer : {first, second, bystander}) {
    app::Install(printer, "KP-NOT-THIS-ONE", 1);
  }
  app::DeleteValue(bystander, VALUE_STATUS_MONITOR);
  app::DeleteValue(bystander, VALUE_STATUS_THREAD);
  ASSERT_EQ(StoreValuesIn(kPrintersKey), std::vector<std::string>{}) << "left from an earlier run";

  struct Port {
    const char* name;
    const std::string* printer;
    PortRecord* record;
    std::string expected;
  } ports[] = {{"RACE1:", &first, nullptr, {}}, {"RACE2:", &second, nullptr, {}}};
  for (Port& port : ports) {
    port.record = OpenPort(port.name, *port.printer);
    ASSERT_NE(port.record, nullptr);
  }

  constexpr int kDocuments = 25;
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> spoolers;
  for (Port& port : ports) {
    spoolers.emplace_back([&port, &failures] {
      LPSTR printer = const_cast<LPSTR>(port.printer->c_str());
      for (int round = 0; round < kDocuments; ++round) {
        if (!Spooler().pfnStartDocPort(port.record, printer, round + 1, 1, nullptr)) {
          failures.fetch_add(1);
          continue;
        }
        std::string bytes = DocumentBytes(port.name, round);
        for (std::size_t at = 0; at < bytes.size(); at += 37) {
          DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(37, bytes.size() - at));
          DWORD written = 0;
          if (!Spooler().pfnWritePort(port.record, reinterpret_cast<LPBYTE>(&bytes[at]), chunk,
                                      &written) ||
              written != chunk) {
            failures.fetch_add(1);
          }
        }
        port.expected += bytes;
        Spooler().pfnEndDocPort(port.record);
      }
    });
  }
  std::thread user([&stop] {
    char model[REGISTERED_MODEL_SIZE];
    while (!stop.load()) {
      LoadPollSettings();
      IsStatusMonitorPresent();
      IsStatusThreadActive();
      StoreStatusString("status");
      StoreInkLevel("ink");
      ReadRegisteredModel(model);
      SetPollEnabled(PollEnabled.load());
    }
  });
  for (std::thread& spooler : spoolers) spooler.join();
  stop = true;
  user.join();

  EXPECT_EQ(failures.load(), 0);
  for (const Port& port : ports) {
    EXPECT_TRUE(emu::Received(port.name) == port.expected) << port.name << " got another job";
    EXPECT_EQ(port.record->status.load(), 0u) << port.name;
  }
  char path[STATUS_KEY_BUFFER_SIZE];
  EXPECT_FALSE(CopyStatusKeyPath(path)) << "the last EndDocPort left " << path << " current";
  monitor_test::ExpectStoreValuesOnlyInOwnKeys(first, second, bystander);
  for (const std::string& printer : {first, second, bystander}) app::Uninstall(printer);
}

}  // namespace
