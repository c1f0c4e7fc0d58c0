// The whole report against the storage emulator, which checks every signature, with a local mail service.
#include <gtest/gtest.h>

#include "foundation/FileSystem.h"
#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSOperationContext.h"
#include "report/AzuriteSupport.h"
#include "report/ErrorReportTestSupport.h"
#include "report/ReportTestSupport.h"
#include "report/azs/Crypto.h"

using namespace reporttest;

namespace {

class AzuriteErrorReport : public ReportFixture {
 protected:
  void SetUp() override {
    endpoint = emulatorEndpoint();
    ASSERT_FALSE(endpoint.empty()) << "the emulator is not running; run through ctest (fixture azurite)";
    client = AZSCloudStorageAccount::accountFromConnectionString(devConnectionString(endpoint))->getBlobClient();
    // The storage client's own log at its most talkative, so that the secrets test sees everything.
    AZSOperationContext::setGlobalLogLevel(5);
    AZSOperationContext::setGlobalLogFunction([](int64_t, const std::string& m) { qvr::log("%s", m.c_str()); });
  }
  void TearDown() override {
    AZSOperationContext::setGlobalLogLevel(0);
    AZSOperationContext::setGlobalLogFunction(nullptr);
  }

  std::unique_ptr<qvr::ErrorReport> newReport(const std::string& key = kDevKey) {
    return std::make_unique<qvr::ErrorReport>(
        qvr::ReportServices{devConnectionString(endpoint, key), mailSettingsFor(mail)}, platform, windows, windows);
  }
  static qvr::ReportForm form() { return {"user@example.com", "The clip stops after a minute.", true, ""}; }

  std::optional<std::vector<uint8_t>> readBack(const std::string& container, const std::string& blob) {
    return reporttest::readBack(
        *client, qvr::azs::UrlComponents::parse(endpoint + "/" + container)->appendingPathComponent(blob));
  }
  std::optional<bool> containerExists(const std::string& name) {
    Completion<ErrorBoolResult> done;
    client->containerReferenceFromName(name)->existsWithAccessCondition(nullptr, nullptr, nullptr, pairHandler(done));
    auto r = done.wait();
    if (!r || r->first) return std::nullopt;
    return r->second;
  }

