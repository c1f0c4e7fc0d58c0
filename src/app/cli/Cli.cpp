#include "app/cli/Cli.h"

#include <cstdio>
#include <cstring>

#include "app/BuildInfo.h"

namespace cli {

static void printUsage(FILE* out) {
  std::fprintf(out,
               "Usage:\n"
               "  quenda-video-repair                      open the application\n"
               "  quenda-video-repair repair DAMAGED [--reference REF] --output OUT [--json]\n"
               "  quenda-video-repair --help | --version\n");
}

int run(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("quenda-video-repair %s\n", QVR_VERSION);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    printUsage(stdout);
    return 0;
  }
  printUsage(stderr);
  return 2;
}

}  // namespace cli
