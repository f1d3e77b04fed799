#include "tools/registry_watch.h"

#include <chrono>

namespace spool {

RegistryWatch::RegistryWatch(std::string printer, Console* console)
    : printer_(std::move(printer)), console_(console) {
  Sample(true);
  thread_ = std::thread([this] { Run(); });
}

RegistryWatch::~RegistryWatch() {
  Stop();
}

void RegistryWatch::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  thread_.join();
  Sample(false);
}

void RegistryWatch::Run() {
  while (!stop_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Sample(false);
  }
}

void RegistryWatch::Sample(bool first) {
  const std::optional<std::vector<RegValue>> values = ReadStatusKey(printer_);
  if (!values) {
    if (first || keyExisted_) console_->Event("registry", "StMonitor key absent");
    keyExisted_ = false;
    last_.clear();
    return;
  }
  std::vector<std::string> now;
  std::string summary;
  for (const RegValue& value : *values) {
    now.push_back(value.name + "=" + RegData(value));
    summary += (summary.empty() ? "" : ", ") + value.name + "=" + DisplayValue(value);
  }
  if (first || !keyExisted_) {
    console_->Event("registry", "StMonitor key: " + (summary.empty() ? "(no values)" : summary));
  } else {
    for (const RegValue& value : *values) {
      const std::string line = value.name + "=" + RegData(value);
      bool seen = false;
      for (const std::string& before : last_) seen = seen || before == line;
      if (!seen) {
        ++changes_;
        console_->Event("registry", value.name + " = " + DisplayValue(value));
      }
    }
    for (const std::string& before : last_) {
      const std::string name = before.substr(0, before.find('='));
      bool present = false;
      for (const RegValue& value : *values) present = present || value.name == name;
      if (!present) {
        ++changes_;
        console_->Event("registry", name + " deleted");
      }
    }
  }
  keyExisted_ = true;
  last_ = now;
}

}  // namespace spool
