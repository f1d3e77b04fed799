// The two forms of a monitor-sequence program and the way between them. One table
// of line forms drives the binary decoder, the encoder and both text directions,
// so the forms cannot drift apart.
#include "fuzz/monitor_sequence_program.h"

#include <sstream>

namespace sequence {

const char* const kFaceWords[] = {"win95", "nt"};
const char* const kModelWords[] = {"KP-210S", "KP-6600S", "DL-9240", "none", "no-key"};
const int kAppFlags[] = {1, 0, 16, 2};
const char* const kDeviceWords[] = {"KP-210S", "KP-6600S", "DL-9240", "other-maker", "malformed"};
const char* const kReplyWords[] = {"all", "busy-status", "no-ink-reply", "silent"};
const char* const kKindWords[] = {"parallel", "usb", "network"};
const int kChunkSizes[] = {0, 1, 14, 1000};
const int kUpdatePeriods[] = {0, 5, 20, 50};
const char* const kNameWords[] = {"own", "printer0", "printer1", "printer2", "empty", "null"};
const int kSizes[] = {0, 1, 14, 22, 33, 100, 512, 2046, 2047, 2048, 4096, 8192};
const char* const kContentWords[] = {"pattern", "status-block", "ink-block"};
const char* const kSayWords[] = {"status", "busy-status", "ink", "random",
                                 "chunk",  "update",      "nuls"};
const char* const kValueWords[] = {"StMonExistFlag", "IDMDL", "StRealThreadExistFlag",
                                   "GetRealTimeStatusStartFlag", "GetRealTimeStatusTime"};
const char* const kFormWords[] = {"set", "short", "long", "wrong-type", "delete"};
const char* const kSlotWords[] = {
    "OpenPort",  "StartDocPort",          "WritePort", "ReadPort", "EndDocPort",
    "ClosePort", "GetPrinterDataFromPort"};
const char* const kModeWords[] = {"refuse", "short-write", "empty-read", "read-error"};
const char* const kTimesWords[] = {"once", "twice", "always"};
// Windows 95's device-ID code, two others, and the NT family's two device-ID
// controls (IOCTL_PAR_QUERY_DEVICE_ID, IOCTL_USBPRINT_GET_1284_ID): either face
// passes any of them on.
const int kControlCodes[] = {17, 0, 5, 0x0016000C, 0x00220034};
const int kOutSizes[] = {1024, 16, 0};
const int kOfflineTimes[] = {0, 100, 600, 1200};
const char* const kHeldCallWords[] = {"start", "start-flag-up", "write", "read", "getdata", "end"};
const char* const kCloseWhen[] = {"0", "5", "20", "100", "write", "read"};
// While the device open is held; as the hold is released; once the open has
// returned.
const char* const kOpenCloseWhen[] = {"held", "release", "after"};

namespace {

const char* const kOnOff[] = {"on", "off"};
const char* const kCase[] = {"same", "lower"};
const char* const kWhichInstance[] = {"newest", "oldest"};
const char* const kCloser[] = {"close", "shutdown"};

template <typename T, std::size_t N>
constexpr int Count(const T (&)[N]) {
  return static_cast<int>(N);
}

constexpr ArgForm Port{"port", kPorts};
constexpr ArgForm Printer{"printer", kPrinters};

const LineForm kFaceForm = {"face", 1, {{"face", Count(kFaceWords), kFaceWords}}};

const LineForm kPrinterForm = {"printer",
                               kPrinterFields,
                               {{"model", Count(kModelWords), kModelWords},
                                {"app", Count(kAppFlags), nullptr, kAppFlags},
                                {"poll", Count(kOnOff), kOnOff},
                                {"interval", 91, nullptr, nullptr, 10}}};

const LineForm kPortForm = {"port",
                            kPortFields,
                            {{"printer", kPrinters},
                             {"device", Count(kDeviceWords), kDeviceWords},
                             {"replies", Count(kReplyWords), kReplyWords},
                             {"delay", 3},
                             {"chunk", Count(kChunkSizes), nullptr, kChunkSizes},
                             {"updates", Count(kUpdatePeriods), nullptr, kUpdatePeriods},
                             {"kind", Count(kKindWords), kKindWords}}};

constexpr ArgForm Size{"size", Count(kSizes), nullptr, kSizes};

// In Code order.
const LineForm kOpForms[] = {
    {"open",
     3,
     {Port, {"case", Count(kCase), kCase}, {"instance", Count(kWhichInstance), kWhichInstance}}},
    {"start", 2, {Port, {"name", Count(kNameWords), kNameWords}}},
    {"write", 4, {Port, Size, {"content", Count(kContentWords), kContentWords}, {"seed", 256}}},
    {"read", 2, {Port, Size}},
    {"end", 1, {Port}},
    {"close", 1, {Port}},
    {"say", 3, {Port, {"what", Count(kSayWords), kSayWords}, {"length", 256}}},
    {"app",
     4,
     {Printer,
      {"value", Count(kValueWords), kValueWords},
      {"form", Count(kFormWords), kFormWords},
      {"data", 256}}},
    {"fault",
     4,
     {{"slot", Count(kSlotWords), kSlotWords},
      {"mode", Count(kModeWords), kModeWords},
      {"times", Count(kTimesWords), kTimesWords},
      {"after", 8}}},
    {"clear-faults", 0, {}},
    {"rename", 1, {Printer}},
    {"pause", 1, {{"ms", 51}}},
    {"endless", 2, {Port, {"state", Count(kOnOff), kOnOff}}},
    {"getdata",
     3,
     {Port,
      {"code", Count(kControlCodes), nullptr, kControlCodes},
      {"out-size", Count(kOutSizes), nullptr, kOutSizes}}},
    {"offline", 2, {Port, {"ms", Count(kOfflineTimes), nullptr, kOfflineTimes}}},
    {"app-at",
     4,
     {Printer,
      {"value", Count(kValueWords), kValueWords},
      {"data", 256},
      {"slot", Count(kSlotWords), kSlotWords}}},
    {"initialize", 0, {}},
    {"shutdown", 1, {{"which", Count(kWhichInstance), kWhichInstance}}},
    {"close-during",
     4,
     {Port,
      {"call", Count(kHeldCallWords), kHeldCallWords},
      {"when", Count(kCloseWhen), kCloseWhen},
      {"by", Count(kCloser), kCloser}}},
    {"open-during",
     3,
     {Port, {"by", Count(kCloser), kCloser}, {"when", Count(kOpenCloseWhen), kOpenCloseWhen}}},
};
static_assert(sizeof kOpForms / sizeof kOpForms[0] == static_cast<std::size_t>(Code::Count));

std::string ArgText(const ArgForm& form, std::uint8_t index) {
  if (form.words != nullptr) return form.words[index];
  if (form.numbers != nullptr) return std::to_string(form.numbers[index]);
  return std::to_string(form.offset + index);
}

bool ParseArg(const ArgForm& form, const std::string& text, std::uint8_t& index) {
  for (int i = 0; i < form.range; ++i) {
    if (ArgText(form, static_cast<std::uint8_t>(i)) == text) {
      index = static_cast<std::uint8_t>(i);
      return true;
    }
  }
  return false;
}

// Reads the bytes in order; past the end every byte is zero.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  bool AtEnd() const { return at >= size; }
  std::uint8_t Next(int range) {
    return static_cast<std::uint8_t>((at < size ? data[at++] : 0) % range);
  }
};

template <std::size_t N>
void WriteSetupLine(std::ostringstream& out, const LineForm& form, int number,
                    const std::array<std::uint8_t, N>& fields) {
  out << form.name << ' ' << number;
  for (int i = 0; i < form.argCount; ++i) {
    out << ' ' << form.args[i].name << '=' << ArgText(form.args[i], fields[i]);
  }
  out << '\n';
}

}  // namespace

