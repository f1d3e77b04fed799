// Two ports select, use and clear their own keys at the same time, as the spooler
// threads and pollers of two printers do. Every operation must use its own port's
// whole path or none, and never a key in between: the Printers key, a printer's
// own key without "\StMonitor", or the other printer's key.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

using StatusKeyRace = testing::TestWithParam<monitor_test::Face>;
KOVIRLM_BOTH_FACES(StatusKeyRace);

TEST_P(StatusKeyRace, OperationsNeverUseAPathInTheMakingOrAnotherPrintersKey) {
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
  // One thread per port: a document selects the port's key, runs every operation
  // (the status text names the printer) and every third round clears the key and
  // runs them once more on no key.
  std::atomic<int> rounds{0};
  for (const std::string* printer : {&first, &second}) {
    threads.emplace_back([printer, &stop, &rounds, face = GetParam()] {
      StatusKey key{};
      char model[REGISTERED_MODEL_SIZE];
      auto everyOperation = [&] {
        LoadPollSettings(key);
        IsStatusMonitorPresent(key);
        IsStatusThreadActive(key);
        SetLanMonitorFlag(key, TRUE);
        StoreStatusString(key, printer->c_str());
        StoreInkLevel(key, printer->c_str());
        ReadRegisteredModel(key, model);
        SetPollEnabled(key, 1);
      };
      for (int round = 0; !stop.load(); ++round) {
        monitor_test::SelectKey(key, printer->c_str(), face);
        everyOperation();
        std::this_thread::yield();
        if (round % 3 == 2) {
          ClearStatusKey(key);
          everyOperation();
        }
        rounds.fetch_add(1);
      }
    });
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (rounds.load() < 800 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stop = true;
  for (std::thread& thread : threads) thread.join();

  // Each printer's key holds its own port's values, and nothing landed anywhere
  // but the printers' own keys.
  for (const std::string& printer : {first, second}) {
    EXPECT_EQ(app::PublishedStatus(printer), printer);
    EXPECT_EQ(app::PublishedInkLevel(printer), printer);
    EXPECT_EQ(app::ReadDword(printer, VALUE_LAN_MONITOR), 1u) << printer;
  }
  monitor_test::ExpectStoreValuesOnlyInOwnKeys(first, second, bystander);
  for (const std::string& printer : {first, second, bystander}) app::Uninstall(printer);
}

}  // namespace
