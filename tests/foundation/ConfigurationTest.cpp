#include <gtest/gtest.h>

#include "foundation/Configuration.h"
#include "support/TestSupport.h"

using namespace qvr;

TEST(Configuration, LaterSourcesOverrideEarlierOnes) {
  testsupport::TempDir dir;
  auto write = [&](const std::string& name, const std::string& text) {
    testsupport::writeFile(dir.file(name), {text.begin(), text.end()});
    return dir.file(name);
  };
  auto config = Configuration::load(
      {write("system.json",
             R"({"cloudPlistUrl": "http://a/v.plist", "Help link": "http://help", "Mail API key": "k"})"),
       dir.file("missing.json"), write("broken.json", "{not json"),
       write("user.json", R"({"Help link": "http://user-help", "Mail API key": null})")},
      {{"QUENDA_CLOUD_PLIST_URL", "http://env/v.plist"}, {"QUENDA_SUPPORT_MAILBOX", "s@x.io"}});
  EXPECT_EQ(config.value(Configuration::kCloudPlistUrl), "http://env/v.plist");
  EXPECT_EQ(config.value(Configuration::kHelpLink), "http://user-help");
  EXPECT_FALSE(config.value(Configuration::kMailApiKey).has_value());  // null in a later file removes it
  EXPECT_EQ(config.value(Configuration::kSupportMailbox), "s@x.io");
  EXPECT_FALSE(config.value(Configuration::kStorageConnectionString).has_value());  // no secret shipped
  EXPECT_EQ(config.problems().size(), 1u);  // the broken file, not the missing one
}
