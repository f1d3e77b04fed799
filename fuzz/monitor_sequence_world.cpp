// The printers, ports and status application of a monitor-sequence input. The
// application's registry changes are made inside AsApplication, so the fuzzer's
// registry check never takes them for the monitor's.
#include "fuzz/monitor_sequence_world.h"

#include <algorithm>
#include <chrono>

#include "emulator/device_monitor.h"
#include "emulator/printer_replies.h"
#include "emulator/status_app.h"
#include "fuzz/monitor_sequence_watch.h"
#include "platform/diagnostics.h"
#include "printer_status/device_id.h"
#include "printer_status/remote_commands.h"
#include "status_store/status_key.h"

namespace sequence {

const char* const kPortNames[kPorts] = {"SEQ1:", "SEQ2:", "SEQ3:", "SEQ4:"};

namespace {

namespace app = emu::status_app;

const char* const kPrinterNames[kPrinters] = {"KOVIR Alpha", "KOVIR Beta", "KOVIR Gamma"};
// What the application may register as IDMDL, by the data byte of "app N IDMDL set".
const char* const kRegisteredModels[] = {"KP-210S", "KP-6600S", "DL-9240", "KP-6600SU", "Laser 5"};
constexpr auto kApplicationThreadRuns = std::chrono::milliseconds(20);
constexpr auto kApplicationLooks = std::chrono::milliseconds(1);  // how often it looks at its flag
// The most the monitor asks for in one read: a full chunk makes it read on.
constexpr std::size_t kFullChunk = 2047;

std::string DeviceId(int kind) {
  switch (kind) {
    case 0:
      return emu::DeviceIdFor("KP-210S");
    case 1:
      return emu::DeviceIdFor("KP-6600S");
    case 2:
      return emu::DeviceIdFor("DL-9240");
    case 3:
      return "MFG:ACME;CMD:PCL;MDL:Laser 5;CLS:PRINTER;";
    default: {
      // Fills the whole device-ID buffer with no terminator and no end to MDL.
      std::string id = "MFG:KOVIR;CMD:REMOTE1;MDL:KP-210S";
      id.resize(DEVICE_ID_BUFFER_SIZE, 'x');
      return id;
    }
  }
}

std::string Pattern(std::uint8_t seed, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(seed + i * 131 + (i >> 8) * 7);
  }
  return bytes;
}

void Register(const World& world, int index) {
  const auto& setup = world.program.printers[index];
  const std::string& name = world.printers[index].name;
  AsApplication application;
  app::Uninstall(name);
  const int model = setup[kModel];
  if (model == 4) return;  // "no-key"
  app::Install(name, model < 3 ? kModelWords[model] : "", kAppFlags[setup[kApp]],
               setup[kPoll] == 0 ? 1 : 0, PrinterForm().args[kInterval].offset + setup[kInterval]);
  if (model == 3) app::DeleteValue(name, VALUE_REGISTERED_MODEL);  // "none"
}

// Whether StRealThreadExistFlag reads as set, the way the monitor reads a flag:
// up to four bytes taken as they are, more than four not at all.
bool RealThreadFlagUp(const std::string& printer) {
  AsApplication application;
  const std::optional<std::string> raw = app::ReadRaw(printer, VALUE_STATUS_THREAD);
  return raw && raw->size() <= 4 && raw->find_first_not_of('\0') != std::string::npos;
}

// Whether the application reads as present, as the monitor reads StMonExistFlag:
// missing or more than four bytes reads as 0 (the monitor writes that default),
// fewer as their own number.
bool ApplicationPresent(const std::string& printer) {
  AsApplication application;
  const std::optional<std::string> raw = app::ReadRaw(printer, VALUE_STATUS_MONITOR);
  if (!raw || raw->size() > 4) return false;
  DWORD flag = 0;
  for (std::size_t i = 0; i < raw->size(); ++i) {
    flag |= static_cast<DWORD>(static_cast<unsigned char>((*raw)[i])) << (8 * i);
  }
  return flag != 0 && flag != 16;
}

}  // namespace

