// The upload loop against a scripted storage service: what is committed, logged and mailed when
// single files or the connection fail.
#include <gtest/gtest.h>

#include "report/ErrorReportTestSupport.h"

using namespace reporttest;
using testsupport::LocalHttpServer;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Answers like the blob service for the requests the report makes; `blockStatus` decides the
// answer to each block upload from its target.
class FakeStorage {
 public:
  std::function<int(const std::string& target)> blockStatus = [](const std::string&) { return 201; };
  std::atomic<int> containerDelayMs{0};
  std::atomic<int> containerStatus{201};

  LocalHttpServer server{[this](const LocalHttpServer::Request& r) -> LocalHttpServer::Response {
    const std::string& t = r.target;
    if (has(t, "restype=container")) {
      if (r.method == "PUT") {
        std::this_thread::sleep_for(std::chrono::milliseconds(containerDelayMs.load()));
        return {containerStatus.load(), "", {}};
      }
      if (r.method == "DELETE") return {202, "", {}};
      return {404, "", {}};
    }
    if (has(t, "comp=block") && !has(t, "comp=blocklist")) return {blockStatus(t), "", {}};
    return {201, "", {}};
  }};

  std::string connectionString() const { return devConnectionString(server.baseUrl() + "/devstoreaccount1"); }
  // Paths of the requests for the user's files (the address blob left out).
  std::vector<std::string> targets(const std::string& method, const std::string& part) const {
    std::vector<std::string> out;
    for (const auto& r : server.requests())
      if (r.method == method && has(r.target, part) && !has(r.target, "/email.txt"))
        out.push_back(r.target.substr(0, r.target.find('?')));
    return out;
  }
};

class ReportUpload : public ReportFixture {
 protected:
  void run(const std::vector<qvr::ReportFile>& files) {
    report = std::make_unique<qvr::ErrorReport>(qvr::ReportServices{storage.connectionString(), mailSettingsFor(mail)},
                                                platform, windows, windows);
    report->submitErrorReport(qvr::ReportForm{"user@example.com", "Broken clip.", true, ""}, files);
    report->waitUntilIdle();
    uploadCompleted = report->uploadCompleted();
    container = report->containerName();
  }

  FakeStorage storage;
  std::unique_ptr<qvr::ErrorReport> report;
  bool uploadCompleted = false;
  std::string container;
};

TEST_F(ReportUpload, FilesAfterAFailedOneAreUploadedInFullAndCountedTruly) {
  LogCapture logs;
  storage.blockStatus = [](const std::string& t) { return has(t, "/bad.bin?") ? 400 : 201; };
  const std::string a = file("a.bin", 3000), bad = file("bad.bin", 2000), c = file("c.bin", 1500);
  const std::string missing = dir.file("files/missing.mov"), skipped = dir.file("files/not-selected.mov");
  run({{true, a}, {true, bad}, {false, skipped}, {true, missing}, {true, c}});

  const std::string base = "/devstoreaccount1/" + container + "/";
  EXPECT_EQ(storage.targets("PUT", "comp=blocklist"), (std::vector<std::string>{base + "a.bin", base + "c.bin"}))
      << "the failed file's partial block list is never committed";
  EXPECT_EQ(errorLog(), bad + " Failed to upload.\n" + missing + " Failed to upload.\n")
      << "an entry the user did not select is nobody's failure";
  EXPECT_EQ(windows.matching("file "),
            (std::vector<std::string>{"file Uploading (1/4): a.bin", "file Uploading (2/4): bad.bin",
                                      "file Uploading (2/4): c.bin"}));
  EXPECT_EQ(windows.matching("header"),
            (std::vector<std::string>{"header 2 File uploaded sucessfully.", "header-state 0"}));
  EXPECT_EQ(windows.lastPage(), "page 1 Close retry-hidden");
  EXPECT_FALSE(uploadCompleted);

  auto mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mailBodyOf(mails[0]), "Broken clip.\n\n" + storage.server.baseUrl() + base + "a.bin\n\n" +
                                      storage.server.baseUrl() + base +
                                      "c.bin\n\nMacOS : Debian GNU/Linux 12 (bookworm)\n\nUID : " + container);
  EXPECT_TRUE(logs.mentions("Failed : com.Microsoft.AzureStorage.ErrorDomain 3, HTTP status 400"));
  // Closing the report window removes the log.
  report->deleteErrorLog();
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(ReportUpload, NothingStoredMeansNoMailAndTheOtherHeader) {
  storage.blockStatus = [](const std::string& t) { return has(t, "/email.txt") ? 201 : 400; };
  run({{true, file("a.bin", 10)}, {true, dir.file("files/gone.mov")}});
  EXPECT_TRUE(storage.targets("PUT", "comp=blocklist").empty());
  EXPECT_EQ(windows.matching("header"), (std::vector<std::string>{"header-state 1"}));
  EXPECT_EQ(windows.lastPage(), "page 1 Close retry-hidden");
  EXPECT_TRUE(mailRequests(mail).empty());
}

