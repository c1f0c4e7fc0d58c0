#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AppTestSupport.h"
#include "DesktopTestSupport.h"
#include "app/gui/PreviewLauncher.h"
#include "app/gui/QtDesktopServices.h"
#include "app/gui/QtPlatformServices.h"
#include "foundation/FileSystem.h"
#include "support/TestSupport.h"

namespace apptest {
namespace {

using Args = std::vector<std::string>;

TEST(PreviewChoice, VlcFirstThenBuiltInForMovAndAQuestionForAvi) {
  EXPECT_EQ(qvr::choosePreview(true, false), qvr::PreviewChoice::Vlc);
  EXPECT_EQ(qvr::choosePreview(true, true), qvr::PreviewChoice::Vlc);
  EXPECT_EQ(qvr::choosePreview(false, false), qvr::PreviewChoice::BuiltIn);
  EXPECT_EQ(qvr::choosePreview(false, true), qvr::PreviewChoice::AskForPlayer);
}

TEST(PreviewChoice, AviWithoutVlcOffersTheDownloadOrAnotherPlayer) {
  ScriptedPlatform platform;
  ScriptedDesktop desktop;
  qvr::PreviewLauncher launcher(platform, desktop, "");

  // The default button goes to the download page.
  platform.alertAnswer = 0;
  launcher.playWithVLC("/cache/.testfile.avi", true);
  ASSERT_EQ(platform.alerts.size(), 1u);
  EXPECT_EQ(platform.alerts[0].title, "You don't have \"VLC Player\" Installed");
  EXPECT_EQ(platform.alerts[0].message,
            "Please install VLC player and try again\n(if it doesn't play with any players please contact our "
            "friendly customer support)");
  EXPECT_EQ(platform.alerts[0].buttons, (Args{"Download VLC", "Open With Other Players.."}));
  EXPECT_EQ(platform.openedURLs, Args{qvr::kDefaultVlcDownloadLink});
  EXPECT_TRUE(desktop.previews.empty());

  // The other button: a chosen program gets the file; a cancelled panel starts nothing.
  platform.alertAnswer = 1;
  launcher.playWithVLC("/cache/.testfile.avi", true);
  EXPECT_EQ(desktop.applicationPanels.size(), 1u);
  EXPECT_TRUE(desktop.launches.empty());
  EXPECT_EQ(platform.openedURLs.size(), 1u);

  desktop.applicationAnswer = "/bin/true";
  launcher.playWithVLC("/cache/.testfile.avi", true);
  ASSERT_EQ(desktop.launches.size(), 1u);
  EXPECT_EQ(desktop.launches[0].program, "/bin/true");
  EXPECT_EQ(desktop.launches[0].arguments, Args{"/cache/.testfile.avi"});

  // Not a program: said so, nothing started.
  testsupport::TempDir dir;
  testsupport::writeFile(dir.file("notes.txt"), {'a'});
  desktop.applicationAnswer = dir.file("notes.txt");
  const size_t alertsBefore = platform.alerts.size();
  EXPECT_FALSE(launcher.openWithOtherPlayer("/cache/.testfile.avi"));
  EXPECT_EQ(desktop.launches.size(), 1u);
  EXPECT_EQ(platform.alerts.size(), alertsBefore + 1);

  qvr::PreviewLauncher configured(platform, desktop, "https://example.org/get-vlc");
  configured.OpenVLCPage();
  EXPECT_EQ(platform.openedURLs.back(), "https://example.org/get-vlc");
}

TEST(DesktopEntry, ExecLineBecomesAnArgumentListWithTheFileAsOneArgument) {
  const std::string file = "/v/it's a \"clip\"; rm -rf ~.avi";
  auto command = [&](const std::string& text) { return qvr::desktopEntryCommand(text, "/apps/p.desktop", file); };

  EXPECT_EQ(command("[Desktop Entry]\nName=P\nExec=player --fullscreen %f\n"), (Args{"player", "--fullscreen", file}));
  EXPECT_EQ(command("[Desktop Entry]\nExec=\"/opt/My Player/run\" --open=%U --icon %i %c\n"),
            (Args{"/opt/My Player/run", "--open=" + file, "--icon"}));
  EXPECT_EQ(command("[Desktop Entry]\nExec=player\n"), (Args{"player", file})) << "no file code: appended";
  EXPECT_EQ(command("[Desktop Entry]\nExec=player --rate 100%% --from %k %F\n"),
            (Args{"player", "--rate", "100%", "--from", "/apps/p.desktop", file}));
  EXPECT_EQ(command("[Desktop Entry]\r\nExec=\"a \\\"quoted\\\" \\\\name\" %f\r\n"),
            (Args{"a \"quoted\" \\name", file}));
  // \s is a blank before the line is split, so it separates like one.
  EXPECT_EQ(command("[Desktop Entry]\nExec=my\\splayer %f\n"), (Args{"my", "player", file}));
  // The Exec of another group is not the application's.
  EXPECT_EQ(command("[Desktop Action new]\nExec=other\n[Desktop Entry]\nExec=main %u\n"), (Args{"main", file}));

  EXPECT_FALSE(command("[Desktop Entry]\nName=No command\n"));
  EXPECT_FALSE(command("[Other]\nExec=player\n"));
  EXPECT_FALSE(command("[Desktop Entry]\nExec=\"unterminated %f\n"));
  EXPECT_FALSE(command("[Desktop Entry]\nExec=\n"));
  EXPECT_FALSE(command("[Desktop Entry]\nExec=%i\n"));
  EXPECT_FALSE(command(""));
}

// A program that writes its argument count and each argument on a line of its own.
void writeRecorder(const std::string& path, const std::string& log) {
  std::ofstream out(path);
  out << "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > "
      << testsupport::shellQuote(log) << ".tmp\nmv " << testsupport::shellQuote(log + ".tmp") << " "
      << testsupport::shellQuote(log) << "\n";
  out.close();
  chmod(path.c_str(), 0755);
}

std::string waitForFile(const std::string& path) {
  QElapsedTimer timer;
  timer.start();
  while (!qvr::fs::fileExists(path) && timer.elapsed() < 10000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::vector<uint8_t> bytes = testsupport::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(PlayerProcess, HostilePathReachesVlcAndOtherPlayersAsOneArgument) {
  testsupport::TempDir dir;
  const std::string bin = dir.file("bin");
  std::filesystem::create_directory(bin);
  writeRecorder(bin + "/vlc", dir.file("vlc.log"));
  const std::string movie = dir.file("my \"best\" clip's; touch PWNED $(touch PWNED2) `touch PWNED3`.avi");
  testsupport::writeFile(movie, std::vector<uint8_t>(100, 1));

  const char* oldPath = getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  setenv("PATH", (bin + ":" + savedPath).c_str(), 1);
  qvr::QtPlatformServices platform;
  qvr::QtDesktopServices desktop;
  qvr::PreviewLauncher launcher(platform, desktop, "");
  launcher.playWithVLC(movie, true);
  setenv("PATH", savedPath.c_str(), 1);
  EXPECT_EQ(waitForFile(dir.file("vlc.log")), "1\n" + movie + "\n");

  // Without VLC an AVI goes to the chosen program: an executable, then an application entry.
  ScriptedPlatform noVlc;
  noVlc.alertAnswer = 1;
  struct ChoosingDesktop : qvr::QtDesktopServices {
    std::string answer;
    std::optional<std::string> runApplicationPanel(const std::string&) override { return answer; }
  } chooser;
  qvr::PreviewLauncher other(noVlc, chooser, "");
  const std::string player = dir.file("my player; echo");
  writeRecorder(player, dir.file("player.log"));
  chooser.answer = player;
  other.playWithVLC(movie, true);
  EXPECT_EQ(waitForFile(dir.file("player.log")), "1\n" + movie + "\n");

  const std::string entry = dir.file("player.desktop");
  {
    std::ofstream out(entry);
    out << "[Desktop Entry]\nType=Application\nName=Player\nExec=\"" << player << "\" --play %f\n";
  }
  std::filesystem::remove(dir.file("player.log"));
  chooser.answer = entry;
  other.playWithVLC(movie, true);
  EXPECT_EQ(waitForFile(dir.file("player.log")), "2\n--play\n" + movie + "\n");

  for (const char* marker : {"PWNED", "PWNED2", "PWNED3"}) {
    EXPECT_FALSE(qvr::fs::fileExists(dir.file(marker))) << marker;
    EXPECT_FALSE(qvr::fs::fileExists(marker)) << marker;
  }
}

}  // namespace
}  // namespace apptest
