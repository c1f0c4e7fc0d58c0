// Saving, previewing and the update check: the controller's actions over a scripted desktop, and
// the copy, players and preview window behind them.
#include <stdlib.h>

#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <ranges>

#include "WorkflowFixture.h"
#include "app/gui/PreviewLauncher.h"
#include "app/gui/PreviewWindow.h"
#include "app/gui/QtDesktopServices.h"
#include "app/gui/QtPlatformServices.h"
#include "app/gui/SaveOperation.h"
#include "app/gui/SaveWorkflow.h"
#include "app/gui/UpdateChecker.h"
#include "app/gui/coreWindow.h"
#include "support/LocalHttpServer.h"

namespace apptest {
namespace {

using Args = std::vector<std::string>;
using qvr::SaveOperation;

class DesktopActions : public WorkflowTest {
 protected:
  void SetUp() override {
    WorkflowTest::SetUp();
    ASSERT_TRUE(launch(scripted(completingJob())));
    controller->saving().minReportInterval = std::chrono::milliseconds(0);
    controller->saving().pausePoll = std::chrono::milliseconds(10);
  }
  void save(const std::string& folder) {
    desktop.panelAnswers.push_back(folder);
    click("prewSaveBtn");
  }
  int copied() { return widget<QProgressBar>("saveProgressBarr")->value(); }
};

TEST_F(DesktopActions, SaveCopiesIntoANewFolderThenRevealsItAndStartsOver) {
  repairStandIn("holiday.mp4");
  const std::string temporary = controller->repairedFilePath();
  const std::vector<uint8_t> original = testsupport::readFile(temporary);
  click("prewSaveBtn");  // panel cancelled
  desktop.writable = false;
  save(work.file("ReadOnly"));
  EXPECT_TRUE(desktop.alerts.size() == 1 && repaired());
  desktop.writable = true;
  const std::string folder = work.file("My Repaired");
  save(folder);
  EXPECT_TRUE(onPage(qvr::tabs::kSaving));
  EXPECT_FALSE(controller->windowShouldClose()) << "no quitting while saving";
  ASSERT_TRUE(waitUntil([&] { return visible("savingCompletedwindow"); }));
  EXPECT_EQ(text("savingPercentage"), "100%");
  EXPECT_EQ(copied() + 1, static_cast<int>(qvr::saveChunkCount(original.size()))) << "every chunk reported";
  EXPECT_EQ(testsupport::readFile(folder + "/repaired.mov"), original);

  click("savingCompletedOK");
  EXPECT_EQ(desktop.revealed, Args{folder + "/repaired.mov"});
  EXPECT_TRUE(onPage(qvr::tabs::kMain) && !qvr::fs::fileExists(temporary)) << "the temporary result goes too";
}

TEST_F(DesktopActions, SaveNeverReplacesTheMovieTheRepairWasMadeFrom) {
  // A damaged movie named like the saved one, in the folder the user picks: saving there is refused.
  qvr::fs::createDirectories(work.file("card"));
  std::filesystem::copy_file(movieIn("holiday.mp4"), work.file("card/repaired.mov"));
  const auto before = testsupport::readFile(work.file("card/repaired.mov"));
  chooseDamaged(work.file("card/repaired.mov"));
  click("refTabRepairBtn");
  ASSERT_TRUE(waitUntil([&] { return repaired(); }));
  save(work.file("card"));
  EXPECT_EQ(desktop.alerts.size(), 1u);
  EXPECT_TRUE(repaired()) << "still on the details, to save elsewhere";
  EXPECT_EQ(testsupport::readFile(work.file("card/repaired.mov")), before);
}

TEST_F(DesktopActions, StopQuestionPausesTheCopyAndAFailedOrStoppedCopyIsRemoved) {
  repairStandIn("holiday.mp4");
  const std::string temporary = controller->repairedFilePath();
  // Big enough that the copy is still running when the stop button is pressed.
  std::filesystem::resize_file(temporary, 96u << 20);
  save(work.file("Failed"));
  click("cancelSaveBtn");
  spin(100);
  const int frozen = copied();
  spin(100);
  EXPECT_EQ(copied(), frozen) << "a paused copy stands still";
  // The result loses its tail under the paused copy: what is left to read is missing.
  std::filesystem::resize_file(temporary, 1u << 20);
  click("stopsavingCancelbutton");
  ASSERT_TRUE(waitUntil([&] { return !controller->savingProgress(); }, 30000));
  EXPECT_TRUE(desktop.alerts.size() == 1 && !visible("savingCompletedwindow"));
  EXPECT_TRUE(std::filesystem::is_empty(work.file("Failed")));
  EXPECT_TRUE(repaired() && widget("homeBtn")->isEnabled()) << "the result is kept for another try";

  std::filesystem::resize_file(temporary, 96u << 20);
  save(work.file("Stopped"));
  click("cancelSaveBtn");
  click("stopsavingCancelbutton");
  click("cancelSaveBtn");
  click("stopsavingOKbutton");
  EXPECT_FALSE(!onPage(qvr::tabs::kMain) || controller->savingProgress() || controller->pauseSaving());
  spin(200);
  EXPECT_FALSE(visible("savingCompletedwindow"));
  EXPECT_TRUE(std::filesystem::is_empty(work.file("Stopped"))) << "nothing arrives after the stop";
}

TEST_F(DesktopActions, PreviewPlaysTheResultWhereItsKindAndVlcAllow) {
  chooseDamaged(movieIn("first.avi"));  // the MOV chosen next replaces it, kind and all
  repairStandIn("clip.mov");
  const std::string movResult = controller->repairedFilePath();
  click("prewBtn");
  EXPECT_EQ(desktop.previews, Args{movResult});
  desktop.vlc = "/usr/bin/vlc";
  click("prewBtn");
  EXPECT_EQ(desktop.launches, (std::vector<Args>{{"/usr/bin/vlc", movResult}}));

  // Without VLC an AVI never goes to the built-in preview: the download, or another player.
  click("homeBtn");
  desktop.vlc.reset();
  repairStandIn("clip.avi");
  click("prewBtn");
  click("installVLC");
  EXPECT_EQ(desktop.openedURLs, Args(2, qvr::kDefaultVlcDownloadLink));
  desktop.alertAnswer = 1;
  click("prewBtn");  // the program panel cancelled
  desktop.applicationAnswer = "/bin/true";
  click("prewBtn");
  desktop.applicationAnswer = work.file("clip.avi");
  click("prewBtn");  // not a program: said so
  EXPECT_EQ(desktop.alerts.size(), 5u);
  EXPECT_EQ(desktop.launches.back(), (Args{"/bin/true", controller->repairedFilePath()}));
  EXPECT_EQ(desktop.launches.size() + desktop.previews.size(), 3u);

  // An AVI result is saved as one.
  save(work.file("AviCopy"));
  ASSERT_TRUE(waitUntil([&] { return visible("savingCompletedwindow"); }));
  EXPECT_TRUE(qvr::fs::fileExists(work.file("AviCopy/repaired.avi")));
}

std::string versionList(const std::string& version) {
  return "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>x</string>" +
         (version.empty() ? "" : "<key>CFBundleShortVersionString</key><string>" + version + "</string>") +
         "</dict></plist>";
}

TEST_F(DesktopActions, UpdateIsOfferedOnlyForAnotherPublishedVersion) {
  const std::string updater = qvr::updaterProgram(work.path()), agent = qvr::updaterAgent(work.path());
  const struct {
    std::string body;
    int status;
    const char* version;  // none: no address configured
    bool fromMenu;
    int answer;  // 0: YES
    size_t alerts;
    std::vector<Args> started;
  } cases[] = {
      {versionList("7.0"), 200, "7.0", false, 0, 0, {}},  // silent at start
      {versionList("7.0"), 200, "7.0", true, 0, 0, {{agent}}},
      {versionList("7.0"), 200, "7.10", false, 1, 1, {}},  // an older published one is still another
      {versionList("7.1"), 200, "7.0", false, 0, 1, {{updater}}},
      {versionList(""), 200, "7.0", false, 0, 0, {}},
      {versionList("7.1"), 404, "7.0", false, 0, 0, {}},  // an error page is no published version
      {versionList("7.1"), 200, nullptr, true, 0, 0, {{agent}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body + " " + std::to_string(c.status) + " " + (c.version ? c.version : "unconfigured"));
    testsupport::LocalHttpServer server([&](const testsupport::LocalHttpServer::Request&) {
      testsupport::LocalHttpServer::Response response;
      response.status = c.status;
      response.body = c.body;
      return response;
    });
    desktop.alerts.clear();
    desktop.launches.clear();
    desktop.alertAnswer = c.answer;
    qvr::AppInfo info = testInfo();
    info.cloudPlistUrl = c.version ? server.baseUrl() + "/my version.plist" : "";
    info.shortVersion = c.version ? c.version : "7.0";
    ASSERT_TRUE(launch(scripted(completingJob()), info));
    auto answered = [&] { return !controller->updates().running(); };
    ASSERT_TRUE(waitUntil(answered, 20000));
    if (c.fromMenu) controller->checkForUpdateClicked(controller->window());
    ASSERT_TRUE(waitUntil(answered, 20000));
    EXPECT_EQ(desktop.alerts.size(), c.alerts);
    EXPECT_EQ(desktop.launches, c.started);
    // Spaces in the configured address travel as %20.
    for (const auto& request : server.requests()) EXPECT_EQ(request.target, "/my%20version.plist");
  }
  // The updater installed as a folder is started through its program.
  std::filesystem::create_directory(work.file(".refresher"));
  EXPECT_EQ(qvr::updaterProgram(work.path()), updater + "/refresher");
}

TEST_F(DesktopActions, MenuPopsUpFromItsButtonAndF10AndEachItemDoesItsPart) {
  QMenu* menu = controller->ui().appMenu;
  for (const bool byKey : {false, true}) {
    controller->window()->activateWindow();  // the key goes to the active window only
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    byKey ? QTest::keyClick(controller->window(), Qt::Key_F10) : click("menuBtn");
    EXPECT_TRUE(waitUntil([&] { return menu->isVisible(); }, 5000)) << byKey;
    menu->hide();
  }
  auto has = [](const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; };
  const struct {
    const char* item;
    const char* helpLink;
    std::function<bool()> done;
  } cases[] = {
      // No address configured means no newer version, which a user who asked still hears of.
      {"checkForUpdatesItem", "",
       [&] { return desktop.launches == std::vector<Args>{{qvr::updaterAgent(work.path())}}; }},
      {"reportProblemItem", "", [&] { return visible("errorReportWindow"); }},
      {"helpItem", "", [&] { return desktop.documents.size() == 1 && has(desktop.documents[0], "--output-dir"); }},
      {"helpItem", "https://help.example/guide",
       [&] { return desktop.openedURLs == Args{"https://help.example/guide"}; }},
      {"aboutItem", "",
       [&] {
         return desktop.alerts.size() == 1 && has(desktop.alerts[0].message, "7.3.1") &&
                has(desktop.alerts[0].message, qVersion());
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.item) + " " + c.helpLink);
    qvr::AppInfo info = testInfo();
    info.helpLink = c.helpLink;
    info.shortVersion = "7.3.1";
    desktop = ScriptedDesktop();
    desktop.working = work.path();
    ASSERT_TRUE(launch(scripted(completingJob()), info));
    ASSERT_TRUE(waitUntil([&] { return !controller->updates().running(); }, 20000)) << "the check at start-up";
    controller->window()->findChild<QAction*>(c.item)->trigger();
    EXPECT_TRUE(waitUntil(c.done, 20000));
  }
}

// The copy behind saving and its checks.
// Bytes that differ from chunk to chunk, so that a misplaced or repeated block shows.
std::vector<uint8_t> patterned(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + (i >> 10) * 7) & 0xFF);
  return bytes;
}

TEST(SaveArithmetic, ChunkCountsAndPercentagesAtTheirEdges) {
  const std::pair<uint64_t, uint64_t> counts[] = {{0, 0}, {1, 1}, {1024, 1}, {1025, 2}, {5ull << 40, 5ull << 30}};
  for (const auto& [size, count] : counts) EXPECT_EQ(qvr::saveChunkCount(size), count) << size;
  EXPECT_EQ(qvr::savePercent(2, 3), 66);
  // Near the top of the range the product must not wrap.
  EXPECT_EQ(qvr::savePercent((uint64_t{1} << 54) - 1, uint64_t{1} << 54), 99);
}

TEST(SaveCopy, ReportsAtTheScreensRate) {
  testsupport::TempDir dir;
  const size_t size = 3 * 1024 * 1024 + 5;
  testsupport::writeFile(dir.file("a.mov"), patterned(size));
  std::vector<uint64_t> chunks;
  const auto began = std::chrono::steady_clock::now();
  SaveOperation op(dir.file("a.mov"), dir.file("out.mov"), size,
                   {[&](uint64_t chunk, uint64_t) { chunks.push_back(chunk); }, nullptr},
                   std::chrono::milliseconds(100));
  ASSERT_TRUE(op.start());
  op.wait();
  EXPECT_EQ(testsupport::readFile(dir.file("out.mov")), patterned(size));
  // Ten updates a second at most: a quick copy reports little.
  ASSERT_FALSE(chunks.empty());
  EXPECT_EQ(chunks.front(), 0u);
  EXPECT_LE(chunks.size(), 1 + (std::chrono::steady_clock::now() - began) / std::chrono::milliseconds(100));
}

TEST(SaveCheck, WritabilitySpaceAndSourceDecideBeforeAnyCopy) {
  testsupport::TempDir dir;
  const std::string source = dir.file("repaired.mov");
  testsupport::writeFile(source, patterned(5000));
  const struct {
    bool writable;
    std::optional<uint64_t> free;
    const char* folder;
    const char* source;
    qvr::SaveCheck expected;
  } cases[] = {
      {false, 1u << 20, "NoWrite", "repaired.mov", qvr::SaveCheck::NotWritable},
      {true, 5000, "Exact", "repaired.mov", qvr::SaveCheck::NotEnoughSpace},
      {true, std::nullopt, "Unknown", "repaired.mov", qvr::SaveCheck::NotEnoughSpace},  // unreadable: no space
      {true, 5001, "Exact", "repaired.mov", qvr::SaveCheck::Ready},  // the folder made before is used as it is
      {true, 5001, "Other", "gone.mov", qvr::SaveCheck::SourceMissing},
  };
  for (const auto& c : cases) {
    ScriptedDesktop desktop;
    desktop.writable = c.writable;
    desktop.freeBytes = c.free;
    EXPECT_EQ(qvr::prepareSaveFolder(desktop, dir.file(c.folder), dir.file(c.source)).check, c.expected) << c.folder;
    EXPECT_EQ(qvr::fs::isDirectory(dir.file(c.folder)), c.writable) << "no folder is made on a read-only volume";
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("Exact")));
}

