// The report without its windows: the form, the texts, the platform, the Drive-link report and the
// support mail, and the upload loop against a scripted storage service when files, requests or the
// connection fail.
#include <gtest/gtest.h>

#include "report/ErrorReportTestSupport.h"
#include "report/ErrorReportText.h"

using namespace reporttest;
using testsupport::LocalHttpServer;

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

TEST(ErrorReportText, RandomTextsIdentifiersAndMailPieces) {
  EXPECT_EQ(qvr::randomStringWithLength(-5), "");
  std::string r = qvr::randomStringWithLength(4000);
  ASSERT_EQ(r.size(), 4000u);
  EXPECT_EQ(r.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"), std::string::npos);
  for (char edge : std::string("09azAZ")) EXPECT_NE(r.find(edge), std::string::npos) << "the whole alphabet is drawn";
  std::string id = qvr::newReportIdentifier();
  EXPECT_TRUE(id.size() == 32 && id.find_first_not_of("0123456789abcdef") == std::string::npos) << id;
  EXPECT_NE(id, qvr::newReportIdentifier());

  EXPECT_EQ((qvr::MailSettings{"https://mail.example/", "k", "m"}.sendUrl()), "https://mail.example/v3/mail/send");
  EXPECT_EQ((qvr::MailSettings{"https://mail.example/v3/mail/send", "k", "m"}.sendUrl()),
            "https://mail.example/v3/mail/send");
  // Invalid UTF-8 from the form does not stop the mail.
  auto doc = nlohmann::json::parse(qvr::composeMailDocument("s@x.io", "subj", "u@x.io", "bad \xff byte"));
  EXPECT_EQ(doc["personalizations"][0]["to"][0]["email"], "s@x.io");
}

TEST(ReportPlatform, DefaultRouteOsNameAndDesktopFolder) {
  testsupport::TempDir dir;
  auto write = [&](const std::string& name, const std::string& text) {
    testsupport::writeFile(dir.file(name), std::vector<uint8_t>(text.begin(), text.end()));
    return dir.file(name);
  };
  const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  const std::string lan = "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
  const std::string v6lo =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
      "ffffffff 00000001 00000001 00200200       lo\n";
  const std::string v6wlan =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 "
      "00000400 00000001 00000000 00000003     wlan0\n";
  struct Case {
    std::string v4, v6;
    bool connected;
  };
  // A local network and loopback's reject route are no way out, nor is a default route that is down.
  for (const auto& c :
       std::vector<Case>{{header + lan, v6lo, false},
                         {header + lan + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n", v6lo, true},
                         {header + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", v6lo, false},
                         {"", v6lo + v6wlan, true}}) {
    EXPECT_EQ(qvr::hasDefaultRoute(c.v4.empty() ? dir.file("missing") : write("v4", c.v4), write("v6", c.v6)),
              c.connected)
        << c.v4 << c.v6;
  }
  EXPECT_EQ(qvr::prettyNameFromOsRelease(write("os1", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12\"\n")),
            "Debian GNU/Linux 12");
  EXPECT_EQ(qvr::prettyNameFromOsRelease(write("os2", "NAME=Arch\nVERSION='rolling'\n")), "Arch rolling");
  EXPECT_EQ(qvr::prettyNameFromOsRelease(dir.file("none")), "Linux");
  EXPECT_EQ(qvr::desktopDirectoryFrom(write("d1", "# c\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"), "/home/u"),
            "/home/u/Schreibtisch");
  EXPECT_EQ(qvr::desktopDirectoryFrom(write("d2", "XDG_DESKTOP_DIR=\"relative\"\n"), "/home/u"), "/home/u/Desktop");
}

// A report whose storage is a port where nothing listens: anything that tries to upload fails loudly.
class ReportForm : public ReportFixture {
 protected:
  qvr::ReportServices services() {
    return qvr::ReportServices{devConnectionString("http://127.0.0.1:9/devstoreaccount1"), mailSettingsFor(mail)};
  }
  qvr::ErrorReport& report() {
    if (!report_) report_ = std::make_unique<qvr::ErrorReport>(services(), platform, windows, windows);
    return *report_;
  }
  qvr::ReportForm form(bool upload = true) { return qvr::ReportForm{"user@example.com", "It stops.", upload, ""}; }

  std::unique_ptr<qvr::ErrorReport> report_;
};

TEST_F(ReportForm, EachFormErrorInItsOrderWithItsImageAndNothingSent) {
  const std::vector<qvr::ReportFile> one{{true, dir.file("a.mov")}};
  struct Case {
    qvr::ReportForm form;
    std::vector<qvr::ReportFile> files;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"", "", true, ""}, {}, "message Please enter email address. [Mail]"},
      {{"user@example.com", "", true, ""},
       {},
       "message Please provide more information about the issue. [information-icon]"},
      {{"a@b@example.com", "x", true, ""}, one, "message Enter a valid Email Address. [Mail]"},
      {{"user@example.com", "x", true, ""}, {}, "message Please add files to upload. [information-icon]"},
      {{"user@example.com", "x", true, ""},
       {{false, dir.file("a.mov")}, {false, dir.file("b.mov")}},
       "message Select a file to upload. [information-icon]"},
      {{"user@example.com", "x", false, ""},
       one,
       "message Please provide the file link of Google drive. [information-icon]"},
  };
  for (const auto& c : cases) {
    RecordingWindows w;
    qvr::ErrorReport r(services(), platform, w, w);
    r.submitErrorReport(c.form, c.files);
    r.waitUntilIdle();
    EXPECT_EQ(w.events(), (std::vector<std::string>{"page 5 OK retry-hidden", c.expected, "run"})) << c.expected;
  }
  // A retry once nothing is selected any more asks for a file instead of mailing an empty report.
  platform.connected = false;
  report().submitErrorReport(form(), one);
  report().retryClicked({{false, dir.file("a.mov")}});
  EXPECT_EQ(windows.matching("message ").back(), "message Select a file to upload. [information-icon]");
  EXPECT_TRUE(mail.requests().empty());
}

TEST_F(ReportForm, DriveLinkReportMailsAtOnceWithoutUpload) {
  auto f = form(false);
  f.driveLink = "https://drive.example/file/d/XYZ/view";
  report().submitErrorReport(f, {{true, "/nonexistent/never-read.mov"}});
  EXPECT_EQ(windows.events(), (std::vector<std::string>{"page 4 Close retry-hidden", "run"}));
  EXPECT_TRUE(report().uploadCompleted());
  report().waitUntilIdle();
  auto requests = mail.requests();
  ASSERT_EQ(requests.size(), 1u) << "the mail only; nothing reached the storage port";
  const std::string expected =
      "It stops.\n\nhttps://drive.example/file/d/XYZ/view\n\nMacOS : Debian GNU/Linux 12 (bookworm)\n\nUID : ";
  EXPECT_EQ(mailBodyOf(requests[0]).substr(0, expected.size()), expected);
}

TEST_F(ReportForm, RefusedAndUnreachableMailAreLoggedWithoutTheKey) {
  LogCapture logs;
  LocalHttpServer refusing([](const LocalHttpServer::Request&) { return LocalHttpServer::Response{401, "no", {}}; });
  qvr::SupportMailer mailer({refusing.baseUrl(), kMailKey, kSupportMailbox});
  mailer.sendMailWithSubject("s", "u@example.com", "b");
  qvr::SupportMailer nowhere({"http://127.0.0.1:9", kMailKey, kSupportMailbox});
  nowhere.sendMailWithSubject("s", "u@example.com", "b");
  mailer.waitUntilIdle();
  nowhere.waitUntilIdle();
  EXPECT_EQ(logs.count("Error sending email: the mail service refused it with HTTP status 401"), 1u);
  EXPECT_TRUE(logs.mentions("Error sending email: Couldn't connect")) << "transport failures are named";
  EXPECT_FALSE(logs.mentions(kMailKey));
}

TEST_F(ReportForm, UnconfiguredServiceOfflineAndUnusableAccountSayWhy) {
  // No mail service: neither report path starts.
  {
    RecordingWindows w;
    qvr::ErrorReport r(qvr::ReportServices{}, platform, w, w);
    auto f = form(false);
    f.driveLink = "https://drive.example/x";
    r.submitErrorReport(f, {});
    r.submitErrorReport(form(), {{true, dir.file("a.mov")}});
    const std::string expected = std::string("message ") + qvr::report::kNotConfigured + " [information-icon]";
    EXPECT_EQ(w.matching("message "), (std::vector<std::string>{expected, expected}));
  }
  // Offline before the start: the connection message with retry, no upload page.
  platform.connected = false;
  report().submitErrorReport(form(), {{true, dir.file("a.mov")}});
  EXPECT_EQ(windows.events(), (std::vector<std::string>{"page 5 OK retry-shown",
                                                        "message Please check your internet connection and try again. "
                                                        "[information-icon]",
                                                        "run"}));
  // A connection string that gives no account: the same message, after the uploading page.
  platform.connected = true;
  RecordingWindows w;
  auto svc = services();
  svc.storageConnectionString = "AccountName=;garbage";
  qvr::ErrorReport r(svc, platform, w, w);
  r.submitErrorReport(form(), {{true, dir.file("a.mov")}});
  r.waitUntilIdle();
  EXPECT_EQ(w.lastPage(), "page 5 OK retry-shown");
  EXPECT_EQ(w.matching("message ").size(), 1u);
  EXPECT_TRUE(mail.requests().empty());
}

// Answers like the blob service for the requests the report makes, unless `fault` gives a status
// of its own for a request (0: none).
struct FakeStorage {
  std::function<int(const LocalHttpServer::Request&)> fault = [](const LocalHttpServer::Request&) { return 0; };
  LocalHttpServer server{[this](const LocalHttpServer::Request& r) -> LocalHttpServer::Response {
    if (int status = fault(r)) return {status, "", {}};
    if (!has(r.target, "restype=container")) return {201, "", {}};
    return {r.method == "HEAD" ? 404 : r.method == "DELETE" ? 202 : 201, "", {}};
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
  LogCapture logs;
  storage.fault = [](const LocalHttpServer::Request& r) { return has(r.target, "/bad.bin?comp=block&") ? 400 : 0; };
  const std::string a = file("a.bin", 3000), bad = file("bad.bin", 2000), c = file("c.bin", 1500);
  const std::string missing = dir.file("files/missing.mov"), skipped = dir.file("files/not-selected.mov");
  run({{true, a}, {true, bad}, {false, skipped}, {true, missing}, {true, c}});

  EXPECT_EQ(storage.targets("PUT", "comp=blocklist"), (std::vector<std::string>{base() + "a.bin", base() + "c.bin"}))
      << "the failed file's partial block list is never committed";
  EXPECT_EQ(errorLog(), bad + " Failed to upload.\n" + missing + " Failed to upload.\n")
      << "an entry the user did not select is nobody's failure";
  EXPECT_EQ(windows.matching("file "),
            (std::vector<std::string>{"file Uploading (1/4): a.bin", "file Uploading (2/4): bad.bin",
                                      "file Uploading (2/4): c.bin"}));
  EXPECT_EQ(windows.matching("header"),
            (std::vector<std::string>{"header 2 File uploaded sucessfully.", "header-state 0"}));
  EXPECT_EQ(windows.lastPage(), "page 1 Close retry-hidden");
  EXPECT_FALSE(report->uploadCompleted());
  auto mails = mailRequests(mail);
  ASSERT_EQ(mails.size(), 1u);
  const std::string url = storage.server.baseUrl() + base();
  EXPECT_EQ(mailBodyOf(mails[0]),
            "Broken clip.\n\n" + url + "a.bin\n\n" + url +
                "c.bin\n\nMacOS : Debian GNU/Linux 12 (bookworm)\n\nUID : " + report->containerName());
  EXPECT_TRUE(logs.mentions("Failed : com.Microsoft.AzureStorage.ErrorDomain 3, HTTP status 400"));
  // Closing the report window removes the log.
  report->deleteErrorLog();
  EXPECT_FALSE(qvr::fs::fileExists(platform.errorLogPath()));
}

TEST_F(ReportUpload, NothingStoredMeansNoMailAndTheOtherHeader) {
  storage.fault = [](const LocalHttpServer::Request& r) { return has(r.target, "/a.bin?") ? 400 : 0; };
  run({{true, file("a.bin", 10)}, {true, dir.file("files/gone.mov")}});
  EXPECT_TRUE(storage.targets("PUT", "comp=blocklist").empty());
  EXPECT_EQ(windows.matching("header"), (std::vector<std::string>{"header-state 1"}));
  EXPECT_EQ(windows.lastPage(), "page 1 Close retry-hidden");
  EXPECT_TRUE(mailRequests(mail).empty());
}

TEST_F(ReportUpload, SameFileNamesFromTwoFoldersKeepBothCopies) {
  qvr::fs::createDirectories(dir.path() + "/one");
  qvr::fs::createDirectories(dir.path() + "/two");
  for (const char* name : {"one/clip.mov", "two/clip.mov", "two/email.txt"})
    testsupport::writeFile(dir.file(name), patternBytes(100, 1));
  run({{true, dir.file("one/clip.mov")}, {true, dir.file("two/clip.mov")}, {true, dir.file("two/email.txt")}});
  EXPECT_EQ(
      storage.targets("PUT", "comp=blocklist"),
      (std::vector<std::string>{base() + "clip.mov", base() + "clip%20%282%29.mov", base() + "email%20%282%29.txt"}));
  EXPECT_TRUE(report->uploadCompleted());
}

TEST_F(ReportUpload, SecondSubmitWhileUploadingStartsNothing) {
  storage.fault = [](const LocalHttpServer::Request& r) {
    if (r.method == "PUT" && has(r.target, "restype=container"))
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
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

TEST_F(ReportUpload, ConnectionLostMidwayEndsTheUploadRemovesTheContainerAndMailsNothing) {
  storage.fault = [this](const LocalHttpServer::Request& r) {
    if (!has(r.target, "comp=block&") || has(r.target, "/email.txt")) return 0;
    platform.connected = false;
    return 400;
  };
  run({{true, file("a.bin", 10)}, {true, file("b.bin", 10)}});
  EXPECT_EQ(storage.targets("PUT", "comp=block").size(), 1u) << "the second file is not tried";
  EXPECT_EQ(storage.targets("DELETE", "restype=container"),
            (std::vector<std::string>{"/devstoreaccount1/" + report->containerName()}));
  EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
  EXPECT_TRUE(mailRequests(mail).empty());
  EXPECT_FALSE(report->uploadCompleted());
  EXPECT_EQ(errorLog(), "") << "a lost connection is not the file's fault";
}

TEST_F(ReportUpload, UploadingPageComesFirstSoAnEarlyFailureStaysVisible) {
  storage.fault = [](const LocalHttpServer::Request& r) { return r.method == "PUT" ? 403 : 0; };
  run({{true, file("a.bin", 10)}});
  EXPECT_EQ(windows.events().at(0), "page 2 Cancel retry-hidden");
  EXPECT_EQ(windows.lastPage(), "page 5 OK retry-shown");
  EXPECT_TRUE(mailRequests(mail).empty());
}

}  // namespace