void SetUp(World& world) {
  for (int i = 0; i < kPrinters; ++i) {
    world.printers[i].name = kPrinterNames[i];
    world.names.push_back(kPrinterNames[i]);
    diag::AddSpoolerPrinter(kPrinterNames[i]);
    Register(world, i);
  }
  for (int i = 0; i < kPorts; ++i) {
    const auto& setup = world.program.ports[i];
    Port& port = world.ports[i];
    port.name = kPortNames[i];
    port.printer = setup[kPrinter];
    port.options.deviceId = DeviceId(setup[kDevice]);
    port.options.answersCommands = setup[kReplies] != 3;
    port.options.inkReady = setup[kReplies] != 1;
    port.options.answersInkQuery = setup[kReplies] != 2;
    port.options.replyDelayReads = setup[kDelay];
    port.options.readChunk = static_cast<std::size_t>(kChunkSizes[setup[kChunk]]);
    port.options.statusUpdateEveryMs = static_cast<DWORD>(kUpdatePeriods[setup[kUpdates]]);
    port.options.kind = static_cast<emu::PortKind>(setup[kKind]);
    emu::AttachPrinter(port.name, port.options);
  }
}

void CleanUp(World& world) {
  AsApplication application;
  for (const std::string& name : world.names) {
    app::Uninstall(name);
    diag::RemoveSpoolerPrinter(name.c_str());
  }
  emu::Reset();
}

void Rename(World& world, int index) {
  Printer& printer = world.printers[index];
  printer.name = std::string(kPrinterNames[index]) + " #" + std::to_string(++printer.renames);
  world.names.push_back(printer.name);
  diag::AddSpoolerPrinter(printer.name.c_str());
  Register(world, index);
}

void SetValue(const std::string& printer, int value, int form, std::uint8_t data) {
  AsApplication application;
  const std::string name = kValueWords[value];
  const bool model = name == VALUE_REGISTERED_MODEL;
  const char byte = static_cast<char>(data);
  switch (form) {
    case 0:  // well-formed
      if (model) {
        app::SetString(printer, name, kRegisteredModels[data % 5]);
      } else {
        app::SetDword(printer, name, data);
      }
      break;
    case 1:  // short: two bytes, a model cut short without its end
      app::SetRaw(printer, name, model ? REG_SZ : REG_DWORD,
                  model ? std::string("KP-") : std::string{byte, '\0'});
      break;
    case 2:  // long: eight bytes, a model of 600 characters
      app::SetRaw(printer, name, model ? REG_SZ : REG_DWORD,
                  model ? std::string(600, 'K') : byte + std::string(7, '\0'));
      break;
    case 3:  // the wrong type: a flag as text, a model as a number
      if (model) {
        app::SetDword(printer, name, data);
      } else {
        app::SetString(printer, name, std::to_string(data));
      }
      break;
    default:
      app::DeleteValue(printer, name);
      break;
  }
}

std::optional<std::string> NameFor(const World& world, const Port& port, int which) {
  if (which == 0) return world.printers[port.printer].name;
  if (which <= 3) return world.printers[which - 1].name;
  if (which == 4) return "";
  return std::nullopt;
}

std::string JobBytes(std::size_t size, int content, std::uint8_t seed) {
  std::string bytes = Pattern(seed, size);
  if (content != 0) {
    // A remote-mode block in the middle of the job: the printer answers it as it
    // answers the monitor's own.
    const std::string block = content == 1 ? Block(StatusCommandA) : Block(InkQueryCommand);
    const std::size_t at = size > block.size() ? (size - block.size()) / 2 : 0;
    const std::size_t fits = std::min(block.size(), size - at);
    bytes.replace(at, fits, block, 0, fits);
  }
  return bytes;
}

std::string PrinterSays(int what, std::uint8_t length) {
  switch (what) {
    case 0:
      return emu::MakeStatusReply(true);
    case 1:
      return emu::MakeStatusReply(false);
    case 2:
      return emu::MakeInkReply(emu::DefaultInkLevels());
    case 3:
      return Pattern(length, static_cast<std::size_t>(length) + 1);
    case 4: {  // a full read chunk with a ready status reply at its start
      std::string chunk = emu::MakeStatusReply(true);
      chunk.resize(kFullChunk, '.');
      return chunk;
    }
    case 5:
      return emu::MakeStatusUpdate(length);
    default:
      return std::string(static_cast<std::size_t>(length) + 1, '\0');
  }
}

ApplicationThread::ApplicationThread(const std::optional<std::string>& printer) {
  if (!printer) return;
  thread_ = std::thread([this, name = *printer] {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto stopped = [this] { return stop_; };
    for (;;) {
      if (done_.wait_for(lock, kApplicationLooks, stopped)) return;
      if (!RealThreadFlagUp(name) || !ApplicationPresent(name)) continue;
      if (done_.wait_for(lock, kApplicationThreadRuns, stopped)) return;
      AsApplication application;
      app::SetDword(name, VALUE_STATUS_THREAD, 0);
    }
  });
}

ApplicationThread::~ApplicationThread() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  done_.notify_all();
  thread_.join();
}

}  // namespace sequence
