#include <gtest/gtest.h>

#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>

#include "AppTestSupport.h"
#include "app/gui/PreviewWindow.h"
#include "app/gui/QtDesktopServices.h"
#include "support/TestSupport.h"

namespace apptest {
namespace {

TEST(PreviewWindow, SaysSoWhenTheFileCannotBePlayed) {
  testsupport::TempDir dir;
  const std::string junk = dir.file(".testfile.mov");
  testsupport::writeFile(junk, std::vector<uint8_t>(64 * 1024, 0x5a));
  qvr::QtDesktopServices desktop;
  desktop.showPreview(junk);
  qvr::PreviewWindow* window = desktop.previewWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->path(), junk);
  ASSERT_TRUE(waitUntil([&] { return !window->problem().isEmpty(); }, 20000)) << "a black window says nothing";
  EXPECT_TRUE(window->problem().contains("cannot show this video"));
  EXPECT_FALSE(window->findChild<QPushButton*>("previewPlayPause")->isEnabled());

  // A second preview reuses the window and forgets the old problem until the new file fails too.
  desktop.showPreview(dir.file("missing.mov"));
  EXPECT_EQ(desktop.previewWindow(), window);
  EXPECT_EQ(window->path(), dir.file("missing.mov"));
  EXPECT_TRUE(waitUntil([&] { return !window->problem().isEmpty(); }, 20000));
}

TEST(PreviewWindow, PlaysAHealthyMovieWithItsControls) {
  const std::string movie = testsupport::sourceDir() + "/data/samples/reference.mp4";
  qvr::PreviewWindow window;
  window.show();
  window.play(movie);
  if (!window.player()->isAvailable()) GTEST_SKIP() << "no media backend here";
  const bool loaded = waitUntil([&] { return !window.problem().isEmpty() || window.player()->duration() > 0; }, 20000);
  ASSERT_TRUE(loaded);
  if (!window.problem().isEmpty()) GTEST_SKIP() << "the backend plays nothing here: " << window.problem().toStdString();
  EXPECT_GT(window.findChild<QSlider*>("previewPosition")->maximum(), 0);
  auto* button = window.findChild<QPushButton*>("previewPlayPause");
  ASSERT_TRUE(waitUntil([&] { return window.playing(); }, 5000));
  button->click();
  EXPECT_TRUE(waitUntil([&] { return !window.playing(); }, 5000));
  EXPECT_EQ(button->text(), "Play");
}

}  // namespace
}  // namespace apptest
