// Watches the printer's StMonitor key from a thread of its own and puts every
// change it samples on the timeline. It samples every 10 ms, so a value that
// changes twice within one sample shows only its later state; the monitor holds
// each of its writes far longer than that (the ink exchange keeps
// GetRealTimeStatusStartFlag at 0 for at least half a second). The export after
// the run reads the key again, exactly.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tools/console.h"
#include "tools/reg_export.h"

namespace spool {

struct RegistryWatch {
  RegistryWatch(std::string printer, Console* console);
  ~RegistryWatch();  // stops the thread
  RegistryWatch(const RegistryWatch&) = delete;
  RegistryWatch& operator=(const RegistryWatch&) = delete;

  // Takes a last sample and stops.
  void Stop();
  int Changes() const { return changes_; }

 private:
  void Run();
  void Sample(bool first);

  std::string printer_;
  Console* console_;
  std::vector<std::string> last_;  // "name=data" per value, in export order
  bool keyExisted_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> changes_{0};
  std::thread thread_;
};

}  // namespace spool
