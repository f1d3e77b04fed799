// Bad and long input from every side: printer names too long for the status key,
// port names of thousands of characters, a model name of a thousand, status
// replies of the largest size a read can deliver, and replies full of NUL bytes.
// Under ASan a write or read past any buffer of the monitor fails the test on the
// spot; the assertions pin down what the spooler and the application see.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/printer_replies.h"
#include "printer_status/remote_commands.h"
#include "tests/reliability/reliability_rig.h"

namespace {

using namespace reliability;

constexpr char kPort[] = "KOVIRL:";
constexpr DWORD kQuiet = 600000;

// Stored as the string's own characters, never the bytes behind its NUL. (A
// registry may hand a string back with a terminator it added.)
void ExpectStoredAsString(const std::string& printer, const char* value, const std::string& text) {
  const std::optional<std::string> raw = app::ReadRaw(printer, value);
  ASSERT_TRUE(raw.has_value());
  EXPECT_TRUE(*raw == text || *raw == text + std::string(1, '\0')) << raw->size();
  EXPECT_EQ(app::Describe(printer, value)->type, static_cast<DWORD>(REG_SZ));
}

class LongInputFixture : public ReliabilityTest {};
using LongInput = monitor_test::BothFaces<LongInputFixture>;
KOVIRLM_BOTH_FACES(LongInput);

TEST_P(LongInput, PrinterNameOfTwoThousandCharactersPrintsWithNoKeyAnywhere) {
  // A name this long names no key the monitor could build. The key of its first
  // 965 characters (what a cut path would open) is set up to catch a stray write.
  std::string name = printer_ + " ";
  name += std::string(2000 - name.size(), 'n');
  ASSERT_EQ(name.size(), 2000u);
  PortRecord* record = OpenPort(kPort, name, {.deviceId = DeviceIdFor("KP-6600S")});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(TextLength(record->printerName), 2000u);

  ExpectJobWorks(record, kPort, name, false);
  // The renamed printer: a short name again, then the long one once more.
  const std::string shortName = InstallPrinter("", "KP-6600S", kQuiet);
  ExpectJobWorks(record, kPort, shortName, true);  // its own key from its first job on
  ExpectJobWorks(record, kPort, shortName, true);
  ExpectJobWorks(record, kPort, name, false);  // and none for the long name again
  ExpectJobWorks(record, kPort, name, false);
  EXPECT_EQ(TextLength(record->printerName), 2000u);
  EXPECT_TRUE(monitor_test::StoreValuesIn(monitor_test::kPrintersKey).empty());
}

TEST_P(LongInput, PortNameOfFiveThousandCharactersIsOnePortInAnyLetterCase) {
  const std::string printer = InstallPrinter("", "KP-6600S", kQuiet);
  std::string port = "KOVIR-";
  for (int i = 0; port.size() < 5000; ++i) port += static_cast<char>('a' + i % 26);
  ASSERT_EQ(port.size(), 5000u);
  PortRecord* record = OpenPort(port, printer, {.deviceId = DeviceIdFor("KP-6600S")});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(monitor_test::Text(record->portName), port);
  EXPECT_EQ(record->size,
            sizeof(PortRecord) + 5001 * (face_ == monitor_test::Face::Nt ? sizeof(WCHAR) : 1));

  std::string upper = port;
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  HANDLE handle = nullptr;
  SetLastError(0);
  EXPECT_FALSE(Spool().OpenPort(upper, &printer, &handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_EQ(monitor_test::ListedPorts().size(), 1u);

  ExpectJobWorks(record, port, printer, true);
  EXPECT_TRUE(ClosePort(record));
  EXPECT_TRUE(monitor_test::ListedPorts().empty());
}

TEST_P(LongInput, MissingAndEmptyNamesPrintWithNoKeyAndNoCrash) {
  // No printer name at the open, none at the document, then an empty one: no key
  // can be built for either, so the jobs pass unidentified.
  emu::AttachPrinter("", {.deviceId = DeviceIdFor("KP-6600S")});
  HANDLE handle = nullptr;
  ASSERT_TRUE(Spool().OpenPort("", nullptr, &handle));
  auto* record = static_cast<PortRecord*>(handle);
  EXPECT_TRUE(IsNullText(record->printerName));
  EXPECT_TRUE(Spool().StartDoc(record, nullptr, 1));
  EXPECT_FALSE(HasStatusBits(record, PS_PRINTER_MATCHED | PS_POLLER_RUN));
  char page[] = "page";
  DWORD written = 0;
  EXPECT_TRUE(Spool().Write(record, reinterpret_cast<LPBYTE>(page), 4, &written));
  EXPECT_TRUE(Spool().Write(record, nullptr, 0, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(Spool().EndDoc(record));
  EXPECT_EQ(emu::Received(""), "page");
  ExpectJobWorks(record, "", "", false);
  ExpectJobWorks(record, "", "", false);  // now with the empty name as the key's
  // A document without a name after one with a name: the record keeps the name.
  EXPECT_TRUE(Spool().StartDoc(record, nullptr, 4));
  EXPECT_TRUE(monitor_test::Text(record->printerName).empty());
  EXPECT_TRUE(Spool().EndDoc(record));
  EXPECT_TRUE(monitor_test::StoreValuesIn(monitor_test::kPrintersKey).empty());
  EXPECT_TRUE(ClosePort(record));
  // No port name at all: the device monitor's refusal, and nothing listed.
  EXPECT_FALSE(Spool().OpenPort(static_cast<const std::string*>(nullptr), nullptr, &handle));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(monitor_test::ListedPorts().empty());
}

struct LongModelCase {
  const char* name;
  std::string deviceModel;  // MDL in the device ID
  std::string registered;   // IDMDL
  bool matched;
};

class LongModel : public monitor_test::CasesOnBothFaces<ReliabilityTest, LongModelCase> {};

TEST_P(LongModel, ModelOfAThousandCharactersIsCutNotOverrun) {
  const LongModelCase& c = Case();
  const std::string printer = InstallPrinter("", c.registered, kQuiet);
  const std::string id = "MFG:KOVIR;MDL:" + c.deviceModel + ";";
  ASSERT_LE(id.size(), 1024u);
  PortRecord* record = OpenPort(kPort, printer, {.deviceId = id});
  ASSERT_NE(record, nullptr);
  ExpectJobWorks(record, kPort, printer, c.matched);
}

const std::string kThousand = [] {
  std::string model = "KP-";
  for (int i = 0; model.size() < 1000; ++i) model += static_cast<char>('A' + i % 26);
  return model;
}();

KOVIRLM_CASES_ON_BOTH_FACES(
    Bad, LongModel,
    testing::Values(LongModelCase{"RegisteredWhole", kThousand, kThousand, false},
                    LongModelCase{"RegisteredShort", kThousand, "KP-6600S", false},
                    // What is kept of the model is its first 255 characters; a
                    // registration of exactly those is the one that matches.
                    LongModelCase{"RegisteredAsKept", kThousand, kThousand.substr(0, 255), true}),
    [](const auto& param) { return std::string(param.name); });

// ---------------------------------------------------------------------------
// Replies that reach the poller: the printer's back channel holds exactly what a
// case queues (it answers no command and volunteers nothing), and the poller
// publishes what its read delivered.

struct PolledReplyCase {
  const char* name;
  std::string queued;
  std::string published;  // RealTimeStatusStrings afterwards, up to its first NUL
};

class PolledReply : public monitor_test::CasesOnBothFaces<ReliabilityTest, PolledReplyCase> {};

TEST_P(PolledReply, TheLastChunkIsPublishedWithinItsBuffer) {
  const PolledReplyCase& c = Case();
  const std::string printer = InstallPrinter("", "KP-6600S", 100);
  PortRecord* record =
      OpenPort(kPort, printer, {.deviceId = DeviceIdFor("KP-6600S"), .answersCommands = false});
  ASSERT_NE(record, nullptr);
  emu::QueueBackChannel(kPort, c.queued);
  std::string name = printer;
  ASSERT_TRUE(Spool().StartDoc(record, &name, 1));
  ASSERT_TRUE(HasStatusBits(record, PS_POLLER_RUN));

  ASSERT_TRUE(WaitUntil([&] { return app::PublishedStatus(printer).has_value(); }));
  EXPECT_EQ(app::PublishedStatus(printer), c.published);
  ExpectStoredAsString(printer, VALUE_STATUS_STRING, c.published);
  EXPECT_EQ(emu::PendingBackChannel(kPort), 0u);
  EXPECT_TRUE(Spool().EndDoc(record));
}

std::string Pattern(std::size_t size, char first) {
  std::string bytes(size, ' ');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(first + i % 23);
  return bytes;
}

KOVIRLM_CASES_ON_BOTH_FACES(
    Bad, PolledReply,
    testing::Values(
        // A full chunk, then an empty read: the full chunk is the reply.
        PolledReplyCase{"FullChunk2047", Pattern(2047, 'a'), Pattern(2047, 'a')},
        PolledReplyCase{"Reply2046", Pattern(2046, 'a'), Pattern(2046, 'a')},
        // Two chunks: the second, shorter one is the latest and is kept.
        PolledReplyCase{"Reply2048", Pattern(2048, 'a'), Pattern(2048, 'a').substr(2047)},
        PolledReplyCase{"Reply5000", Pattern(5000, 'a'), Pattern(5000, 'a').substr(4094)},
        PolledReplyCase{"TwoFullChunks", Pattern(4094, 'a'), Pattern(4094, 'a').substr(2047)},
        // A reply of NULs is a reply: the empty string it makes is stored.
        PolledReplyCase{"AllNul", std::string(300, '\0'), ""},
        PolledReplyCase{"AllNulFullChunk", std::string(2047, '\0'), ""},
        PolledReplyCase{"NulInside", "STATUS" + std::string(5, '\0') + "hidden", "STATUS"}),
    [](const auto& param) { return std::string(param.name); });

// ---------------------------------------------------------------------------
// NULs in the replies of the job-start exchange. The printer says exactly what
// is queued, one reply per read (readChunk), and answers nothing itself.

class ExchangeRepliesFixture : public ReliabilityTest {
 protected:
  // A KP-210S whose back channel holds `replies`, each of `size` bytes and read
  // once, with a document started on it: the port, or null (with a failure).
  PortRecord* StartWith(const std::vector<std::string>& replies, std::size_t size = 64) {
    InstallPrinter("", "KP-210S", kQuiet);
    PortRecord* record =
        OpenPort(kPort, printer_,
                 {.deviceId = DeviceIdFor("KP-210S"), .answersCommands = false, .readChunk = size});
    for (const std::string& reply : replies) {
      EXPECT_EQ(reply.size(), size);
      emu::QueueBackChannel(kPort, reply);
    }
    if (record == nullptr) return nullptr;
    const BOOL started = Spool().StartDoc(record, &printer_, 1);
    EXPECT_TRUE(started) << "error " << GetLastError();
    return started ? record : nullptr;
  }
};
using ExchangeReplies = monitor_test::BothFaces<ExchangeRepliesFixture>;
KOVIRLM_BOTH_FACES(ExchangeReplies);

std::string Padded(std::string reply, char pad = '\0') {
  reply.resize(64, pad);
  return reply;
}

TEST_P(ExchangeReplies, StatusReplyOfNulsCountsAsNoneAndTheNextOneIsUsed) {
  const std::string ink = Padded(std::string("IQ:\x05\x00", 5) + "BLACK=50%;");
  PortRecord* record =
      StartWith({std::string(64, '\0'), Padded(emu::MakeStatusReply(true), ' '), ink});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(emu::Commands(kPort),
            (std::vector<std::string>{Bytes(StatusCommandA), Bytes(InkQueryCommand)}));
  EXPECT_EQ(app::PublishedInkLevel(printer_), "IQ:BLACK=50%;");
  EXPECT_EQ(app::ReadDword(printer_, VALUE_POLL_ENABLED), 1u);
  EXPECT_TRUE(Spool().EndDoc(record));
}

TEST_P(ExchangeReplies, InkReplyOfMarkerAndNulsStoresTheMarkerAlone) {
  PortRecord* record = StartWith({Padded(emu::MakeStatusReply(true), ' '), Padded("IQ:")});
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(app::PublishedInkLevel(printer_), "IQ:");
  ExpectStoredAsString(printer_, VALUE_INK_LEVEL, "IQ:");
  EXPECT_TRUE(Spool().EndDoc(record));
}

TEST_P(ExchangeReplies, FullSizeInkReplyWithAMarkerInItsLastBytesIsStoredWhole) {
  // The longest reply one read can deliver (2046 bytes here: a read of 2047 would
  // be followed by another), ending in a marker with nothing behind it.
  std::string status = emu::MakeStatusReply(true);
  status.resize(2046, ' ');
  const std::string data(2046 - 5 - 3, 'A');
  const std::string ink = std::string("IQ:\xf6\x07", 5) + data + "IQ:";
  ASSERT_EQ(ink.size(), 2046u);
  PortRecord* record = StartWith({status, ink}, 2046);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(app::PublishedInkLevel(printer_), "IQ:" + data + "IQ:");
  EXPECT_TRUE(Spool().EndDoc(record));
}

}  // namespace
