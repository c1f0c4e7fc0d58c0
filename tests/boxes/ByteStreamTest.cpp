#include <gtest/gtest.h>

#include "boxes/ByteStream.h"

TEST(ByteStream, ReadsPastTheEndYieldZeroAndClearOk) {
  const uint8_t bytes[3] = {1, 2, 3};
  ByteStream r(bytes, 3);
  EXPECT_EQ(r.readUI32(), 0u);
  EXPECT_FALSE(r.ok());

  ByteStream r2(bytes, 3);
  uint8_t dst[5];
  r2.readBytes(dst, 5);
  EXPECT_EQ(dst[2], 3);
  EXPECT_EQ(dst[3], 0);
  EXPECT_FALSE(r2.ok());

  ByteStream r3(bytes, 3);
  r3.skip(1ull << 40);
  EXPECT_FALSE(r3.ok());
  EXPECT_EQ(r3.readBytes(2).size(), 0u);
}