// Players and the preview window.
TEST(PreviewLauncher, DesktopEntryExecLineGivesTheFileAsOneArgument) {
  const std::string file = "/v/it's a \"clip\"; rm -rf ~.avi";
  const struct {
    const char* entry;
    std::optional<Args> command;
  } cases[] = {
      {"[Desktop Entry]\nExec=\"/opt/My Player/run\" --open=%U --icon %i %c\n",
       Args{"/opt/My Player/run", "--open=" + file, "--icon"}},
      {"[Desktop Entry]\nExec=player\n", Args{"player", file}},  // no file code: appended
      {"[Desktop Entry]\nExec=player --rate 100%% --from %k %F\n",
       Args{"player", "--rate", "100%", "--from", "/apps/p.desktop", file}},
      {"[Desktop Entry]\r\nExec=\"a \\\"quoted\\\" \\\\name\" %f\r\n", Args{"a \"quoted\" \\name", file}},
      {"[Desktop Entry]\nExec=my\\splayer %f\n", Args{"my", "player", file}},  // \s splits like a blank
      {"[Desktop Action new]\nExec=other\n[Desktop Entry]\nExec=main %u\n", Args{"main", file}},
      {"[Desktop Entry]\nExec=\"unterminated %f\n", std::nullopt},
      {"[Desktop Entry]\nExec=%i\n", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(qvr::desktopEntryCommand(c.entry, "/apps/p.desktop", file), c.command) << c.entry;
}

// A program that writes its argument count and each argument on a line of its own into `log`.
void writeRecorder(const std::string& path, const std::string& log) {
  const std::string temporary = testsupport::shellQuote(log + ".tmp");
  std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > " << temporary << " && mv " << temporary << " "
                      << testsupport::shellQuote(log) << "\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::string waitForFile(const std::string& path) {
  waitUntil([&] { return qvr::fs::fileExists(path); }, 10000);
  const std::vector<uint8_t> bytes = testsupport::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(PlayerProcess, HostilePathReachesVlcAndAnEntrysProgramAsOneArgument) {
  testsupport::TempDir dir;
  const std::string movie = dir.file("my \"best\" clip's; touch PWNED $(touch PWNED2) `touch PWNED3`.avi");
  testsupport::writeFile(movie, std::vector<uint8_t>(100, 1));

  // VLC on PATH, or outside it as the Flatpak export in the (scratch) home folder.
  const std::string savedPath = getenv("PATH") ? getenv("PATH") : "",
                    flatpak = qvr::fs::homeDirectory() + "/.local/share/flatpak/exports/bin";
  std::string pathWithoutVlc = dir.file("bin");
  for (const auto& part : std::views::split(savedPath, ':')) {
    const std::string folder(part.begin(), part.end());
    if (!qvr::fs::fileExists(folder + "/vlc")) pathWithoutVlc += ":" + folder;
  }
  std::filesystem::create_directories(flatpak);
  std::filesystem::create_directory(dir.file("bin"));
  qvr::QtPlatformServices platform;
  platform.alertShown = [](coreWindow&) { return 0; };  // VLC not found
  qvr::QtDesktopServices desktop;
  setenv("PATH", pathWithoutVlc.c_str(), 1);
  for (const std::string& vlc : {dir.file("bin/vlc"), flatpak + "/org.videolan.VLC"}) {
    writeRecorder(vlc, dir.file("vlc.log"));
    qvr::PreviewLauncher(platform, desktop, "").playWithVLC(movie, true);
    EXPECT_EQ(waitForFile(dir.file("vlc.log")), "1\n" + movie + "\n") << vlc;
    std::filesystem::remove(vlc);
    std::filesystem::remove(dir.file("vlc.log"));
  }
  setenv("PATH", savedPath.c_str(), 1);

  // Without VLC an AVI goes to the chosen application entry.
  ScriptedDesktop noVlc;
  noVlc.alertAnswer = 1;
  struct ChoosingDesktop : qvr::QtDesktopServices {
    std::string answer;
    std::optional<std::string> runApplicationPanel(const std::string&) override { return answer; }
  } chooser;
  const std::string player = dir.file("my player; echo");
  writeRecorder(player, dir.file("player.log"));
  chooser.answer = dir.file("player.desktop");
  std::ofstream(chooser.answer) << "[Desktop Entry]\nType=Application\nExec=\"" << player << "\" --play %f\n";
  qvr::PreviewLauncher(noVlc, chooser, "").playWithVLC(movie, true);
  EXPECT_EQ(waitForFile(dir.file("player.log")), "2\n--play\n" + movie + "\n");
  for (const char* marker : {"PWNED", "PWNED2", "PWNED3"}) {
    EXPECT_FALSE(qvr::fs::fileExists(dir.file(marker)) || qvr::fs::fileExists(marker)) << marker;
  }
}

TEST(PreviewWindow, SaysSoWhenTheFileCannotBePlayed) {
  testsupport::TempDir dir;
  const std::string junk = dir.file(".testfile.mov");
  testsupport::writeFile(junk, std::vector<uint8_t>(64 * 1024, 0x5a));
  qvr::QtDesktopServices desktop;
  desktop.showPreview(junk);
  qvr::PreviewWindow* window = desktop.previewWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  ASSERT_TRUE(waitUntil([&] { return !window->problem().isEmpty(); }, 20000)) << "a black window says nothing";
  EXPECT_FALSE(window->findChild<QPushButton*>("previewPlayPause")->isEnabled());
}

}  // namespace
}  // namespace apptest
