// WritePort, ReadPort and GetPrinterDataFromPort: straight through to the device
// monitor while a device document is open, and not at all otherwise.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "port/back_channel.h"
#include "tests/support/monitor_fixture.h"

namespace {

using monitor_test::Face;
using monitor_test::OpenDeviceDocument;

using PassThrough = monitor_test::BothFaces<monitor_test::MonitorTest>;
KOVIRLM_BOTH_FACES(PassThrough);

// Every operation that talks to the device, tried on a port without a device
// document: each must fail (or deliver nothing) without a single device call.
struct GatedCase {
  const char* what;
  std::function<void(PortRecord*)> tryIt;
};

TEST_P(PassThrough, NoDeviceCallWhileNoDeviceDocumentIsOpen) {
  const GatedCase cases[] = {
      {"WritePort",
       [this](PortRecord* record) {
         BYTE data[] = {'j', 'o', 'b'};
         DWORD written = 77;
         EXPECT_EQ(Spool().Write(record, data, sizeof data, &written), FALSE);
         EXPECT_EQ(written, 0u);
       }},
      {"ReadPort",
       [this](PortRecord* record) {
         BYTE buffer[16];
         DWORD read = 77;
         EXPECT_EQ(Spool().Read(record, buffer, sizeof buffer, &read), FALSE);
         EXPECT_EQ(read, 0u);
       }},
      {"GetPrinterDataFromPort",
       [this](PortRecord* record) {
         char out[64];
         DWORD returned = 77;
         EXPECT_EQ(Spool().GetData(record, Spool().DeviceIdControl(), nullptr, nullptr, 0, out,
                                   sizeof out, &returned),
                   FALSE);
       }},
      {"SendPrinterCommand",
       [this](PortRecord* record) {
         const BYTE command[] = {0x1B, 'S'};
         EXPECT_EQ(SendPrinterCommand(record, command, sizeof command), FALSE);
       }},
      {"ReadPrinterReply",
       [this](PortRecord* record) {
         char reply[REPLY_BUFFER_SIZE];
         std::memset(reply, '#', sizeof reply);
         DWORD count = 77;
         EXPECT_EQ(ReadPrinterReply(record, reply, &count), 0u);
         EXPECT_EQ(count, 77u) << "count touched";
         EXPECT_EQ(reply[0], '#') << "reply touched";
       }},
  };

  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  emu::QueueBackChannel("KOVIR1:", "the printer has something to say");
  // Before any document, and again after one was opened and closed on the device.
  for (int round = 0; round < 2; ++round) {
    for (const GatedCase& c : cases) {
      // The NT family asks the port monitor between jobs too (below).
      if (face_ == Face::Nt && c.what == std::string("GetPrinterDataFromPort")) continue;
      SCOPED_TRACE(std::string(c.what) + (round == 0 ? " before" : " after") + " a document");
      emu::ClearCalls();
      c.tryIt(record);
      EXPECT_TRUE(emu::Calls().empty());
    }
    ASSERT_TRUE(OpenDeviceDocument(record));
    ClearStatusBits(record, PS_DEVICE_DOC_OPEN);  // as before the device's EndDocPort
    DeviceEndDoc(record);
  }
}

// The Windows 95 spooler's device-data requests are the device's only inside a
// document and with a control code: code 0 is refused even with a document open.
// On the NT family an application's GetPrinterData may lead the spooler here at
// any time the port is open: a value name (code 0) and a device-ID request between
// jobs go to the port monitor as they came.
TEST_P(PassThrough, GetPrinterDataFromPortWithCodeZeroOrBetweenJobsIsTheNtPortMonitorsOnly) {
  PortRecord* record = OpenPort("KOVIR1:");
  ASSERT_NE(record, nullptr);
  const std::string name = "Name";
  for (const bool document : {true, false}) {
    SCOPED_TRACE(document ? "code 0 in a document" : "the device ID between jobs");
    if (document) {
      ASSERT_TRUE(OpenDeviceDocument(record));
    }
    emu::ClearCalls();
    char out[256] = "untouched";
    DWORD returned = 77;
    SetLastError(ERROR_SUCCESS);

    const BOOL answered = Spool().GetData(record, document ? 0 : Spool().DeviceIdControl(), &name,
                                          nullptr, 0, out, sizeof out, &returned);

    if (face_ == Face::Win95) {
      EXPECT_EQ(answered, FALSE);
      EXPECT_TRUE(emu::Calls().empty());
      EXPECT_STREQ(out, "untouched");
      EXPECT_EQ(returned, 77u);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "a refusal sets no error";
    } else {
      const std::vector<emu::Call> calls = emu::Calls();
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0].number, document ? 0u : Spool().DeviceIdControl());
      EXPECT_EQ(calls[0].text, name);
      EXPECT_EQ(answered, static_cast<BOOL>(calls[0].result)) << "the port monitor's answer";
      if (!document) {
        EXPECT_EQ(std::string(out, returned), emu::DeviceIdFor("KP-210S"));
      }
    }
    if (document) CloseDocument(record);
  }
}

