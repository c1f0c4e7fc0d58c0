#include <gtest/gtest.h>

#include "boxes/ByteStream.h"

TEST(ByteStream, WritesAndReadsSymmetrically) {
  ByteStream w;
  w.writeUI32(0);
  w.writeFourCC("mdhd");
  w.writeUI08(1);
  w.writeUI24(0x010203);
  w.writeUI64(0x1122334455667788ull);
  w.writeUI16(0xABCD);
  w.patchUI32(0, static_cast<uint32_t>(w.data().size()));

  ByteStream r(w.data().data(), w.data().size());
  EXPECT_EQ(r.readUI32(), w.data().size());
  EXPECT_EQ(r.readFourCC(), "mdhd");
  EXPECT_EQ(r.readUI08(), 1);
  EXPECT_EQ(r.readUI24(), 0x010203u);
  EXPECT_EQ(r.readUI64(), 0x1122334455667788ull);
  EXPECT_EQ(r.readUI16(), 0xABCD);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
}

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
