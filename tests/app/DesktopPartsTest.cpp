// The single-instance lock, the working folder, the modal dialog behind every question and the
// texts of times and sizes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <limits>
#include <memory>

#include "AppTestSupport.h"
#include "app/gui/Formatting.h"
#include "app/gui/InstanceLock.h"
#include "app/gui/QtPlatformServices.h"
#include "app/gui/coreWindow.h"
#include "foundation/FileSystem.h"

namespace {

TEST(SingleInstance, CopiesAreCountedPerIdentifierWhileTheirProcessLives) {
  qvr::QtPlatformServices running;
  qvr::QtPlatformServices starting;
  EXPECT_EQ(running.runningInstanceCount("com.example.app"), 1);
  EXPECT_EQ(running.runningInstanceCount("com.example.app"), 1) << "asking again is no second copy";
  EXPECT_EQ(starting.runningInstanceCount("com.example.app"), 2);
  EXPECT_EQ(starting.runningInstanceCount("com.example/other"), 1);

  // A copy that ends without releasing its lock leaves none behind.
  const pid_t child = fork();
  if (child == 0) _exit(qvr::InstanceLock().acquire("com.example.gone") == qvr::InstanceLock::Result::Acquired ? 0 : 1);
  int status = 1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(running.runningInstanceCount("com.example.gone"), 1);

  // A folder where no lock file can be made must not keep the application from starting.
  const std::string runtime = getenv("XDG_RUNTIME_DIR");
  setenv("XDG_RUNTIME_DIR", (runtime + "/absent/deeper").c_str(), 1);
  EXPECT_EQ(qvr::QtPlatformServices().runningInstanceCount("com.example.app"), 1);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

TEST(PlatformFolders, WorkingFolderIsMadeInTheCacheFolder) {
  const std::string folder = qvr::QtPlatformServices().workingFolder();
  EXPECT_EQ(folder.rfind(getenv("XDG_CACHE_HOME"), 0), 0u) << folder;
  EXPECT_TRUE(qvr::fs::isDirectory(folder));
}

TEST(CoreWindowBehaviour, CoversItsParentAndClosesOnlyOnPurpose) {
  QWidget parent;
  parent.resize(500, 400);
  parent.show();
  auto* inner = new QPushButton("under", &parent);
  inner->setGeometry(10, 10, 100, 30);
  inner->show();
  int innerClicks = 0;
  QObject::connect(inner, &QPushButton::clicked, [&] { ++innerClicks; });

  coreWindow dialog(&parent);
  dialog.showWindowOnWindow(&parent);
  ASSERT_TRUE(dialog.isVisible());
  EXPECT_EQ(parent.childAt(20, 20), dialog.overlay()) << "what lies under no longer gets the pointer";
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 20), QPointF(20, 20), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(parent.childAt(20, 20), &press);
  EXPECT_EQ(innerClicks, 0);
  dialog.close();
  dialog.reject();
  EXPECT_TRUE(dialog.isVisible()) << "neither the window manager nor Escape closes it";
  dialog.closeWindow();
  EXPECT_FALSE(dialog.isVisible());
  apptest::spin(50);
  EXPECT_EQ(parent.childAt(20, 20), inner);
}

TEST(CoreWindowBehaviour, FixedWidthWindowTakesTheHeightItsWrappedTextNeeds) {
  QWidget parent;
  parent.resize(900, 600);
  parent.show();
  const std::string paragraph = "A sentence long enough to wrap over several lines of a narrow alert window.\n\n";
  std::unique_ptr<coreWindow> alert(
      qvr::QtPlatformServices::makeAlertWindow({"Title", paragraph + paragraph + paragraph, {"OK"}}, &parent));
  alert->showWindowOnWindow(&parent);
  auto* message = alert->findChild<QLabel*>("alertMessage");
  EXPECT_GE(message->height(), message->heightForWidth(message->width())) << "the text is cut";
}

TEST(Formatting, ElapsedTimeKeepsWholeSecondsAndDropsDays) {
  const std::pair<double, const char*> cases[] = {
      {3725, "01:02:05"},
      {61, "00:01:01"},  // t/60 split into minutes and a fraction loses this second to rounding
      {86400 + 61, "00:01:01"},
      {23 * 3600 + 59 * 60 + 59.9, "23:59:59"},
      {-5, "00:00:00"},  // the clock went backwards
      {std::numeric_limits<double>::quiet_NaN(), "00:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(qvr::timeFormStringForInterval(seconds), text) << seconds;
  EXPECT_EQ(qvr::timeFormStringForInterval(std::numeric_limits<double>::infinity()).size(), 8u);
}

TEST(Formatting, SizesInDecimalUnitsAtSinglePrecision) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0.00 KB"}, {999999, "1000.00 KB"}, {1000000, "1.00 MB"}, {2500000000ULL, "2.50 GB"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(qvr::formattedStringForSize(bytes), text) << bytes;
}

}  // namespace
