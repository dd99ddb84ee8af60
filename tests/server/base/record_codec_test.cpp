#include "server/base/record_codec.h"

#include <gtest/gtest.h>

TEST(RecordCodec, WritesLittleEndianFieldsAndPaddedTexts) {
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    RecordWriter w(buf, 14);
    w.u16(0x1234);
    w.u32(0xA1B2C3D4);
    w.text("abcdefgh", 6); // cut to 5 characters and a NUL
    w.u32(1);              // does not fit: flags the writer
    EXPECT_FALSE(w.ok());
    const uint8_t expect[] = {0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 'a', 'b', 'c', 'd', 'e', 0};
    EXPECT_EQ(0, std::memcmp(buf, expect, sizeof expect));

    RecordReader r(buf, 12);
    EXPECT_EQ(0x1234, r.u16());
    EXPECT_EQ(0xA1B2C3D4u, r.u32());
    char text[6];
    r.text(text, 6);
    EXPECT_STREQ("abcde", text);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(0u, r.u8());
    EXPECT_FALSE(r.ok());
}

TEST(RecordCodec, TextWithoutTerminatorIsCutAtFieldEnd) {
    const uint8_t field[4] = {'w', 'x', 'y', 'z'};
    char out[4];
    loadText(field, 4, out);
    EXPECT_STREQ("wxy", out);
}
