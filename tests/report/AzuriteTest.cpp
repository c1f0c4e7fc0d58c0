// The blob client and the whole report against the storage emulator, which checks every signature.
// The CTest fixture "azurite" starts it (scripts/azurite-start) and leaves its address in its state folder.
#include <gtest/gtest.h>

#include <fstream>

#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSCloudStorageAccount.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestFactory.h"
#include "report/AZSSharedKeyBlobAuthenticationHandler.h"
#include "report/ErrorReportTestSupport.h"
#include "report/ErrorReportText.h"
#include "report/azs/Crypto.h"

using namespace reporttest;

namespace {

class Azurite : public ReportFixture {
 protected:
  void SetUp() override {
    std::getline(std::ifstream(std::string(QVR_AZURITE_STATE_DIR) + "/endpoint"), endpoint);
    ASSERT_FALSE(endpoint.empty()) << "the emulator is not running; run through ctest (fixture azurite)";
    client = AZSCloudStorageAccount::accountFromConnectionString(devConnectionString(endpoint))->getBlobClient();
  }

  // A blob's bytes as the emulator holds them, through a signed GET of our own.
  std::optional<std::vector<uint8_t>> readBack(const std::string& container, const std::string& blob) {
    auto request = AZSRequestFactory::getRequestWithUrlComponents(
        qvr::azs::UrlComponents::parse(endpoint + "/" + container)->appendingPathComponent(blob), 30);
    AZSOperationContext ctx;
    if (AZSSharedKeyBlobAuthenticationHandler(client->credentials).signRequest(request, ctx)) return std::nullopt;
    auto out = qvr::azs::performHttpRequest(request, 30, 64u << 20, [](const qvr::azs::HttpResponse&) {});
    if (out.transportFailed || !out.response || out.response->statusCode != 200) return std::nullopt;
    return out.body;
  }

  std::unique_ptr<qvr::ErrorReport> newReport(const std::string& key = kDevKey) {
    return std::make_unique<qvr::ErrorReport>(
        qvr::ReportServices{devConnectionString(endpoint, key), mailSettingsFor(mail)}, platform, windows, windows);
  }
  static qvr::ReportForm form() { return {"user@example.com", "The clip stops after a minute.", true, ""}; }

  std::string endpoint;
  std::shared_ptr<AZSCloudBlobClient> client;
};

TEST_F(Azurite, SelectedFilesArriveWholeInOneMiBBlocksWithTheAddressAndOneMail) {
  LogCapture logs;
  // The storage client's own log at its most talkative, so that the secrets check sees everything.
  AZSOperationContext::setGlobalLogLevel(5);
  AZSOperationContext::setGlobalLogFunction([](int64_t, const std::string& m) { qvr::log("%s", m.c_str()); });
  const std::string a = file("empty.mov", 0, 1), b = file("exact.mp4", 1048576, 2),
                    c = file("over #1?.avi", 1048577, 3);
  auto report = newReport();
  report->submitErrorReport(form(), {{true, a}, {false, file("left-out.mov", 10, 4)}, {true, b}, {true, c}});
  report->waitUntilIdle();
  AZSOperationContext::setGlobalLogLevel(0);
  AZSOperationContext::setGlobalLogFunction(nullptr);
  const std::string container = report->containerName();

  EXPECT_EQ(readBack(container, "empty.mov"), std::vector<uint8_t>());
  EXPECT_EQ(readBack(container, "exact.mp4"), patternBytes(1048576, 2));
  EXPECT_EQ(readBack(container, "over #1?.avi"), patternBytes(1048577, 3));
  EXPECT_EQ(readBack(container, "left-out.mov"), std::nullopt);
  const std::string sender = "user@example.com";
  EXPECT_EQ(readBack(container, "email.txt"), std::vector<uint8_t>(sender.begin(), sender.end()));
  // 1 MiB blocks: one for the exact file, two for the one byte over, and no third anywhere.
  EXPECT_EQ(windows.matching("percent 50").size(), 1u);
  EXPECT_TRUE(windows.matching("percent 33").empty());
  EXPECT_EQ(windows.lastPage(), "page 4 Close retry-hidden");
  EXPECT_TRUE(report->uploadCompleted());

  auto mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].headers.at("authorization"), std::string("Bearer ") + kMailKey);
  const std::string base = endpoint + "/" + container + "/";
  EXPECT_EQ(mailBodyOf(mails[0]),
            "The clip stops after a minute.\n\n" + base + "empty.mov\n\n" + base + "exact.mp4\n\n" + base +
                "over%20%231%3F.avi\n\nMacOS : Debian GNU/Linux 12 (bookworm)\n\nUID : " + container);
  auto doc = nlohmann::json::parse(mails[0].body);
  EXPECT_EQ(doc["from"]["email"], sender);
  EXPECT_EQ(doc["personalizations"][0]["to"][0]["email"], kSupportMailbox);

  // Neither the account key, nor a request signature, nor the mail key reach any log line.
  ASSERT_TRUE(logs.mentions("Sending header name = x-ms-version")) << "the client's verbose log was captured";
  for (const auto& line : logs.lines()) {
    EXPECT_EQ(line.find(kDevKey), std::string::npos) << line;
    EXPECT_EQ(line.find("SharedKey devstoreaccount1:"), std::string::npos) << line;
    EXPECT_EQ(line.find(kMailKey), std::string::npos) << line;
  }
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(Azurite, AbortDeletesTheContainerAndSendsNoMail) {
  auto report = newReport();
  qvr::ErrorReport* r = report.get();
  // The user confirms the abort while the second of three blocks is being sent.
  windows.onPercentage = [r](double p) {
    if (p > 30) r->abortUpload();
  };
  report->submitErrorReport(form(), {{true, file("big.mov", 3 * 1048576, 5)}, {true, file("next.mov", 100, 6)}});
  report->waitUntilIdle();
  auto container = client->containerReferenceFromName(report->containerName());
  auto gone = run([&](auto h) { container->deleteContainerWithCompletionHandler(h); });
  EXPECT_EQ(gone ? statusOf(*gone) : 0, 404);
  EXPECT_FALSE(report->uploadCompleted());
  EXPECT_EQ(windows.matching("file Uploading").size(), 1u) << "no later file is started";
  EXPECT_EQ(windows.lastPage(), "page 3 Close retry-hidden");
  EXPECT_TRUE(mailRequests(mail).empty());
}

TEST_F(Azurite, WrongKeyShowsTheConnectionMessageWithRetry) {
  LogCapture logs;
  const std::string wrongKey = qvr::azs::base64Encode(std::string(64, 'k'));
  auto report = newReport(wrongKey);
  report->submitErrorReport(form(), {{true, file("a.mov", 10, 8)}});
  report->waitUntilIdle();
  EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
  EXPECT_FALSE(report->uploadCompleted());
  EXPECT_TRUE(mailRequests(mail).empty());
  // The check has no body; the service explains its refusal of the clean-up.
  EXPECT_TRUE(logs.mentions("HTTP status 403, AuthorizationFailure"));
  for (const auto& line : logs.lines()) EXPECT_EQ(line.find(wrongKey), std::string::npos) << line;
}

}  // namespace
