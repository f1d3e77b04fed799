// Runs one probe and writes its figures.
//
// Usage: monitor_probes idle|stop|job-start|scale [--smoke] [--out=FILE]
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/probes.h"

int main(int argc, char** argv) {
  bench::ProbeOptions options;
  std::string probe;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      options.smoke = true;
    } else if (std::strncmp(argv[i], "--out=", 6) == 0) {
      out = argv[i] + 6;
    } else {
      probe = argv[i];
    }
  }

  std::vector<bench::Figure> figures;
  if (probe == "idle") {
    figures = bench::RunIdleProbe(options);
  } else if (probe == "stop") {
    figures = bench::RunStopProbe(options);
  } else if (probe == "job-start") {
    figures = bench::RunJobStartProbe(options);
  } else if (probe == "scale") {
    figures = bench::RunScaleProbe(options);
  } else {
    std::fprintf(stderr, "usage: %s idle|stop|job-start|scale [--smoke] [--out=FILE]\n", argv[0]);
    return 2;
  }
  return bench::WriteFigures(out, figures) ? 0 : 1;
}
