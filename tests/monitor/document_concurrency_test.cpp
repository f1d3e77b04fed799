// Two ports print at once, each with its own poller using its own port's key. Every
// registry write must land in the printer's own key, each printer must receive
// exactly its own commands and jobs, and once both are done neither port has a key
// selected or LanMonExistFlag raised.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "emulator/status_app.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"
#include "tests/support/monitor_fixture.h"
#include "tests/support/printer_text.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;
using monitor_test::kPrintersKey;
using monitor_test::MonitorTest;
using monitor_test::StoreValuesIn;

// The bytes of document `round` on `port`, distinct for every port and round.
std::string DocumentBytes(const std::string& port, int round) {
  std::string bytes;
  for (int line = 0; line < 8; ++line) {
    bytes += port + " document " + std::to_string(round) + " line " + std::to_string(line) + "\n";
  }
  return bytes;
}

using DocumentConcurrency = monitor_test::BothFaces<MonitorTest>;
KOVIRLM_BOTH_FACES(DocumentConcurrency);

TEST_P(DocumentConcurrency, TwoPortsPrintingWhileTheStatusKeyIsInUseTouchOnlyTheirOwnKeys) {
  const std::string first = "DocRace.Kp", second = "DocRace.KpSecond";
  const std::string bystander = "DocRace.Kp.Bystander";
  // A registered model without the ink query: the pollers poll every 100 ms.
  for (const std::string& printer : {first, second, bystander}) {
    Register(printer, "KP-100", 1, 1, 100);
  }
  emu::PrinterOptions options;
  options.deviceId = monitor_test::DeviceIdFor("KP-100");
  options.statusUpdateEveryMs = 50;
  const std::string statusCommand = monitor_test::Bytes(StatusCommandA);
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
    port.record = OpenPort(port.name, *port.printer, options);
    ASSERT_NE(port.record, nullptr);
  }

  constexpr int kDocuments = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> spoolers;
  for (Port& port : ports) {
    spoolers.emplace_back([&port, &failures, &statusCommand, spool = Spool()] {
      for (int round = 0; round < kDocuments; ++round) {
        if (!spool.StartDoc(port.record, port.printer, round + 1)) {
          failures.fetch_add(1);
          continue;
        }
        if (!HasStatusBits(port.record, PS_POLLER_RUN)) failures.fetch_add(1);
        port.expected += statusCommand;
        std::string bytes = DocumentBytes(port.name, round);
        for (std::size_t at = 0; at < bytes.size(); at += 37) {
          DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(37, bytes.size() - at));
          DWORD written = 0;
          if (!spool.Write(port.record, reinterpret_cast<LPBYTE>(&bytes[at]), chunk, &written) ||
              written != chunk) {
            failures.fetch_add(1);
          }
        }
        port.expected += bytes;
        // Now and then the document stays open until its poller has published.
        if (round % 5 == 4) {
          app::DeleteValue(*port.printer, VALUE_STATUS_STRING);
          if (!monitor_test::WaitUntil(
                  [&] { return app::PublishedStatus(*port.printer).has_value(); })) {
            failures.fetch_add(1);
          }
        }
        spool.EndDoc(port.record);
      }
    });
  }
  for (std::thread& spooler : spoolers) spooler.join();

  EXPECT_EQ(failures.load(), 0);
  for (const Port& port : ports) {
    EXPECT_TRUE(emu::Received(port.name) == port.expected) << port.name << " got another job";
    EXPECT_EQ(port.record->status.load(), PS_PRINTER_MATCHED) << port.name;
    EXPECT_FALSE(IsStatusKeySelected(port.record->statusKey)) << port.name;
    EXPECT_EQ(app::ReadDword(*port.printer, VALUE_LAN_MONITOR), 0u) << port.name;
  }
  monitor_test::ExpectStoreValuesOnlyInOwnKeys(first, second, bystander);
}

// Port A's printer goes off line mid-document: its poller is inside a read that
// blocks for 5 s when A's EndDocPort comes. Meanwhile port B's whole document,
// open to close, waits for none of it: a bound well under the block, generous for a
// loaded machine under Wine.
TEST_P(DocumentConcurrency, AnOffLinePortsEndDocPortHoldsUpNoOtherPort) {
  const std::string a = "DocRace.OffLine", b = "DocRace.OffLineOther";
  Register(a, "KP-100", 1, 1, 100);
  Register(b, "KP-100", 1, 1, 100);
  emu::PrinterOptions options;
  options.deviceId = monitor_test::DeviceIdFor("KP-100");
  PortRecord* recordA = OpenPort("RACE1:", a, options);
  ASSERT_TRUE(recordA != nullptr && StartDoc(recordA, a) && HasStatusBits(recordA, PS_POLLER_RUN));
  emu::SetOffline("RACE1:", 5000);
  ASSERT_TRUE(monitor_test::WaitUntil([] { return emu::BlockedCalls("RACE1:") > 0; }));
  monitor_test::BackgroundCall endA([&] { EndDoc(recordA); });
  ASSERT_TRUE(monitor_test::WaitUntil([&] { return !HasStatusBits(recordA, PS_POLLER_RUN); }));

  const auto start = std::chrono::steady_clock::now();
  PortRecord* recordB = OpenPort("RACE2:", b, options);
  ASSERT_NE(recordB, nullptr);
  EXPECT_TRUE(StartDoc(recordB, b) && Write(recordB, "page") && EndDoc(recordB));
  EXPECT_TRUE(ClosePort(recordB));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  EXPECT_FALSE(endA.FinishedWithin(0)) << "A's poller was not held by its device meanwhile";
  emu::SetOffline("RACE1:", 0);
}

}  // namespace