const LineForm& FaceForm() {
  return kFaceForm;
}

const LineForm& PrinterForm() {
  return kPrinterForm;
}

const LineForm& PortForm() {
  return kPortForm;
}

const LineForm& OpForm(Code code) {
  return kOpForms[static_cast<std::size_t>(code)];
}

Program Decode(const std::uint8_t* data, std::size_t size) {
  Program program;
  Reader in{data, size};
  program.face = static_cast<Face>(in.Next(kFaceForm.args[0].range));
  for (auto& printer : program.printers) {
    for (int i = 0; i < kPrinterFields; ++i) printer[i] = in.Next(kPrinterForm.args[i].range);
  }
  for (auto& port : program.ports) {
    for (int i = 0; i < kPortFields; ++i) port[i] = in.Next(kPortForm.args[i].range);
  }
  while (!in.AtEnd() && program.ops.size() < kMaxOps) {
    Op op{static_cast<Code>(in.Next(static_cast<int>(Code::Count)))};
    const LineForm& form = OpForm(op.code);
    for (int i = 0; i < form.argCount; ++i) op.arg[i] = in.Next(form.args[i].range);
    program.ops.push_back(op);
  }
  return program;
}

std::vector<std::uint8_t> Encode(const Program& program) {
  std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(program.face)};
  for (const auto& printer : program.printers)
    bytes.insert(bytes.end(), printer.begin(), printer.end());
  for (const auto& port : program.ports) bytes.insert(bytes.end(), port.begin(), port.end());
  for (const Op& op : program.ops) {
    bytes.push_back(static_cast<std::uint8_t>(op.code));
    const LineForm& form = OpForm(op.code);
    bytes.insert(bytes.end(), op.arg.begin(), op.arg.begin() + form.argCount);
  }
  return bytes;
}

