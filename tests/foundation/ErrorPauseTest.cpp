#include <gtest/gtest.h>

#include <thread>

#include "foundation/Error.h"
#include "foundation/Pause.h"

using namespace qvr;

TEST(Error, UserInfoHoldsStringsNumbersAndMaps) {
  Error e("com.hollin.videorepair", 101, {{"Error reason", "No Sample Found"}, {"HTTP Status Code", int64_t(403)}});
  EXPECT_EQ(e.stringFor("Error reason"), "No Sample Found");
  EXPECT_EQ(e.stringFor("HTTP Status Code"), "");
  EXPECT_EQ(e.userInfo["HTTP Status Code"].integer(), 403);
  e.userInfo["nested"] = UserInfo{{"Code", "AuthenticationFailed"}};
  ASSERT_NE(e.userInfo["nested"].map(), nullptr);
  EXPECT_EQ(e.userInfo["nested"].map()->at("Code").toString(), "AuthenticationFailed");
  EXPECT_NE(e.toString().find("101"), std::string::npos);
}

TEST(Pause, WaitsWhilePausedAndStopsEarly) {
  std::atomic<bool> pause{false}, stop{false};
  EXPECT_TRUE(pausePoint(pause, stop));
  pause = true;
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pause = false;
  });
  EXPECT_TRUE(pausePoint(pause, stop, std::chrono::milliseconds(5)));
  releaser.join();

  pause = true;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    stop = true;
  });
  EXPECT_FALSE(pausePoint(pause, stop, std::chrono::milliseconds(5)));
  stopper.join();
}
