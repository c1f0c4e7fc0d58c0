#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>

// One application object for every test of this executable, headless unless a display is
// asked for; the working and runtime folders point into a scratch folder so that tests never
// touch the user's own.
int main(int argc, char** argv) {
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char pattern[] = "/tmp/qvr-app-tests-XXXXXX";
  const char* scratch = mkdtemp(pattern);
  if (!scratch) return 2;
  const std::string root = scratch;
  std::filesystem::create_directories(root + "/cache");
  std::filesystem::create_directories(root + "/runtime");
  std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all);
  setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);

  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return status;
}
