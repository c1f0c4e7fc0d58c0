// The report without its windows: the form, the texts, the platform, the Drive-link report and the
// support mail, and the upload loop against a scripted storage service when files, requests or the
// connection fail, and the retry after each.
#include <gtest/gtest.h>

#include "report/ErrorReportTestSupport.h"
#include "report/ErrorReportText.h"

using namespace reporttest;
using testsupport::LocalHttpServer;
namespace texts = qvr::report;

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ErrorReportText, AddressCheckFollowsTheExpressionAndTheAtRule) {
  for (const char* good :
       {"user@example.com", "a.b-c@mail.example.de", "x@sub-1.domain.io", "first last@ex.am", "u@1.2.ab"}) {
    EXPECT_TRUE(qvr::validateEmailWithString(good)) << good;
  }
  for (const char* bad : {"", "@example.com", "user@", "user@example", "user@example.c", "user@@example.com",
                          "a@b@example.com", "user@.com", "user@example..com", "user@exa_mple.com", "user@example.c0m",
                          "user@example.com.", "us\ner@example.com", "user@example.com\n", "user@ex ample.com"}) {
    EXPECT_FALSE(qvr::validateEmailWithString(bad)) << bad;
  }
  // A pasted megabyte is judged, not choked on.
  std::string huge(1 << 20, 'a');
  EXPECT_TRUE(qvr::validateEmailWithString(huge + "@example.com"));
  EXPECT_FALSE(qvr::validateEmailWithString(huge + "@" + huge));
}

TEST(ErrorReportText, MailPieces) {
  EXPECT_EQ((qvr::MailSettings{"https://m.example/v3/mail/send/", "k", "m"}.sendUrl()),
            "https://m.example/v3/mail/send");
  // Invalid UTF-8 from the form does not stop the mail.
  const std::string doc = qvr::composeMailDocument("s@x.io", "subj", "u@x.io", "bad \xff byte");
  EXPECT_TRUE(nlohmann::json::accept(doc)) << doc;
}

