#include <gtest/gtest.h>

#include "foundation/Configuration.h"
#include "foundation/PropertyList.h"
#include "foundation/UrlLoader.h"
#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

using namespace qvr;
using testsupport::LocalHttpServer;

namespace {
std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

TEST(Configuration, LaterSourcesOverrideEarlierOnes) {
  testsupport::TempDir dir;
  testsupport::writeFile(
      dir.file("system.json"),
      bytes(R"({"cloudPlistUrl": "http://a/v.plist", "Help link": "http://help", "Mail API key": "k1"})"));
  testsupport::writeFile(dir.file("user.json"), bytes(R"({"Help link": "http://user-help", "Mail API key": null})"));
  testsupport::writeFile(dir.file("broken.json"), bytes("{not json"));
  auto config = Configuration::load(
      {dir.file("system.json"), dir.file("missing.json"), dir.file("broken.json"), dir.file("user.json")},
      {{"QUENDA_CLOUD_PLIST_URL", "http://env/v.plist"}, {"QUENDA_SUPPORT_MAILBOX", "s@x.io"}});
  EXPECT_EQ(config.value(Configuration::kCloudPlistUrl), "http://env/v.plist");
  EXPECT_EQ(config.value(Configuration::kHelpLink), "http://user-help");
  EXPECT_FALSE(config.value(Configuration::kMailApiKey).has_value());  // null in a later file removes it
  EXPECT_EQ(config.value(Configuration::kSupportMailbox), "s@x.io");
  EXPECT_FALSE(config.valueOr(Configuration::kVersion, "").empty());                // the build's version
  EXPECT_FALSE(config.value(Configuration::kStorageConnectionString).has_value());  // no secret shipped
  ASSERT_EQ(config.problems().size(), 1u);
  EXPECT_EQ(Configuration::environmentName("Mail API key"), "QUENDA_MAIL_API_KEY");
}

TEST(PropertyList, ReadsTopLevelDictionaryAndRefusesOthers) {
  std::string plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>CFBundleShortVersionString</key><string>2.1.0</string>
  <key>Nested</key><dict><key>x</key><string>y</string></dict>
  <key>Build</key><integer>42</integer>
  <key>Flag</key><true/>
</dict></plist>)";
  auto dict = parsePropertyList(bytes(plist));
  ASSERT_TRUE(dict.has_value());
  EXPECT_EQ(dict->at("CFBundleShortVersionString"), "2.1.0");
  EXPECT_EQ(dict->at("Build"), "42");
  EXPECT_EQ(dict->at("Flag"), "true");
  EXPECT_EQ(dict->count("x"), 0u);
  EXPECT_FALSE(parsePropertyList(bytes("<plist><array/></plist>")).has_value());
  EXPECT_FALSE(parsePropertyList(bytes("garbage <<<")).has_value());
  EXPECT_FALSE(parsePropertyList(std::vector<uint8_t>{}).has_value());
}

TEST(UrlLoader, ExchangesWithALocalServer) {
  LocalHttpServer server([](const LocalHttpServer::Request& r) {
    if (r.target == "/missing") return LocalHttpServer::Response{404, "no", {}};
    return LocalHttpServer::Response{200, r.method + ":" + r.body, {{"Content-Type", "text/plain"}}};
  });
  HttpRequest post;
  post.method = "POST";
  post.url = server.baseUrl() + "/v3/mail/send";
  post.headers["Content-Type"] = "application/json";
  post.body = bytes("{\"a\":1}");
  HttpResponse answer = performHttpRequest(post);
  EXPECT_TRUE(answer.ok());
  EXPECT_EQ(std::string(answer.body.begin(), answer.body.end()), "POST:{\"a\":1}");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].headers.at("content-type"), "application/json");

  HttpRequest get;
  get.url = server.baseUrl() + "/missing";
  HttpResponse missing = performHttpRequest(get);
  EXPECT_EQ(missing.status, 404);
  EXPECT_FALSE(missing.ok());

  HttpRequest unreachable;
  unreachable.url = "http://127.0.0.1:1/x";
  unreachable.timeout = std::chrono::seconds(5);
  HttpResponse refused = performHttpRequest(unreachable);
  EXPECT_FALSE(refused.error.empty());
  EXPECT_EQ(refused.status, 0);
}
