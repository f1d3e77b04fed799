// ParseDeviceId on arbitrary bytes. Properties, not a second parser:
// - it touches nothing outside the text it is given (ASan: the text sits in a heap
//   block of exactly its size, once with a terminator, once without);
// - it only ever turns ';' into NUL;
// - the MFG value returned lies inside the text, right behind "MFG:", and is a
//   string that ends inside the buffer;
// - the model is a terminated string of at most 255 characters that occurs in the
//   text, and is empty when the text holds no "MDL:";
// - bytes behind the text's terminator change neither the result nor themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "printer_status/device_id.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckModelName(const char (&parsed)[MODEL_NAME_SIZE], std::string_view original) {
  const void* end = std::memchr(parsed, '\0', MODEL_NAME_SIZE);
  Check(end != nullptr);
  const std::string_view model(parsed);
  Check(model.size() <= MODEL_NAME_SIZE - 1);
  Check(original.find(model) != std::string_view::npos);
  if (original.find("MDL:") == std::string_view::npos) Check(model.empty());
}

// `text` held `size` bytes that were `original` before the parse.
void CheckParse(const char* text, std::size_t size, std::string_view original,
                const char* manufacturer) {
  for (std::size_t i = 0; i < size; ++i) {
    Check(text[i] == original[i] || (original[i] == ';' && text[i] == '\0') ||
          (i == size - 1 && text[i] == '\0'));
  }
  if (manufacturer != nullptr) {
    Check(manufacturer >= text + 4 && manufacturer < text + size);
    const std::size_t offset = static_cast<std::size_t>(manufacturer - text);
    Check(original.substr(offset - 4, 4) == "MFG:");
    Check(std::memchr(manufacturer, '\0', size - offset) != nullptr);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  char model[MODEL_NAME_SIZE];

  // The text with a terminator, as the device monitor should deliver it.
  {
    auto text = std::make_unique<char[]>(size + 1);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    const std::string original(text.get(), size + 1);  // a copy: the parse changes text
    std::memset(model, 'x', MODEL_NAME_SIZE);          // stale, unterminated garbage
    const char* manufacturer = ParseDeviceId(text.get(), static_cast<DWORD>(size + 1), model);
    CheckParse(text.get(), size + 1, original, manufacturer);
    Check(text[size] == '\0');
    CheckModelName(model, input);

    // The same text with more fields behind its terminator parses the same.
    constexpr std::string_view behind = "MFG:BEHIND;MDL:BEHIND;";
    auto again = std::make_unique<char[]>(size + 1 + behind.size());
    std::memcpy(again.get(), original.data(), size + 1);
    std::memcpy(again.get() + size + 1, behind.data(), behind.size());
    char againModel[MODEL_NAME_SIZE];
    const char* bounded =
        ParseDeviceId(again.get(), static_cast<DWORD>(size + 1 + behind.size()), againModel);
    Check((bounded == nullptr) == (manufacturer == nullptr));
    if (bounded) Check(bounded - again.get() == manufacturer - text.get());
    Check(std::memcmp(again.get(), text.get(), size + 1) == 0);
    Check(std::string_view(again.get() + size + 1, behind.size()) == behind);
    Check(std::strcmp(model, againModel) == 0);
  }

  // The same bytes without a terminator.
  if (size > 0) {
    auto text = std::make_unique<char[]>(size);
    std::memcpy(text.get(), data, size);
    std::memset(model, 'x', MODEL_NAME_SIZE);
    const char* manufacturer = ParseDeviceId(text.get(), static_cast<DWORD>(size), model);
    CheckParse(text.get(), size, input, manufacturer);
    CheckModelName(model, input);
  }

  // A reply that fills the whole device-ID buffer: the input repeated to 1024
  // bytes, without a terminator.
  if (size > 0) {
    auto full = std::make_unique<char[]>(DEVICE_ID_BUFFER_SIZE);
    for (std::size_t i = 0; i < DEVICE_ID_BUFFER_SIZE; ++i) full[i] = input[i % size];
    const std::string copy(full.get(), DEVICE_ID_BUFFER_SIZE);
    std::memset(model, 'x', MODEL_NAME_SIZE);
    const char* manufacturer = ParseDeviceId(full.get(), DEVICE_ID_BUFFER_SIZE, model);
    CheckParse(full.get(), DEVICE_ID_BUFFER_SIZE, copy, manufacturer);
    CheckModelName(model, copy);
  }
  return 0;
}
