#include "app/cli/Cli.h"
#ifdef QVR_HAVE_GUI
#include "app/gui/GuiMain.h"
#endif

#include <cstdio>

int main(int argc, char** argv) {
  if (argc > 1) {
    return cli::run(argc, argv);
  }
#ifdef QVR_HAVE_GUI
  return gui::run(argc, argv);
#else
  std::fprintf(stderr, "This build has no desktop application; see --help.\n");
  return 2;
#endif
}
