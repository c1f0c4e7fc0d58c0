#include <gtest/gtest.h>

#include "app/gui/Formatting.h"

namespace {

TEST(ElapsedTimeText, HoursMinutesSecondsWithWholeDaysDropped) {
  EXPECT_EQ(qvr::timeFormStringForInterval(3725), "01:02:05");
  EXPECT_EQ(qvr::timeFormStringForInterval(86400 + 61), "00:01:01");
  EXPECT_EQ(qvr::timeFormStringForInterval(23 * 3600 + 59 * 60 + 59.9), "23:59:59");
  EXPECT_EQ(qvr::timeFormStringForInterval(0.4), "00:00:00");
}

TEST(ElapsedTimeText, WholeSecondsAreNotLostToRounding) {
  // t/60 split into minutes and a fraction gives 0.99999... seconds for 61 s.
  EXPECT_EQ(qvr::timeFormStringForInterval(61), "00:01:01");
  EXPECT_EQ(qvr::timeFormStringForInterval(7), "00:00:07");
  for (int s = 0; s < 7200; ++s) {
    const std::string text = qvr::timeFormStringForInterval(s);
    ASSERT_EQ(std::stoi(text.substr(6, 2)), s % 60) << s;
    ASSERT_EQ(std::stoi(text.substr(3, 2)), (s / 60) % 60) << s;
  }
}

TEST(ElapsedTimeText, ClockGoingBackwardsOrNonsenseReadsZero) {
  EXPECT_EQ(qvr::timeFormStringForInterval(-5), "00:00:00");
  EXPECT_EQ(qvr::timeFormStringForInterval(std::numeric_limits<double>::quiet_NaN()), "00:00:00");
  EXPECT_EQ(qvr::timeFormStringForInterval(std::numeric_limits<double>::infinity()).size(), 8u);
}

TEST(SizeText, DecimalUnitsInSinglePrecision) {
  EXPECT_EQ(qvr::formattedStringForSize(0), "0.00 KB");
  EXPECT_EQ(qvr::formattedStringForSize(1), "0.00 KB");
  EXPECT_EQ(qvr::formattedStringForSize(1500), "1.50 KB");
  EXPECT_EQ(qvr::formattedStringForSize(999999), "1000.00 KB");
  EXPECT_EQ(qvr::formattedStringForSize(1000000), "1.00 MB");
  EXPECT_EQ(qvr::formattedStringForSize(461410), "461.41 KB");
  EXPECT_EQ(qvr::formattedStringForSize(999999999), "1000.00 MB");
  EXPECT_EQ(qvr::formattedStringForSize(1000000000), "1.00 GB");
  EXPECT_EQ(qvr::formattedStringForSize(2500000000ULL), "2.50 GB");
}

TEST(RepairedFilePath, NamedByEngineKindInTheWorkingFolder) {
  EXPECT_EQ(qvr::repairedFilePathFor("/w", "avi"), "/w/.testfile.avi");
  EXPECT_EQ(qvr::repairedFilePathFor("/w/", "AVI"), "/w/.testfile.avi");
  EXPECT_EQ(qvr::repairedFilePathFor("/w", "MoV"), "/w/.testfile.mov");
  // Only the two engine kinds have a file name; the MOV family passes "mov".
  EXPECT_EQ(qvr::repairedFilePathFor("/w", "mp4"), "/w");
  EXPECT_EQ(qvr::repairedFilePathFor("/w", ""), "/w");
}

TEST(MovieExtensions, CaseIgnoredAndOnlyTheFourOffered) {
  for (const char* ext : {"mov", "MP4", "m4V", "avi", "AVI"}) EXPECT_TRUE(qvr::isMovieExtension(ext)) << ext;
  for (const char* ext : {"mts", "mkv", "", "mp"}) EXPECT_FALSE(qvr::isMovieExtension(ext)) << ext;
  EXPECT_TRUE(qvr::isMovFamilyExtension("M4V"));
  EXPECT_FALSE(qvr::isMovFamilyExtension("avi"));
}

}  // namespace