TEST(ReportPlatform, DefaultRouteOsNameAndDesktopFolder) {
  testsupport::TempDir dir;
  auto write = [&](const std::string& name, const std::string& text) {
    testsupport::writeFile(dir.file(name), std::vector<uint8_t>(text.begin(), text.end()));
    return dir.file(name);
  };
  const std::string v4 = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n",
                    lan = "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
                    v6 = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 ";
  const std::string v6lo = v6 + "00000000000000000000000000000000 ffffffff 00000001 00000001 00200200       lo\n";
  struct Case {
    std::string v4, v6;
    bool connected;
  };
  // A local network and loopback's reject route are no way out, nor is a default route that is down.
  for (const auto& c : std::vector<Case>{
           {v4 + lan, v6lo, false},
           {v4 + lan + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n", v6lo, true},
           {v4 + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", v6lo, false},
           {"", v6lo + v6 + "fe800000000000000000000000000001 00000400 00000001 00000000 00000003  wlan0\n", true}}) {
    EXPECT_EQ(qvr::hasDefaultRoute(c.v4.empty() ? dir.file("none") : write("v4", c.v4), write("v6", c.v6)), c.connected)
        << c.v4 << c.v6;
  }
  EXPECT_EQ(qvr::prettyNameFromOsRelease(write("os", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian 12\"\n")), "Debian 12");
  EXPECT_EQ(qvr::desktopDirectoryFrom(write("d", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"), "/h"), "/h/Schreibtisch");
}

// A report whose storage is a port where nothing listens: anything that tries to upload fails loudly.
class ReportForm : public ReportFixture {
 protected:
  qvr::ReportServices services() {
    return qvr::ReportServices{devConnectionString("http://127.0.0.1:9/devstoreaccount1"), mailSettingsFor(mail)};
  }
  qvr::ErrorReport report{services(), platform, windows, windows};
  const qvr::ReportForm form{"user@example.com", "It stops.", true, ""};
};

std::string message(const std::string& text, const std::string& image = texts::kInformationImage) {
  return "message " + text + " [" + image + "]";
}

TEST_F(ReportForm, EachFormErrorInItsOrderWithItsImageAndNothingSent) {
  const std::vector<qvr::ReportFile> one{{true, dir.file("a.mov")}}, none{{false, dir.file("a.mov")}};
  struct Case {
    qvr::ReportForm form;
    std::vector<qvr::ReportFile> files;
    std::string expected;
  };
  for (const auto& c :
       std::vector<Case>{{{"", "", true, ""}, {}, message(texts::kEnterEmail, texts::kMailImage)},
                         {{"user@example.com", "", true, ""}, {}, message(texts::kDescribeIssue)},
                         {{"a@b@example.com", "x", true, ""}, one, message(texts::kInvalidEmail, texts::kMailImage)},
                         {{"user@example.com", "x", true, ""}, {}, message(texts::kAddFiles)},
                         {{"user@example.com", "x", true, ""}, none, message(texts::kSelectFile)},
                         {{"user@example.com", "x", false, ""}, one, message(texts::kDriveLinkMissing)}}) {
    RecordingWindows w;
    qvr::ErrorReport r(services(), platform, w, w);
    r.submitErrorReport(c.form, c.files);
    r.waitUntilIdle();
    EXPECT_EQ(w.matching(), (std::vector<std::string>{"page 5 OK retry-hidden", c.expected, "run"})) << c.expected;
  }
  // A retry once nothing is selected any more asks for a file instead of mailing an empty report.
  platform.connected = false;
  report.submitErrorReport(form, one);
  report.retryClicked(none);
  EXPECT_EQ(windows.matching("message ").back(), message(texts::kSelectFile));
  EXPECT_TRUE(mail.requests().empty());
}

TEST_F(ReportForm, DriveLinkReportMailsAtOnceWithoutUpload) {
  report.submitErrorReport({"user@example.com", "It stops.", false, "https://drive.example/d/XYZ"}, {{true, "/x.mov"}});
  report.waitUntilIdle();
  // The mail is the whole report here: it is shown as sent once the service took it.
  EXPECT_EQ(windows.matching(), (std::vector<std::string>{"page 2 Cancel retry-hidden", "file Sending the report...",
                                                          "run", "page 4 Close retry-hidden"}));
  EXPECT_TRUE(report.uploadCompleted());
  ASSERT_EQ(mail.requests().size(), 1u) << "the mail only; nothing reached the storage port";
  EXPECT_EQ(mailBodyOf(mail.requests()[0]).rfind("It stops.\n\nhttps://drive.example/d/XYZ\n\nMacOS : Debian", 0), 0u);
}

TEST_F(ReportForm, RefusedAndUnreachableMailAreLoggedWithoutTheKey) {
  LogCapture logs;
  LocalHttpServer refusing([](const LocalHttpServer::Request&) { return LocalHttpServer::Response{401, "no", {}}; });
  for (const std::string& endpoint : {refusing.baseUrl(), std::string("http://127.0.0.1:9")}) {
    qvr::SupportMailer mailer({endpoint, kMailKey, kSupportMailbox});
    mailer.sendMailWithSubject("s", "u@example.com", "b");
  }
  EXPECT_TRUE(logs.mentions("Error sending email: the mail service refused it with HTTP status 401"));
  EXPECT_TRUE(logs.mentions("Error sending email: Couldn't connect")) << "transport failures are named";
  EXPECT_FALSE(logs.mentions(kMailKey));
}

TEST_F(ReportForm, UnconfiguredServiceOfflineAndUnusableAccountSayWhy) {
  // No mail service: neither report path starts.
  RecordingWindows unconfigured;
  qvr::ErrorReport r(qvr::ReportServices{}, platform, unconfigured, unconfigured);
  r.submitErrorReport({"user@example.com", "It stops.", false, "https://drive.example/x"}, {});
  r.submitErrorReport(form, {{true, dir.file("a.mov")}});
  EXPECT_EQ(unconfigured.matching("message "),
            (std::vector<std::string>{message(texts::kNotConfigured), message(texts::kNotConfigured)}));
  // Offline before the start: the connection message with retry, no upload page.
  platform.connected = false;
  report.submitErrorReport(form, {{true, dir.file("a.mov")}});
  EXPECT_EQ(windows.matching(),
            (std::vector<std::string>{"page 5 OK retry-shown", message(texts::kCheckInternet), "run"}));
  // A connection string that gives no account: the same message, after the uploading page.
  platform.connected = true;
  RecordingWindows w;
  qvr::ErrorReport noAccount({"AccountName=;garbage", mailSettingsFor(mail)}, platform, w, w);
  noAccount.submitErrorReport(form, {{true, dir.file("a.mov")}});
  EXPECT_EQ(w.matching("page "), (std::vector<std::string>{"page 2 Cancel retry-hidden", "page 5 OK retry-shown"}));
  EXPECT_TRUE(mail.requests().empty());
}

// Answers like the blob service for the requests the report makes, unless `fault` gives a status
// of its own for a request (0: none).
struct FakeStorage {
  std::function<int(const LocalHttpServer::Request&)> fault = [](const LocalHttpServer::Request&) { return 0; };
  std::string connectionString() const { return devConnectionString(server.baseUrl() + "/devstoreaccount1"); }
  LocalHttpServer server{[this](const LocalHttpServer::Request& r) -> LocalHttpServer::Response {
    if (int status = fault(r)) return {status, "", {}};
    if (!has(r.target, "restype=container")) return {201, "", {}};
    return {r.method == "HEAD" ? 404 : r.method == "DELETE" ? 202 : 201, "", {}};
  }};

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
  void start(const LocalHttpServer& mailService) {
    report = std::make_unique<qvr::ErrorReport>(
        qvr::ReportServices{storage.connectionString(), mailSettingsFor(mailService)}, platform, windows, windows);
  }
  void run(const std::vector<qvr::ReportFile>& files) {
    if (!report) start(mail);
    report->submitErrorReport(form, files);
    report->waitUntilIdle();
  }
  std::string base() const { return "/devstoreaccount1/" + report->containerName() + "/"; }

  const qvr::ReportForm form{"user@example.com", "Broken clip.", true, ""};
  FakeStorage storage;
  std::unique_ptr<qvr::ErrorReport> report;
};

TEST_F(ReportUpload, FilesAfterAFailedOneAreUploadedInFullAndCountedTruly) {
  storage.fault = [](const LocalHttpServer::Request& r) { return has(r.target, "/bad.bin?comp=block&") ? 400 : 0; };
  const std::string a = file("a.bin", 3000), bad = file("bad.bin", 2000), c = file("c.bin", 1500);
  const std::string missing = dir.file("files/missing.mov"), skipped = dir.file("files/not-selected.mov");
  run({{true, a}, {true, bad}, {false, skipped}, {true, missing}, {true, c}});

  EXPECT_EQ(storage.targets("PUT", "comp=blocklist"), (std::vector<std::string>{base() + "a.bin", base() + "c.bin"}))
      << "the failed file's partial block list is never committed";
  EXPECT_EQ(errorLog(), bad + " Failed to upload.\n" + missing + " Failed to upload.\n")
      << "an entry the user did not select is nobody's failure";
  EXPECT_EQ(windows.matching("file ").back(), "file Uploading (2/4): c.bin");
  EXPECT_EQ(windows.matching("header"),
            (std::vector<std::string>{"header 2 File uploaded sucessfully.", "header-state 0"}));
  // Closing the report window removes the log.
  report->deleteErrorLog();
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(ReportUpload, AUsersOwnErrorLogIsNeitherAppendedToNorDeleted) {
  qvr::fs::createDirectories(qvr::fs::parentPath(platform.errorLogPath()));
  testsupport::writeFile(platform.errorLogPath(), {'m', 'i', 'n', 'e'});
  const std::string missing = dir.file("files/missing.mov");
  run({{true, file("a.bin", 10)}, {true, missing}});
  const std::string own = report->errorLogPath();
  EXPECT_NE(own, platform.errorLogPath());
  const auto ownLog = testsupport::readFile(own);
  EXPECT_EQ(std::string(ownLog.begin(), ownLog.end()), missing + " Failed to upload.\n");
  report->deleteErrorLog();
  EXPECT_FALSE(qvr::fs::fileExists(own));
  EXPECT_EQ(testsupport::readFile(platform.errorLogPath()), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
}

TEST_F(ReportUpload, NothingStoredMeansNoMailAndTheOtherHeader) {
  storage.fault = [](const LocalHttpServer::Request& r) { return has(r.target, "/a.bin?") ? 400 : 0; };
  run({{true, file("a.bin", 10)}, {true, dir.file("files/gone.mov")}});
  EXPECT_EQ(windows.matching("header"), (std::vector<std::string>{"header-state 1"}));
  EXPECT_EQ(windows.lastPage(), "page 1 Close retry-hidden");
  EXPECT_TRUE(mailRequests(mail).empty());
}

TEST_F(ReportUpload, SameFileNamesFromTwoFoldersKeepBothCopies) {
  qvr::fs::createDirectories(dir.path() + "/two");
  for (const char* name : {"two/clip.mov", "two/email.txt"}) testsupport::writeFile(dir.file(name), {1});
  run({{true, file("clip.mov", 10)}, {true, dir.file("two/clip.mov")}, {true, dir.file("two/email.txt")}});
  EXPECT_EQ(
      storage.targets("PUT", "comp=blocklist"),
      (std::vector<std::string>{base() + "clip.mov", base() + "clip%20%282%29.mov", base() + "email%20%282%29.txt"}));
}

TEST_F(ReportUpload, SecondSubmitWhileUploadingStartsNothing) {
  storage.fault = [](const LocalHttpServer::Request& r) {
    std::this_thread::sleep_for(std::chrono::milliseconds(r.method == "PUT" && has(r.target, "restype") ? 400 : 0));
    return 0;
  };
  start(mail);
  report->submitErrorReport(form, {{true, file("a.bin", 10)}});
  run({{true, file("a.bin", 10)}});
  EXPECT_EQ(storage.targets("PUT", "restype=container").size(), 1u);
  EXPECT_EQ(mailRequests(mail).size(), 1u);
  // Once it has ended, a new report starts a new upload.
  run({{true, file("a.bin", 10)}});
  EXPECT_EQ(storage.targets("PUT", "restype=container").size(), 2u);
}

// One fault in the first attempt of a report of two files.
struct Fault {
  const char* name;
  std::string request;  // the first request whose target holds this fails
  int status;           // with this answer; 0: answered as usual
  bool offline;         // the computer goes offline as it is answered
  bool fileFails;       // the file is at fault: the others are mailed, the failed one is logged
  bool stored = false;  // everything arrived: the container stays and the retry sends only the mail
};
const Fault kFaults[] = {
    {"FileBlock", "/b.bin?comp=block&", 500, false, true},
    {"BlockList", "/b.bin?comp=blocklist", 500, false, true},
    {"EmailBlob", "/email.txt?comp=block&", 500, false, false},
    {"ContainerCreation", "?restype=container", 403, false, false},
    {"OfflineDuringABlock", "/a.bin?comp=block&", 400, true, false},
    {"OfflineBeforeTheMail", "/b.bin?comp=blocklist", 0, true, false, true},
};

void PrintTo(const Fault& f, std::ostream* out) { *out << f.name; }

class ReportRetry : public ReportUpload, public ::testing::WithParamInterface<Fault> {};

// The report is not shown as sent, nothing that arrived is thrown away while a mail points at it,
// and the retry the page offers (its button, else a new submit) sends both files and a mail of both.
TEST_P(ReportRetry, FailedAttemptIsNotShownAsSentAndTheRetryCompletesIt) {
  const Fault& f = GetParam();
  std::atomic<bool> hit{false};
  storage.fault = [&](const LocalHttpServer::Request& r) {
    if (!has(r.target, f.request) || hit.exchange(true)) return 0;
    if (f.offline) platform.connected = false;
    return f.status;
  };
  const std::vector<qvr::ReportFile> files{{true, file("a.bin", 3000)}, {true, file("b.bin", 2000, 2)}};
  run(files);
  EXPECT_FALSE(report->uploadCompleted());
  EXPECT_EQ(windows.matching().front(), "page 2 Cancel retry-hidden") << "a failure page must be the last word";
  EXPECT_EQ(windows.lastPage(), f.fileFails ? "page 1 Close retry-hidden" : "page 5 OK retry-shown");
  EXPECT_EQ(errorLog(), f.fileFails ? files[1].filePath + " Failed to upload.\n" : "")
      << "a lost connection is not the file's fault";
  auto mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), f.fileFails ? 1u : 0u);
  EXPECT_TRUE(mails.empty() || !has(mailBodyOf(mails[0]), "b.bin")) << "only what arrived is mailed";
  EXPECT_EQ(storage.targets("DELETE", report->containerName()).size(), f.fileFails || f.stored ? 0u : 1u)
      << "a mailed link must stay valid, and stored files are kept for the mail's retry";

  const auto blockListsBefore = storage.targets("PUT", "comp=blocklist").size();
  platform.connected = true;
  f.fileFails ? report->submitErrorReport(form, files) : report->retryClicked(files);
  report->waitUntilIdle();
  EXPECT_TRUE(report->uploadCompleted());
  EXPECT_EQ(windows.lastPage(), "page 4 Close retry-hidden");
  mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), f.fileFails ? 2u : 1u);
  const std::string body = mailBodyOf(mails.back()), url = storage.server.baseUrl() + base();
  EXPECT_TRUE(has(body, "\n\n" + url + "a.bin\n\n" + url + "b.bin\n\n")) << body;
  if (f.stored) {
    EXPECT_EQ(storage.targets("PUT", "comp=blocklist").size(), blockListsBefore) << "nothing uploaded again";
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, ReportRetry, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// The mail is what makes support look at the files: a report whose mail was refused or never got
// through is not shown as sent, its files stay, and the retry sends the mail alone.
TEST_F(ReportUpload, MailThatCannotGoOutIsNotShownAsSentAndARetrySendsIt) {
  for (int firstAnswer : {LocalHttpServer::kHangUp, 401}) {
    std::atomic<int> attempts{0};
    LocalHttpServer dropsFirst([&](const LocalHttpServer::Request&) {
      return LocalHttpServer::Response{attempts++ ? 202 : firstAnswer, "", {}};
    });
    start(dropsFirst);
    const std::vector<qvr::ReportFile> files{{true, file("a.bin", 3000)}};
    run(files);
    EXPECT_FALSE(report->uploadCompleted()) << firstAnswer;
    EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
    EXPECT_EQ(windows.matching("message ").back(),
              message(firstAnswer == 401 ? texts::kMailRefused : texts::kCheckInternet));
    EXPECT_TRUE(storage.targets("DELETE", report->containerName()).empty());
    const auto blockLists = storage.targets("PUT", "comp=blocklist").size();
    report->retryClicked(files);
    report->waitUntilIdle();
    EXPECT_TRUE(report->uploadCompleted());
    EXPECT_EQ(windows.lastPage(), "page 4 Close retry-hidden");
    EXPECT_EQ(mailRequests(dropsFirst).size(), 2u);
    EXPECT_EQ(storage.targets("PUT", "comp=blocklist").size(), blockLists) << "the files were not uploaded again";
    report.reset();
  }
}

}  // namespace
