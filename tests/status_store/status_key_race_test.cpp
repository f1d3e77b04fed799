// The current key changes under the feet of running operations: spooler threads
// select and clear it while poller threads read and write values. Every operation
// must use a whole path, one of the two printers' own keys or none, and never a
// key in between: the Printers key, a printer's own key without "\StMonitor", or
// another printer's key.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "emulator/status_app.h"
#include "status_store/status_key.h"
#include "tests/support/store_values.h"

namespace {

namespace app = emu::status_app;
using monitor_test::kPrintersKey;
using monitor_test::StoreValuesIn;

TEST(StatusKeyRace, OperationsNeverUseAPathInTheMakingOrAnotherPrintersKey) {
  // The second name extends the first, so a half-copied path would name the first
  // printer's own key, or the second's without its suffix.
  const std::string first = "StoreRace.Kp", second = "StoreRace.KpSecond";
  const std::string bystander = "StoreRace.Kp.Bystander";
  for (const std::string& printer : {first, second, bystander}) {
    app::Uninstall(printer);
    app::Install(printer, "KP-210S", 1, 1, 3000);
  }
  // Values the operations would recreate, had they opened the bystander's key.
  app::DeleteValue(bystander, VALUE_STATUS_MONITOR);
  app::DeleteValue(bystander, VALUE_STATUS_THREAD);
  ASSERT_TRUE(StoreValuesIn(kPrintersKey).empty()) << "left over from an earlier run";

  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  // Two spooler threads starting and ending documents for the two printers.
  // Each yields after a change, so that a key stays current for a while and the
  // operations do reach it.
  std::atomic<int> rounds{0};
  for (const std::string* printer : {&first, &second}) {
    threads.emplace_back([printer, &stop, &rounds] {
      for (int round = 0; !stop.load(); ++round) {
        SelectStatusKey(printer->c_str());
        std::this_thread::yield();
        if (round % 3 == 2) {
          ClearStatusKey();
          std::this_thread::yield();
        }
        rounds.fetch_add(1);
      }
    });
  }
  // Two pollers running every operation meanwhile.
  std::atomic<int> passes{0};
  for (int poller = 0; poller < 2; ++poller) {
    threads.emplace_back([&stop, &passes] {
      char model[REGISTERED_MODEL_SIZE];
      while (!stop.load()) {
        LoadPollSettings();
        IsStatusMonitorPresent();
        IsStatusThreadActive();
        SetLanMonitorFlag(TRUE);
        StoreStatusString("status");
        StoreInkLevel("ink");
        ReadRegisteredModel(model);
        SetPollEnabled(1);
        passes.fetch_add(1);
      }
    });
  }
  // Until both sides have done enough, and the operations did reach a printer's
  // own key (a poller may run many passes while no key is current).
  auto reached = [&] {
    return app::Describe(first, VALUE_LAN_MONITOR) || app::Describe(second, VALUE_LAN_MONITOR);
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((passes.load() < 400 || rounds.load() < 400 || !reached()) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();
  ClearStatusKey();
  EXPECT_TRUE(reached()) << "no operation found a key current in 20 s";

  // No operation wrote anywhere but the printers' own keys.
  monitor_test::ExpectStoreValuesOnlyInOwnKeys(first, second, bystander);
  for (const std::string& printer : {first, second, bystander}) app::Uninstall(printer);
}

}  // namespace
