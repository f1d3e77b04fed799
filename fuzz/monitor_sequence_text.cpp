// Converts monitor_sequence_fuzzer inputs between their text form (the seeds in
// corpus/monitor_sequence_fuzzer/*.txt) and the bytes the fuzzer reads.
//
//   monitor_sequence_text encode PROGRAM.txt INPUT    text to an input file
//   monitor_sequence_text decode INPUT                an input (a finding) as text
//   monitor_sequence_text seeds DIR OUT_DIR           every DIR/*.txt to OUT_DIR/<name>
//
// Exits 1 on a mistake in the text (the message names the line), 2 on bad usage.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/monitor_sequence_program.h"

namespace {

namespace fs = std::filesystem;

bool ReadFile(const fs::path& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool Encode(const fs::path& text, const fs::path& output) {
  std::string contents;
  if (!ReadFile(text, contents)) {
    std::fprintf(stderr, "monitor_sequence_text: cannot read %s\n", text.c_str());
    return false;
  }
  sequence::Program program;
  std::string error;
  if (!sequence::FromText(contents, program, error)) {
    std::fprintf(stderr, "monitor_sequence_text: %s: %s\n", text.c_str(), error.c_str());
    return false;
  }
  const std::vector<std::uint8_t> bytes = sequence::Encode(program);
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "monitor_sequence_text: cannot write %s\n", output.c_str());
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: monitor_sequence_text encode PROGRAM.txt INPUT\n"
               "       monitor_sequence_text decode INPUT\n"
               "       monitor_sequence_text seeds DIR OUT_DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "encode") return Encode(args[1], args[2]) ? 0 : 1;
  if (args.size() == 2 && args[0] == "decode") {
    std::string bytes;
    if (!ReadFile(args[1], bytes)) {
      std::fprintf(stderr, "monitor_sequence_text: cannot read %s\n", args[1].c_str());
      return 1;
    }
    const sequence::Program program =
        sequence::Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    std::fputs(sequence::ToText(program).c_str(), stdout);
    return 0;
  }
  if (args.size() == 3 && args[0] == "seeds") {
    fs::create_directories(args[2]);
    bool ok = true;
    for (const fs::directory_entry& entry : fs::directory_iterator(args[1])) {
      if (entry.path().extension() != ".txt") continue;
      ok = Encode(entry.path(), fs::path(args[2]) / entry.path().stem()) && ok;
    }
    return ok ? 0 : 1;
  }
  return Usage();
}
