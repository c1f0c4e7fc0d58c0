// The desktop application as a module the executable loads only when it opens a window: the
// command line then starts without loading and relocating the Qt libraries behind the window,
// which took longer than a short repair's own work.
#include "app/gui/GuiMain.h"

extern "C" __attribute__((visibility("default"))) int qvr_gui_run(int argc, char** argv, const char* file) {
  return gui::run(argc, argv, file);
}
