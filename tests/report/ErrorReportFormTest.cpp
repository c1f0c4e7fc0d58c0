// The report form, the Drive-link report and the support mail, without any storage service.
#include <gtest/gtest.h>

#include "report/ErrorReportTestSupport.h"
#include "report/ErrorReportText.h"

using namespace reporttest;
using testsupport::LocalHttpServer;
using testsupport::TempDir;

namespace {

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
  EXPECT_EQ(qvr::randomStringWithLength(0), "");
  EXPECT_EQ(qvr::randomStringWithLength(-5), "");
  std::string r = qvr::randomStringWithLength(4000);
  ASSERT_EQ(r.size(), 4000u);
  EXPECT_TRUE(onlyOf(r, kAlphanumerics));
  // Every kind of character turns up in a long draw: the whole alphabet is used.
  EXPECT_NE(r.find_first_of("0123456789"), std::string::npos);
  EXPECT_NE(r.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
  EXPECT_NE(r.find('9'), std::string::npos);
  EXPECT_NE(r.find('Z'), std::string::npos);

  std::string id = qvr::newReportIdentifier();
  EXPECT_TRUE(isReportId(id)) << id;
  EXPECT_NE(id, qvr::newReportIdentifier());
  EXPECT_TRUE(isReportSubject(qvr::reportMailSubject()));
  EXPECT_FALSE(isReportSubject("Hollin Video Repair Tool Mac - Error Report x12345"));

  EXPECT_EQ(qvr::reportMailBody("d", {}, "os", "id"), "d\n\nMacOS : os\n\nUID : id");

  qvr::MailSettings s{"https://mail.example/", "k", "m"};
  EXPECT_EQ(s.sendUrl(), "https://mail.example/v3/mail/send");
  s.endpoint = "https://mail.example/v3/mail/send";
  EXPECT_EQ(s.sendUrl(), "https://mail.example/v3/mail/send");

  // Invalid UTF-8 from the form does not stop the mail.
  auto doc = nlohmann::json::parse(qvr::composeMailDocument("s@x.io", "subj", "u@x.io", "bad \xff byte"));
  EXPECT_EQ(doc.size(), 4u);
  EXPECT_EQ(doc["personalizations"][0]["to"][0]["email"], "s@x.io");
  EXPECT_EQ(doc["personalizations"][0]["subject"], "subj");
  EXPECT_EQ(doc["content"][0]["type"], "text/plain");
}

TEST(ReportPlatform, RoutesOsReleaseAndDesktopFolder) {
  TempDir dir;
  const std::string v4 = dir.file("route"), v6 = dir.file("ipv6_route");
  const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  const std::string lan = "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
  const std::string v6lo =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
      "ffffffff 00000001 00000001 00200200       lo\n";
  auto write = [](const std::string& path, const std::string& text) {
    testsupport::writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
  };
  write(v4, header + lan);
  write(v6, v6lo);
  EXPECT_FALSE(qvr::hasDefaultRoute(v4, v6)) << "a local network and loopback's reject route are no way out";
  write(v4, header + lan + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
  EXPECT_TRUE(qvr::hasDefaultRoute(v4, v6));
  write(v4, header + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n");
  EXPECT_FALSE(qvr::hasDefaultRoute(v4, v6)) << "a default route that is down";
  write(v6, v6lo +
                "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                "fe800000000000000000000000000001 00000400 00000001 00000000 00000003     wlan0\n");
  EXPECT_TRUE(qvr::hasDefaultRoute(dir.file("missing"), v6));

  write(dir.file("os1"), "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION=\"12\"\n");
  EXPECT_EQ(qvr::prettyNameFromOsRelease(dir.file("os1")), "Debian GNU/Linux 12 (bookworm)");
  write(dir.file("os2"), "NAME=Arch\nVERSION='rolling'\n");
  EXPECT_EQ(qvr::prettyNameFromOsRelease(dir.file("os2")), "Arch rolling");
  EXPECT_EQ(qvr::prettyNameFromOsRelease(dir.file("none")), "Linux");

  write(dir.file("dirs"), "# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(qvr::desktopDirectoryFrom(dir.file("dirs"), "/home/u"), "/home/u/Schreibtisch");
  write(dir.file("dirs"), "XDG_DESKTOP_DIR=\"relative\"\n");
  EXPECT_EQ(qvr::desktopDirectoryFrom(dir.file("dirs"), "/home/u"), "/home/u/Desktop");
  EXPECT_EQ(qvr::desktopDirectoryFrom(dir.file("nothing"), "/home/u"), "/home/u/Desktop");
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
       "message Please provide more information about the issue. "
       "[information-icon]"},
      {{"a@b@example.com", "x", true, ""}, one, "message Enter a valid Email Address. [Mail]"},
      {{"user@example.c", "x", true, ""}, one, "message Enter a valid Email Address. [Mail]"},
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
  report().submitErrorReport(form(), {{true, dir.file("a.mov")}});
  report().retryClicked({{false, dir.file("a.mov")}});
  EXPECT_EQ(windows.matching("message ").back(), "message Select a file to upload. [information-icon]");
  EXPECT_TRUE(mail.requests().empty());
}

TEST_F(ReportForm, DriveLinkReportMailsAtOnceWithoutUpload) {
  LogCapture logs;
  auto f = form(false);
  f.driveLink = "https://drive.example/file/d/XYZ/view";
  report().submitErrorReport(f, {{true, "/nonexistent/never-read.mov"}});
  EXPECT_EQ(windows.events(), (std::vector<std::string>{"page 4 Close retry-hidden", "run"}));
  EXPECT_TRUE(report().uploadCompleted());
  report().waitUntilIdle();

  auto requests = mail.requests();
  ASSERT_EQ(requests.size(), 1u) << "the mail only; nothing reached the storage port";
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/v3/mail/send");
  EXPECT_EQ(r.headers.at("authorization"), std::string("Bearer ") + kMailKey);
  EXPECT_EQ(r.headers.at("content-type"), "application/json");
  auto doc = nlohmann::json::parse(r.body);
  EXPECT_EQ(doc.size(), 4u);
  EXPECT_EQ(doc["personalizations"].size(), 1u);
  EXPECT_EQ(doc["personalizations"][0]["to"], nlohmann::json::parse(R"([{"email":"support@quenda.example"}])"));
  EXPECT_EQ(doc["personalizations"][0]["subject"], doc["subject"]);
  EXPECT_EQ(doc["from"]["email"], "user@example.com");
  EXPECT_TRUE(isReportSubject(doc["subject"].get<std::string>()));
  const std::string body = mailBodyOf(r);
  const std::string expected =
      "It stops.\n\nhttps://drive.example/file/d/XYZ/view\n\nMacOS : Debian GNU/Linux 12 (bookworm)\n\nUID : ";
  EXPECT_EQ(body.substr(0, expected.size()), expected);
  EXPECT_TRUE(isReportId(body.substr(std::min(body.size(), expected.size())))) << body;
  EXPECT_EQ(logs.count("Email sent successfully!"), 1u);
  EXPECT_FALSE(logs.mentions(kMailKey));
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
  EXPECT_EQ(logs.count("Email sent successfully!"), 0u);
  EXPECT_FALSE(logs.mentions(kMailKey));
  EXPECT_FALSE(logs.mentions("Bearer"));
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
    auto messages = w.matching("message ");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], std::string("message ") + qvr::report::kNotConfigured + " [information-icon]");
    EXPECT_EQ(messages[1], messages[0]);
    EXPECT_FALSE(r.uploadCompleted());
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

}  // namespace
