#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "AppTestSupport.h"
#include "DesktopTestSupport.h"
#include "app/gui/UpdateChecker.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

namespace apptest {
namespace {

using testsupport::LocalHttpServer;

std::string versionList(const std::string& version) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>com.quenda.videorepair</string>" +
         (version.empty() ? std::string() : "<key>CFBundleShortVersionString</key><string>" + version + "</string>") +
         "</dict></plist>\n";
}

// Serves `body` with `status` at every path.
std::unique_ptr<LocalHttpServer> serving(std::string body, int status = 200) {
  return std::make_unique<LocalHttpServer>([body, status](const LocalHttpServer::Request&) {
    LocalHttpServer::Response response;
    response.status = status;
    response.body = body;
    response.headers["Content-Type"] = "application/xml";
    return response;
  });
}

TEST(UpdateCheck, OnlyADifferentPublishedVersionCounts) {
  const std::chrono::seconds limit(5);
  auto server = serving(versionList("2.4.0"));
  const std::string url = server->baseUrl() + "/version.plist";
  EXPECT_FALSE(qvr::checkForUpdate(url, "2.4.0", limit)) << "equal";
  EXPECT_TRUE(qvr::checkForUpdate(url, "2.3.9", limit)) << "newer published";
  EXPECT_TRUE(qvr::checkForUpdate(url, "2.10.0", limit)) << "older published: still different";
  EXPECT_FALSE(qvr::checkForUpdate(url, "", limit)) << "no local version";
  EXPECT_EQ(server->requests().size(), 3u);
  EXPECT_EQ(server->requests()[0].target, "/version.plist");

  EXPECT_FALSE(qvr::checkForUpdate(serving(versionList(""))->baseUrl() + "/v.plist", "1.0", limit)) << "missing key";
  EXPECT_FALSE(qvr::checkForUpdate(serving("<html>moved</html>")->baseUrl() + "/v.plist", "1.0", limit));
  EXPECT_FALSE(qvr::checkForUpdate(serving(versionList("9.9"), 404)->baseUrl() + "/v.plist", "1.0", limit))
      << "an error page is no published version, whatever it holds";
  EXPECT_FALSE(qvr::checkForUpdate("", "1.0", limit));

  // A server that is gone.
  std::string gone;
  {
    auto closed = serving(versionList("9.9"));
    gone = closed->baseUrl() + "/v.plist";
  }
  EXPECT_FALSE(qvr::checkForUpdate(gone, "1.0", limit));

  // Spaces in the configured address travel as %20.
  auto spaced = serving(versionList("3.0"));
  EXPECT_TRUE(qvr::checkForUpdate(spaced->baseUrl() + "/my version list.plist", "2.0", limit));
  ASSERT_EQ(spaced->requests().size(), 1u);
  EXPECT_EQ(spaced->requests()[0].target, "/my%20version%20list.plist");
}

struct CheckerRun {
  ScriptedPlatform platform;
  ScriptedDesktop desktop;
  std::unique_ptr<qvr::UpdateChecker> checker;
  std::optional<bool> answer;

  explicit CheckerRun(const std::string& url, const std::string& version = "1.0") {
    platform.working = "/work folder";
    checker = std::make_unique<qvr::UpdateChecker>(platform, desktop, url, version);
    checker->timeout = std::chrono::seconds(5);
    checker->finished = [this](bool available) { answer = available; };
  }
  void check(bool userAsked) {
    answer.reset();
    checker->checkForUpdateClicked(userAsked);
    EXPECT_TRUE(waitUntil([this] { return answer.has_value(); }, 15000));
  }
};

TEST(UpdateCheck, TheQuestionAndTheUpdaterFollowTheAnswer) {
  auto server = serving(versionList("1.1"));
  CheckerRun run(server->baseUrl() + "/v.plist");

  run.platform.alertAnswer = 1;  // "NO"
  run.check(false);
  EXPECT_EQ(run.answer, true);
  ASSERT_EQ(run.platform.alerts.size(), 1u);
  EXPECT_EQ(run.platform.alerts[0].title, "A newer version of Hollin Video Repair Tool is available");
  EXPECT_EQ(run.platform.alerts[0].message, "Do you want to update");
  EXPECT_EQ(run.platform.alerts[0].buttons, (std::vector<std::string>{"YES", "NO"}));
  EXPECT_TRUE(run.desktop.launches.empty());

  run.platform.alertAnswer = 0;  // "YES"
  run.check(true);
  ASSERT_EQ(run.desktop.launches.size(), 1u);
  EXPECT_EQ(run.desktop.launches[0].program, "/work folder/.refresher");
  EXPECT_TRUE(run.desktop.launches[0].arguments.empty());
}

TEST(UpdateCheck, NoUpdateIsSilentAtStartAndStartsTheAgentWhenAsked) {
  auto server = serving(versionList("1.0"));
  CheckerRun equal(server->baseUrl() + "/v.plist");
  equal.check(false);
  EXPECT_EQ(equal.answer, false);
  EXPECT_TRUE(equal.platform.alerts.empty());
  EXPECT_TRUE(equal.desktop.launches.empty());
  equal.check(true);
  EXPECT_TRUE(equal.platform.alerts.empty());
  ASSERT_EQ(equal.desktop.launches.size(), 1u);
  EXPECT_EQ(equal.desktop.launches[0].program, "/work folder/.refresher/Refresher Agent");

  // No address configured: nothing at start, the agent from the menu; a failed start is ignored.
  CheckerRun unset("");
  unset.desktop.launchSucceeds = false;
  unset.check(false);
  EXPECT_TRUE(unset.desktop.launches.empty());
  unset.check(true);
  EXPECT_EQ(unset.desktop.launches.size(), 1u);
  EXPECT_TRUE(unset.platform.alerts.empty());
}

TEST(UpdateCheck, UpdaterInstalledAsAFolderIsStartedThroughItsProgram) {
  testsupport::TempDir dir;
  EXPECT_EQ(qvr::updaterProgram(dir.path()), dir.path() + "/.refresher");
  std::filesystem::create_directory(dir.file(".refresher"));
  EXPECT_EQ(qvr::updaterProgram(dir.path()), dir.path() + "/.refresher/refresher");
  EXPECT_EQ(qvr::updaterAgent(dir.path()), dir.path() + "/.refresher/Refresher Agent");
  EXPECT_EQ(qvr::escapeSpaces("http://h/a b  c"), "http://h/a%20b%20%20c");
}

}  // namespace
}  // namespace apptest
