// The UTF-8 character set of a connection: code page 437 out as UTF-8, UTF-8 in as code page 437.
#include "connection_fixture.h"

#include "server/connections/charset.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(Charset, EveryUpperHalfByteGoesToUtf8AndBack) {
    for (int b = 0x80; b <= 0xFF; ++b) {
        char seq[3];
        uint32_t n = cp437ToUtf8(uint8_t(b), seq);
        ASSERT_GE(n, 2u) << b;
        EXPECT_EQ(n - 1, utf8Continuations(uint8_t(seq[0]))) << b;
        EXPECT_EQ(b, cp437FromUtf8(reinterpret_cast<uint8_t*>(seq), n)) << b;
    }
    char seq[3];
    ASSERT_EQ(3u, cp437ToUtf8(0xC4, seq));
    EXPECT_EQ("\u2500", std::string(seq, 3)); // the horizontal box line
    char out[16];
    // A character the code page lacks, an overlong form, a cut sequence, a stray continuation.
    utf8ToCp437("gr\u00fcn\u20ac\xC0\xAFx\xC3y\x80", out, sizeof out);
    EXPECT_STREQ("gr\x81n???x?y?", out);
    utf8ToCp437("abcdef", out, 4);
    EXPECT_STREQ("abc", out);
}

TEST(Charset, Cp437IsByteForByteAndUtf8TranslatesBothWays) {
    TelnetPair p;
    ASSERT_TRUE(p.conn);
    ASSERT_EQ(TelnetOpening, p.peer.readBytes(TelnetOpening.size()));
    EXPECT_EQ(Connection::Charset::Cp437, p.conn->charset());
    ASSERT_TRUE(p.conn->writeString("\xB3\xC4\xC1 ok"));
    EXPECT_EQ("\xB3\xC4\xC1 ok", p.sentSoFar());

    p.conn->setCharset(Connection::Charset::Utf8);
    (void)p.conn->setEcho(true);
    // More than one translation chunk arrives whole and in order.
    std::string art = "\x1b[1m" + std::string(1500, '\xDB') + "\xB3\xC4\xC1 ok";
    ASSERT_TRUE(p.conn->writeString(art.c_str()));
    std::string want = "\x1b[1m";
    for (int i = 0; i < 1500; ++i)
        want += "\u2588";
    EXPECT_EQ(want + "\u2502\u2500\u2534 ok", p.sentSoFar());

    // Typed: u-umlaut, the euro sign (not in the code page), a lead byte cut short by the
    // next character, a 4-byte character.
    ASSERT_TRUE(p.peer.send("\u00fc\u20ac\xC3"
                            "a\U0001F600\r"));
    char line[LineBufferSize];
    ASSERT_TRUE(p.conn->readLine(line));
    EXPECT_STREQ("\x81??a?", line);
    EXPECT_EQ("\u00fc??a?\r\n", p.sentSoFar()); // the echo in the caller's own terms
}