  std::string endpoint;
  std::shared_ptr<AZSCloudBlobClient> client;
};

TEST_F(AzuriteErrorReport, SelectedFilesArriveWholeInOneMiBBlocksWithTheAddressAndOneMail) {
  LogCapture logs;
  const std::vector<uint8_t> empty, exact = patternBytes(1048576, 2), over = patternBytes(1048577, 3);
  const std::string a = file("empty.mov", 0, 1), b = file("exact.mp4", 1048576, 2), c = file("over.avi", 1048577, 3);
  const std::string unselected = file("left-out.mov", 10, 4);
  auto report = newReport();
  report->submitErrorReport(form(), {{true, a}, {false, unselected}, {true, b}, {true, c}});
  report->waitUntilIdle();
  const std::string container = report->containerName();
  ASSERT_TRUE(isReportId(container)) << container;

  EXPECT_EQ(readBack(container, "empty.mov"), empty);
  EXPECT_EQ(readBack(container, "exact.mp4"), exact);
  EXPECT_EQ(readBack(container, "over.avi"), over);
  EXPECT_EQ(readBack(container, "left-out.mov"), std::nullopt);
  auto address = readBack(container, "email.txt");
  ASSERT_TRUE(address);
  EXPECT_EQ(std::string(address->begin(), address->end()), "user@example.com");
  // One, one and two blocks, one request at a time.
  EXPECT_EQ(logs.count("0 IN"), 3u);
  EXPECT_EQ(logs.count("1 IN"), 1u);
  EXPECT_EQ(logs.count("2 IN"), 0u);
  EXPECT_EQ(logs.count("Committing Block"), 3u);

  EXPECT_EQ(windows.matching("file "),
            (std::vector<std::string>{"file Uploading (1/3): empty.mov", "file Uploading (2/3): exact.mp4",
                                      "file Uploading (3/3): over.avi"}));
  EXPECT_EQ(windows.matching("percent 50").size(), 1u) << "the second block of the two-block file";
  EXPECT_EQ(windows.events().front(), "page 2 Cancel retry-hidden");
  EXPECT_EQ(windows.lastPage(), "page 4 Close retry-hidden");
  EXPECT_TRUE(report->uploadCompleted());

  auto mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].headers.at("authorization"), std::string("Bearer ") + kMailKey);
  EXPECT_EQ(mails[0].headers.at("content-type"), "application/json");
  std::string subject, sender;
  const std::string body = mailBodyOf(mails[0], &subject, &sender);
  EXPECT_TRUE(isReportSubject(subject)) << subject;
  EXPECT_EQ(sender, "user@example.com");
  const std::string base = endpoint + "/" + container + "/";
  EXPECT_EQ(body, "The clip stops after a minute.\n\n" + base + "empty.mov\n\n" + base + "exact.mp4\n\n" + base +
                      "over.avi\n\nMacOS : Debian GNU/Linux 12 (bookworm)\n\nUID : " + container);
  EXPECT_EQ(nlohmann::json::parse(mails[0].body)["personalizations"][0]["to"][0]["email"], kSupportMailbox);

  // Neither the account key, nor a request signature, nor the mail key reach any log line.
  ASSERT_TRUE(logs.mentions("Sending header name = x-ms-version")) << "the client's verbose log was captured";
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.find(kDevKey), std::string::npos) << line;
    EXPECT_EQ(line.find("SharedKey devstoreaccount1:"), std::string::npos) << line;
    EXPECT_EQ(line.find(kMailKey), std::string::npos) << line;
    EXPECT_EQ(line.find("Bearer"), std::string::npos) << line;
  }
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(AzuriteErrorReport, AbortDeletesTheContainerAndSendsNoMail) {
  auto report = newReport();
  qvr::ErrorReport* r = report.get();
  // The user confirms the abort while the second of three blocks is being sent.
  windows.onPercentage = [r](double p) {
    if (p > 30) r->abortUpload();
  };
  report->submitErrorReport(form(), {{true, file("big.mov", 3 * 1048576, 5)}, {true, file("next.mov", 100, 6)}});
  report->waitUntilIdle();
  const std::string container = report->containerName();
  EXPECT_EQ(containerExists(container), std::optional<bool>(false));
  EXPECT_TRUE(report->AbortError());
  EXPECT_FALSE(report->uploadCompleted());
  EXPECT_EQ(windows.matching("file ").back(), "file Aborting please wait...");
  EXPECT_EQ(windows.matching("file Uploading").size(), 1u) << "no later file is started";
  EXPECT_EQ(windows.lastPage(), "page 3 Close retry-hidden");
  EXPECT_TRUE(mailRequests(mail).empty());
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(AzuriteErrorReport, MissingSelectedFileIsLoggedAndTheOthersStillArrive) {
  const std::string gone = dir.file("files/deleted-meanwhile.mov");
  const std::string kept = file("kept.mov", 5000, 7);
  auto report = newReport();
  report->submitErrorReport(form(), {{true, gone}, {true, kept}});
  report->waitUntilIdle();
  const std::string container = report->containerName();
  EXPECT_EQ(readBack(container, "kept.mov"), patternBytes(5000, 7));
  EXPECT_EQ(errorLog(), gone + " Failed to upload.\n");
  EXPECT_EQ(windows.matching("header"),
            (std::vector<std::string>{"header 1 File uploaded sucessfully.", "header-state 0"}));
  EXPECT_EQ(windows.lastPage(), "page 1 Close retry-hidden");
  auto mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mailBodyOf(mails[0]).find("\n\n" + endpoint + "/" + container + "/kept.mov\n\n"), std::string::npos);
  EXPECT_EQ(mailBodyOf(mails[0]).find("deleted-meanwhile"), std::string::npos);

  // Closing the report window removes the log.
  report->deleteErrorLog();
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(AzuriteErrorReport, WrongKeyShowsTheConnectionMessageWithRetry) {
  LogCapture logs;
  const std::string wrongKey = qvr::azs::base64Encode(std::string(64, 'k'));
  auto report = newReport(wrongKey);
  report->submitErrorReport(form(), {{true, file("a.mov", 10, 8)}});
  report->waitUntilIdle();
  EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
  EXPECT_EQ(windows.matching("message "),
            (std::vector<std::string>{"message Please check your internet connection and try again. "
                                      "[information-icon]"}));
  EXPECT_FALSE(report->uploadCompleted());
  EXPECT_TRUE(mailRequests(mail).empty());
  EXPECT_TRUE(logs.mentions("HTTP status 403"));
  for (const auto& line : logs.lines()) EXPECT_EQ(line.find(wrongKey), std::string::npos) << line;
}

}  // namespace
