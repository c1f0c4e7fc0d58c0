#include "app/cli/Cli.h"
#ifdef QVR_HAVE_GUI
#include "app/gui/GuiMain.h"
#endif

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  // A desktop entry's %f, "Open With" and a file dropped on the launcher give one bare file
  // argument: that opens the application, not the command line.
  const bool fileOnly = argc == 2 && argv[1][0] != '-' && std::strcmp(argv[1], "repair") != 0;
  if (argc > 1 && !fileOnly) {
    return cli::run(argc, argv);
  }
#ifdef QVR_HAVE_GUI
  return gui::run(argc, argv, fileOnly ? argv[1] : nullptr);
#else
  std::fprintf(stderr, "This build has no desktop application; see --help.\n");
  return 2;
#endif
}
