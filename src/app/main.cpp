#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/cli/Cli.h"

namespace {
#ifdef QVR_HAVE_GUI
// The desktop module: beside the executable in a build tree, in lib/quenda-video-repair installed.
int runDesktop(int argc, char** argv, const char* file) {
  char self[PATH_MAX] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string exe(self, n > 0 ? static_cast<size_t>(n) : 0);
  const std::string dir = exe.empty() ? "." : exe.substr(0, exe.rfind('/'));
  std::string tried;
  for (const std::string& path :
       {dir + "/quenda-video-repair-gui.so", dir + "/../lib/quenda-video-repair/quenda-video-repair-gui.so"}) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      tried += std::string("\n  ") + ::dlerror();
      continue;
    }
    using Run = int (*)(int, char**, const char*);
    if (auto run = reinterpret_cast<Run>(::dlsym(module, "qvr_gui_run"))) return run(argc, argv, file);
    tried += "\n  " + path + ": not the desktop module";
  }
  std::fprintf(stderr, "The desktop application cannot be loaded:%s\nThe command line still works; see --help.\n",
               tried.c_str());
  return 2;
}
#endif
}  // namespace

int main(int argc, char** argv) {
  // A desktop entry's %f, "Open With" and a file dropped on the launcher give one bare file
  // argument: that opens the application, not the command line.
  const bool fileOnly = argc == 2 && argv[1][0] != '-' && std::strcmp(argv[1], "repair") != 0;
  if (argc > 1 && !fileOnly) {
    return cli::run(argc, argv);
  }
#ifdef QVR_HAVE_GUI
  return runDesktop(argc, argv, fileOnly ? argv[1] : nullptr);
#else
  std::fprintf(stderr, "This build has no desktop application; see --help.\n");
  return 2;
#endif
}