std::string ToText(const Program& program) {
  std::ostringstream out;
  out << kFaceForm.name << ' '
      << ArgText(kFaceForm.args[0], static_cast<std::uint8_t>(program.face)) << '\n';
  for (int i = 0; i < kPrinters; ++i) WriteSetupLine(out, kPrinterForm, i, program.printers[i]);
  for (int i = 0; i < kPorts; ++i) WriteSetupLine(out, kPortForm, i, program.ports[i]);
  for (const Op& op : program.ops) out << ToText(op) << '\n';
  return out.str();
}

std::string ToText(const Op& op) {
  const LineForm& form = OpForm(op.code);
  std::string line = form.name;
  for (int i = 0; i < form.argCount; ++i) line += ' ' + ArgText(form.args[i], op.arg[i]);
  return line;
}

bool FromText(const std::string& text, Program& program, std::string& error) {
  program = Program{};
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const std::size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::string name;
    if (!(words >> name)) continue;
    auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(number) + ": " + what;
      return false;
    };

    if (name == kFaceForm.name) {
      std::string word;
      std::uint8_t face = 0;
      if (!(words >> word) || !ParseArg(kFaceForm.args[0], word, face)) {
        return fail("face needs one of win95, nt");
      }
      program.face = static_cast<Face>(face);
      continue;
    }
    if (name == kPrinterForm.name || name == kPortForm.name) {
      const bool isPrinter = name == kPrinterForm.name;
      const LineForm& form = isPrinter ? kPrinterForm : kPortForm;
      int which = -1;
      if (!(words >> which) || which < 0 || which >= (isPrinter ? kPrinters : kPorts)) {
        return fail(name + " needs its number");
      }
      std::uint8_t* fields =
          isPrinter ? program.printers[which].data() : program.ports[which].data();
      std::string setting;
      while (words >> setting) {
        const std::size_t equals = setting.find('=');
        const std::string key = setting.substr(0, equals);
        int field = 0;
        while (field < form.argCount && key != form.args[field].name) ++field;
        if (equals == std::string::npos || field == form.argCount) {
          return fail("unknown setting " + setting);
        }
        if (!ParseArg(form.args[field], setting.substr(equals + 1), fields[field])) {
          return fail("bad value in " + setting);
        }
      }
      continue;
    }

    int code = 0;
    while (code < static_cast<int>(Code::Count) && name != kOpForms[code].name) ++code;
    if (code == static_cast<int>(Code::Count)) return fail("unknown operation " + name);
    if (program.ops.size() == kMaxOps)
      return fail("more than " + std::to_string(kMaxOps) + " operations");
    Op op{static_cast<Code>(code)};
    const LineForm& form = kOpForms[code];
    std::string word;
    for (int i = 0; words >> word; ++i) {
      if (i == form.argCount) return fail("too many arguments to " + name);
      if (!ParseArg(form.args[i], word, op.arg[i])) {
        return fail("bad " + std::string(form.args[i].name) + " " + word);
      }
    }
    program.ops.push_back(op);
  }
  return true;
}

}  // namespace sequence