TEST_F(ReportUpload, SameFileNamesFromTwoFoldersKeepBothCopies) {
  qvr::fs::createDirectories(dir.path() + "/one");
  qvr::fs::createDirectories(dir.path() + "/two");
  testsupport::writeFile(dir.file("one/clip.mov"), patternBytes(100, 1));
  testsupport::writeFile(dir.file("two/clip.mov"), patternBytes(100, 2));
  testsupport::writeFile(dir.file("two/email.txt"), patternBytes(5, 3));
  run({{true, dir.file("one/clip.mov")}, {true, dir.file("two/clip.mov")}, {true, dir.file("two/email.txt")}});
  const std::string base = "/devstoreaccount1/" + container + "/";
  EXPECT_EQ(storage.targets("PUT", "comp=blocklist"),
            (std::vector<std::string>{base + "clip.mov", base + "clip%20%282%29.mov", base + "email%20%282%29.txt"}));
  EXPECT_EQ(windows.lastPage(), "page 4 Close retry-hidden");
  EXPECT_TRUE(uploadCompleted);
}

TEST_F(ReportUpload, SecondSubmitWhileUploadingStartsNothing) {
  storage.containerDelayMs = 400;
  qvr::ErrorReport report(qvr::ReportServices{storage.connectionString(), mailSettingsFor(mail)}, platform, windows,
                          windows);
  const qvr::ReportForm form{"user@example.com", "x", true, ""};
  report.submitErrorReport(form, {{true, file("a.bin", 10)}});
  report.submitErrorReport(form, {{true, file("a.bin", 10)}});
  report.waitUntilIdle();
  EXPECT_EQ(storage.targets("PUT", "restype=container").size(), 1u);
  EXPECT_EQ(mailRequests(mail).size(), 1u);
  // Once it has ended, a new report starts a new upload.
  report.submitErrorReport(form, {{true, file("a.bin", 10)}});
  report.waitUntilIdle();
  EXPECT_EQ(storage.targets("PUT", "restype=container").size(), 2u);
}

TEST_F(ReportUpload, ConnectionLostMidwayEndsTheUploadRemovesTheContainerAndMailsNothing) {
  storage.blockStatus = [this](const std::string& t) {
    if (has(t, "/email.txt")) return 201;
    platform.connected = false;
    return 400;
  };
  run({{true, file("a.bin", 10)}, {true, file("b.bin", 10)}});
  EXPECT_EQ(storage.targets("PUT", "comp=block").size(), 1u) << "the second file is not tried";
  EXPECT_EQ(storage.targets("DELETE", "restype=container"),
            (std::vector<std::string>{"/devstoreaccount1/" + container}));
  EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
  EXPECT_EQ(windows.matching("message ").back(),
            "message Please check your internet connection and try again. [information-icon]");
  EXPECT_TRUE(mailRequests(mail).empty());
  EXPECT_FALSE(uploadCompleted);
  EXPECT_EQ(errorLog(), "") << "a lost connection is not the file's fault";
}

TEST_F(ReportUpload, UploadingPageComesFirstSoAnEarlyFailureStaysVisible) {
  storage.containerStatus = 403;  // the failure page must be the last word
  run({{true, file("a.bin", 10)}});
  auto events = windows.events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0], "page 2 Cancel retry-hidden");
  EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
  EXPECT_TRUE(mailRequests(mail).empty());
}

}  // namespace
