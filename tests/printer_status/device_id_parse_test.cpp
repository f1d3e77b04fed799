// Parsing the printer's IEEE 1284 device ID: which MFG value comes back, which
// model lands in the caller's model buffer, what the text looks like afterwards,
// and that the parse never leaves the buffer it was given.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "printer_status/device_id.h"
#include "tests/support/exact_block.h"

namespace {

using namespace std::string_literals;
using monitor_test::ExactBlock;

struct ParseCase {
  std::string deviceId;
  std::optional<std::string> manufacturer;  // nullopt: no MFG value found
  std::string model;                        // the model buffer afterwards
  const char* why;
};

// Parses a copy of `text` held in a block of exactly its length plus terminator,
// the model into `model`.
struct Parsed {
  std::unique_ptr<char[]> buffer;
  std::size_t size;
  LPSTR manufacturer;
};

Parsed Parse(const std::string& text, char (&model)[MODEL_NAME_SIZE]) {
  Parsed parsed{ExactBlock(text + '\0'), text.size() + 1, nullptr};
  parsed.manufacturer = ParseDeviceId(parsed.buffer.get(), static_cast<DWORD>(parsed.size), model);
  return parsed;
}

const ParseCase kCases[] = {
    {"MFG:KOVIR;CMD:X;MDL:KP-210S;", "KOVIR", "KP-210S", "a full device ID"},
    {"MFG:KOVIR;MDL:KP-210S", "KOVIR", "KP-210S", "last field without ';' runs to the end"},
    {"CMD:X;MFG:KOVIR", "KOVIR", "", "MFG as an unterminated last field"},
    {"FOO;MFG:KOVIR;MDL:KP-210S;", std::nullopt, "KP-210S",
     "the first key runs from FOO up to the first colon"},
    {"MFG:OTHER;MFG:KOVIR;", "KOVIR", "", "a later MFG replaces an earlier one"},
    {"MDL:KP-210S;MDL:KP-6600S;", std::nullopt, "KP-6600S", "a later MDL replaces an earlier one"},
    {"mfg:KOVIR;mdl:KP-210S;", std::nullopt, "", "keys are case-sensitive"},
    {"MANUFACTURER:KOVIR;MODEL:KP-210S;", std::nullopt, "", "only the exact keys count"},
    {"MFG :KOVIR;MDL :KP-210S;", std::nullopt, "", "a blank belongs to the key"},
    {" MFG:KOVIR;", std::nullopt, "", "the text starts directly with the key"},
    {"MFGX:KOVIR;XMDL:KP-210S;", std::nullopt, "", "longer keys do not match"},
    {"MFG:;MDL:;", "", "", "empty values"},
    {"MFG:KOVIR;MDL:A:B;", "KOVIR", "A:B", "a value may contain ':'"},
    {"MFG:KOVIR;;MDL:KP-210S;", "KOVIR", "", "an empty field makes the next key run from its ';'"},
    {"MFG:KOVIR;NOCOLON", "KOVIR", "", "a last field without ':' ends the parse"},
    {"NOCOLON;MFG:KOVIR;", std::nullopt, "", "a first field without ':' swallows the next key"},
    {"", std::nullopt, "", "empty text"},
    {"MFG:THE KOVIR CO;MDL:KP 210S;", "THE KOVIR CO", "KP 210S", "values keep their blanks"},
};

// The manufacturer ParseDeviceId returned and the model it left, against the case.
void ExpectParsedAs(const ParseCase& c, LPSTR manufacturer, const char* model) {
  if (c.manufacturer) {
    ASSERT_NE(manufacturer, nullptr);
    EXPECT_EQ(std::string(manufacturer), *c.manufacturer);
  } else {
    EXPECT_EQ(manufacturer, nullptr);
  }
  EXPECT_STREQ(model, c.model.c_str());
}

TEST(ParseDeviceId, FindsManufacturerAndModelByExactKeys) {
  for (const ParseCase& c : kCases) {
    SCOPED_TRACE(c.why);
    char model[MODEL_NAME_SIZE] = "LEFT OVER";
    const Parsed parsed = Parse(c.deviceId, model);
    ExpectParsedAs(c, parsed.manufacturer, model);
    if (parsed.manufacturer != nullptr) {
      EXPECT_GE(parsed.manufacturer, parsed.buffer.get());
      EXPECT_LT(parsed.manufacturer, parsed.buffer.get() + parsed.size);
    }
  }
}

TEST(ParseDeviceId, TurnsEachFieldSeparatorIntoNulInPlace) {
  char model[MODEL_NAME_SIZE];
  const Parsed parsed = Parse("MFG:KOVIR;CMD:X;MDL:KP-210S;", model);
  EXPECT_EQ(std::string(parsed.buffer.get(), parsed.size), "MFG:KOVIR\0CMD:X\0MDL:KP-210S\0\0"s);
  EXPECT_EQ(parsed.manufacturer, parsed.buffer.get() + 4);
}

TEST(ParseDeviceId, StopsChangingSeparatorsWhereTheParseStops) {
  // The parse ends at a field without ':', so the ';' behind it stays.
  char model[MODEL_NAME_SIZE];
  const Parsed parsed = Parse("MFG:A;NOCOLON;B", model);
  EXPECT_EQ(std::string(parsed.buffer.get(), parsed.size), "MFG:A\0NOCOLON;B\0"s);
}

TEST(ParseDeviceId, NullTextGivesNull) {
  char model[MODEL_NAME_SIZE] = "KP-210S";
  EXPECT_EQ(ParseDeviceId(nullptr, 16, model), nullptr);
  EXPECT_STREQ(model, "");
}

TEST(ParseDeviceId, DeviceIdWithoutModelEmptiesTheModelEvenRightAfterAModel) {
  char model[MODEL_NAME_SIZE];
  Parse("MFG:KOVIR;CMD:X;MDL:KP-210S;", model);
  ASSERT_STREQ(model, "KP-210S");
  const Parsed parsed = Parse("MFG:KOVIR;CMD:X;", model);
  ASSERT_NE(parsed.manufacturer, nullptr);
  EXPECT_STREQ(model, "");
}

TEST(ParseDeviceId, LongModelIsCutTo255Characters) {
  struct {
    std::size_t length;
    std::size_t kept;
  } const lengths[] = {{254, 254}, {255, 255}, {256, 255}, {300, 255}, {1000, 255}};
  for (const auto& l : lengths) {
    SCOPED_TRACE(l.length);
    std::string model(l.length, 'M');
    for (std::size_t i = 0; i < model.size(); ++i) model[i] = static_cast<char>('A' + i % 26);
    char parsedModel[MODEL_NAME_SIZE];
    const Parsed parsed = Parse("MFG:KOVIR;MDL:" + model + ";CLS:PRINTER;", parsedModel);
    EXPECT_EQ(std::string(parsedModel), model.substr(0, l.kept));
    ASSERT_NE(parsed.manufacturer, nullptr);
    EXPECT_STREQ(parsed.manufacturer, "KOVIR");
  }
}

// The device ID fills all 1024 bytes, no terminator behind them, and ends inside
// a value; ending inside MFG, its last byte gives way to the terminator.
TEST(ParseDeviceId, FullBufferWithoutTerminatorIsNeverReadPast) {
  const struct {
    const char* start;  // filled up to the buffer's size with `fill`
    char fill;
    const char* manufacturer;  // null: the fill, all but the last byte
    std::string model;
  } cases[] = {
      {"MDL:KP-210S;MFG:", 'K', nullptr, "KP-210S"},
      {"MFG:KOVIR;MDL:", 'M', "KOVIR", std::string(MODEL_NAME_SIZE - 1, 'M')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    const std::string start = c.start;
    auto block = ExactBlock(start + std::string(DEVICE_ID_BUFFER_SIZE - start.size(), c.fill));
    char model[MODEL_NAME_SIZE];
    const LPSTR manufacturer = ParseDeviceId(block.get(), DEVICE_ID_BUFFER_SIZE, model);
    ASSERT_NE(manufacturer, nullptr);
    if (c.manufacturer == nullptr) {
      EXPECT_EQ(manufacturer, block.get() + start.size());
      EXPECT_EQ(std::strlen(manufacturer), DEVICE_ID_BUFFER_SIZE - start.size() - 1);
      EXPECT_EQ(block[DEVICE_ID_BUFFER_SIZE - 1], '\0');
    } else {
      EXPECT_STREQ(manufacturer, c.manufacturer);
    }
    EXPECT_EQ(std::string(model), c.model);
  }
}

TEST(ParseDeviceId, FullBufferOfSeparatorsIsNeverReadPast) {
  for (const char fill : {';', ':', 'x'}) {
    SCOPED_TRACE(fill);
    auto block = ExactBlock(std::string(DEVICE_ID_BUFFER_SIZE, fill));
    char model[MODEL_NAME_SIZE] = "LEFT OVER";
    EXPECT_EQ(ParseDeviceId(block.get(), DEVICE_ID_BUFFER_SIZE, model), nullptr);
    EXPECT_STREQ(model, "");
  }
}

// A terminator inside the buffer ends the text: what lies behind it is neither
// parsed nor changed.
TEST(ParseDeviceId, BytesBehindTheTerminatorAreLeftAlone) {
  for (const ParseCase& c : kCases) {
    SCOPED_TRACE(c.why);
    std::string bytes = c.deviceId + '\0' + "MFG:BEHIND;MDL:BEHIND;";
    auto block = ExactBlock(bytes);
    char model[MODEL_NAME_SIZE] = "LEFT OVER";
    ExpectParsedAs(c, ParseDeviceId(block.get(), static_cast<DWORD>(bytes.size()), model), model);
    // The bytes behind the terminator are not part of the text.
    const std::size_t behind = c.deviceId.size() + 1;
    EXPECT_EQ(std::string(block.get() + behind, bytes.size() - behind), "MFG:BEHIND;MDL:BEHIND;");
  }
}

TEST(ParseDeviceId, ZeroSizeReadsNothing) {
  char model[MODEL_NAME_SIZE] = "KP-210S";
  char nothing = 'M';
  EXPECT_EQ(ParseDeviceId(&nothing, 0, model), nullptr);
  EXPECT_EQ(nothing, 'M');
  EXPECT_STREQ(model, "");
}

}  // namespace