TEST_P(PassThrough, GetPrinterDataFromPortRefusesWhenTheDeviceMonitorHasNoSuchSlot) {
  emu::SetDeviceDataSupported(false);  // before the open: the record copies the table then
  PortRecord* record = OpenWithDocument("KOVIR1:");
  ASSERT_NE(record, nullptr);
  emu::ClearCalls();
  char out[256];
  DWORD returned = 0;

  EXPECT_EQ(Spool().GetData(record, Spool().DeviceIdControl(), nullptr, nullptr, 0, out, sizeof out,
                            &returned),
            FALSE);
  EXPECT_TRUE(emu::Calls().empty());
}

TEST_P(PassThrough, GetPrinterDataFromPortPassesEveryArgumentAndTheAnswerThrough) {
  emu::PrinterOptions options;
  options.deviceId = "MFG:KOVIR;MDL:KP-100;CLS:PRINTER;";
  PortRecord* record = OpenWithDocument("KOVIR1:", monitor_test::kDefaultPrinter, options);
  ASSERT_NE(record, nullptr);
  emu::ClearCalls();
  char in[8] = "in";
  char out[300];
  DWORD returned = 0;

  const std::string name = "DeviceId";
  EXPECT_EQ(Spool().GetData(record, Spool().DeviceIdControl(), &name, in, sizeof in, out,
                            sizeof out, &returned),
            TRUE);

  EXPECT_EQ(std::string(out, returned), options.deviceId);
  const std::vector<emu::Call> calls = emu::Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].slot, emu::Slot::GetPrinterDataFromPort);
  EXPECT_EQ(calls[0].handle, record->devicePort);
  EXPECT_EQ(calls[0].number, Spool().DeviceIdControl());
  EXPECT_EQ(calls[0].text, "DeviceId");
  EXPECT_TRUE(calls[0].inBuffer);
  EXPECT_EQ(calls[0].inSize, sizeof in);
  EXPECT_EQ(calls[0].outSize, sizeof out);

  // The device monitor's refusal reaches the spooler as it is.
  emu::InjectFault(emu::Slot::GetPrinterDataFromPort, emu::Fault::Refuse, 1);
  EXPECT_EQ(Spool().GetData(record, Spool().DeviceIdControl(), nullptr, nullptr, 0, out, sizeof out,
                            &returned),
            FALSE);
}

TEST_P(PassThrough, WritePortForwardsEveryByteExactlyAndInOrder) {
  PortRecord* record = OpenWithDocument("KOVIR1:");
  ASSERT_NE(record, nullptr);
  emu::ClearReceived("KOVIR1:");

  // Every byte value, NULs and escape codes included, in writes of odd sizes.
  std::string job;
  for (int i = 0; i < 3 * 256; ++i) job.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
  std::string expected;
  std::size_t offset = 0;
  for (std::size_t size : {1u, 0u, 255u, 256u, 2u, 1000u}) {
    size = std::min(size, job.size() - offset);
    DWORD written = 77;
    EXPECT_EQ(Spool().Write(record, reinterpret_cast<LPBYTE>(&job[offset]),
                            static_cast<DWORD>(size), &written),
              TRUE);
    EXPECT_EQ(written, size);
    expected.append(job, offset, size);
    offset += size;
  }
  ASSERT_EQ(offset, job.size());
  EXPECT_EQ(emu::Received("KOVIR1:"), expected);
}

TEST_P(PassThrough, WritePortHandsBackTheDeviceMonitorsCountAndResult) {
  PortRecord* record = OpenWithDocument("KOVIR1:");
  ASSERT_NE(record, nullptr);
  BYTE data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  DWORD written = 0;

  emu::InjectFault(emu::Slot::WritePort, emu::Fault::ShortWrite, 1);
  EXPECT_EQ(Spool().Write(record, data, sizeof data, &written), TRUE);
  EXPECT_EQ(written, 5u);

  emu::InjectFault(emu::Slot::WritePort, emu::Fault::Refuse, 1);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(Spool().Write(record, data, sizeof data, &written), FALSE);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(emu::Received("KOVIR1:"), std::string("\x01\x02\x03\x04\x05", 5));
}

TEST_P(PassThrough, ReadPortDeliversWhatThePrinterQueued) {
  PortRecord* record = OpenWithDocument("KOVIR1:");
  ASSERT_NE(record, nullptr);
  const std::string said("status\0OK", 9);
  emu::QueueBackChannel("KOVIR1:", said);
  BYTE buffer[64];
  DWORD read = 0;

  EXPECT_EQ(Spool().Read(record, buffer, sizeof buffer, &read), TRUE);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), said);
  const std::vector<emu::Call> calls = emu::CallsTo(emu::Slot::ReadPort);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].handle, record->devicePort);
  EXPECT_EQ(calls[0].number, sizeof buffer);
}

}  // namespace
