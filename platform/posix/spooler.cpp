// The stand-in spooler: OpenPrinterA succeeds for the printers the test rig has
// named (diag::AddSpoolerPrinter) and fails like Windows for any other name.
// Printer handles live in the kernel-object table but are closed only by
// ClosePrinter, as spooler handles are on Windows.
#include <set>
#include <string>

#include "platform/diagnostics.h"
#include "platform/posix/kernel_object.h"

namespace {

struct Spooler {
  std::mutex mutex;
  std::set<std::string> printers;  // exact names, as the spooler matches them
};

Spooler& TheSpooler() {
  static Spooler* spooler = new Spooler;  // lives to the end of the process
  return *spooler;
}

}  // namespace

using kovirlm::posix::KernelObject;
using kovirlm::posix::ObjectKind;

BOOL OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA) {
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool known = false;
  if (printerName != nullptr) {
    Spooler& spooler = TheSpooler();
    std::lock_guard<std::mutex> lock(spooler.mutex);
    known = spooler.printers.count(printerName) != 0;
  }
  if (!known) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  auto object = std::make_shared<KernelObject>(ObjectKind::kPrinter);
  object->printerName = printerName;
  *printer = kovirlm::posix::InsertHandle(std::move(object));
  return TRUE;
}

// The rig names its printers in UTF-8, which is also what an ANSI name of plain
// ASCII is; a wide name is matched in its UTF-8 form.
BOOL OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
  if (printerName == nullptr) return OpenPrinterA(nullptr, printer, nullptr);
  std::string utf8;
  for (LPCWSTR c = printerName; *c != 0; ++c) {
    char32_t code = *c;
    if (code >= 0xD800 && code < 0xDC00 && c[1] >= 0xDC00 && c[1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (*++c - 0xDC00);
    }
    if (code < 0x80) {
      utf8.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      utf8.push_back(static_cast<char>(0xC0 | (code >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      utf8.push_back(static_cast<char>(0xE0 | (code >> 12)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      utf8.push_back(static_cast<char>(0xF0 | (code >> 18)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return OpenPrinterA(utf8.data(), printer, nullptr);
}

BOOL ClosePrinter(HANDLE printer) {
  if (kovirlm::posix::RemoveHandle(printer, ObjectKind::kPrinter)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

bool diag::AddSpoolerPrinter(const char* printerName) {
  if (printerName == nullptr) return false;
  Spooler& spooler = TheSpooler();
  std::lock_guard<std::mutex> lock(spooler.mutex);
  spooler.printers.insert(printerName);
  return true;
}

bool diag::RemoveSpoolerPrinter(const char* printerName) {
  if (printerName == nullptr) return false;
  Spooler& spooler = TheSpooler();
  std::lock_guard<std::mutex> lock(spooler.mutex);
  return spooler.printers.erase(printerName) != 0;
}

long diag::OpenPrinterHandles() {
  return kovirlm::posix::CountHandles(ObjectKind::kPrinter);
}
