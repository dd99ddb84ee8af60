#include "server/base/file_helpers.h"
#include "server/base/time_text.h"
#include "server/connections/tcp_connection.h"
#include "server/log/event_log.h"
#include "server/preferences/preferences.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace {

class EventLogTest : public ovtest::WorkDirTest {
protected:
    void SetUp() override {
        loadPreferences(); // defaults: paranoid logging on
        int s = -1, c = -1;
        ASSERT_TRUE(ovtest::makeTcpPair(s, c));
        peer = ovtest::LoopbackClient(c);
        conn = std::make_unique<TcpConnection>(s);
        conn->describe(who);
    }
    std::string log() { return ovtest::readFile(EventLogFileName); }

    std::unique_ptr<TcpConnection> conn;
    ovtest::LoopbackClient peer;
    char who[LineBufferSize];
};

constexpr size_t HeaderLength = 33; // "===[03 Apr 1999 at 09:05:59]===\r\n"

// Whether an entry header of the right form starts at `at`: '9' stands for any digit, 'M' for
// the month.
bool isHeader(const std::string& s, size_t at) {
    const std::string form = "===[99 M 9999 at 99:99:99]===\r\n";
    size_t i = at;
    for (char f : form) {
        if (f == 'M') {
            bool month = false;
            for (const char* m : monthAbbreviations)
                month = month || s.compare(i, 3, m) == 0;
            if (!month) return false;
            i += 3;
        } else if (f == '9') {
            if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i++]))) return false;
        } else if (i >= s.size() || s[i++] != f) {
            return false;
        }
    }
    return i - at == HeaderLength;
}

// Splits the file at its headers and checks each header's form; returns the bodies.
std::vector<std::string> entries(const std::string& file) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < file.size()) {
        if (!isHeader(file, at)) break;
        size_t next = file.find("===[", at + HeaderLength);
        if (next == std::string::npos) next = file.size();
        out.push_back(file.substr(at + HeaderLength, next - at - HeaderLength));
        at = next;
    }
    return out;
}

} // namespace

TEST_F(EventLogTest, EntriesFollowEachOtherOverTheSingleEndOfFileByte) {
    logConnect(*conn);
    std::string first = log();
    ASSERT_GT(first.size(), HeaderLength);
    EXPECT_TRUE(isHeader(first, 0)); // a new file starts at offset 0
    EXPECT_EQ("CONNECT\r\n   " + std::string(who) + "\r\n\r\n\x1A", first.substr(HeaderLength));

    logLogin(*conn, "alice");
    conn->disconnect(); // dropped: the entry still names the address
    logDisconnect(*conn, DisconnectReason::LoggedOff);
    std::string all = log();
    EXPECT_EQ(0, all.compare(0, first.size() - 1, first, 0, first.size() - 1));
    EXPECT_EQ('=', all[first.size() - 1]); // the second entry starts where 0x1A stood
    EXPECT_EQ(1, std::count(all.begin(), all.end(), '\x1A'));
    EXPECT_EQ('\x1A', all.back());
    auto bodies = entries(all);
    ASSERT_EQ(3u, bodies.size());
    EXPECT_EQ("SUCCESSFUL LOGIN\r\n   " + std::string(who) + "\r\n   Login name:  alice\r\n\r\n",
              bodies[1]);
    EXPECT_EQ("DISCONNECT\r\n   " + std::string(who) + "\r\n   Reason:  Logged off\r\n\r\n\x1A",
              bodies[2]);
}

TEST_F(EventLogTest, EveryEventTextAndReason) {
    logLoginFailure(*conn, "mallory");
    logTooManyUsers();
    (void)setMaxUsers(12);
    logTooManyUsers();
    logDisconnect(*conn, DisconnectReason::TimedOut);
    logDisconnect(*conn, DisconnectReason::ClosedWithoutLogoff);
    auto bodies = entries(log());
    ASSERT_EQ(5u, bodies.size());
    EXPECT_EQ("LOGIN FAILURE\r\n   " + std::string(who) +
                  "\r\n   Attempted login:  mallory\r\n\r\n",
              bodies[0]);
    EXPECT_EQ("TOO MANY USERS\r\n   Current limit:  5\r\n\r\n", bodies[1]);
    EXPECT_EQ("TOO MANY USERS\r\n   Current limit:  12\r\n\r\n", bodies[2]);
    EXPECT_NE(std::string::npos, bodies[3].find("   Reason:  Timed out\r\n"));
    EXPECT_NE(std::string::npos,
              bodies[4].find("   Reason:  Connection closed without logoff\r\n"));
    EXPECT_STREQ("Timed out", disconnectReasonText(DisconnectReason::TimedOut));
    EXPECT_STREQ("Logged off", disconnectReasonText(DisconnectReason::LoggedOff));
    EXPECT_STREQ("Connection closed without logoff",
                 disconnectReasonText(DisconnectReason::ClosedWithoutLogoff));
}

TEST_F(EventLogTest, TypedNamesAreSanitizedAndAttemptsCutTo31Characters) {
    logLoginFailure(*conn, "bad\x01name\xe9\x7f\t!");
    logLoginFailure(*conn, std::string(40, 'n').c_str());
    logLogin(*conn, "esc\x1b[2J");
    auto bodies = entries(log());
    ASSERT_EQ(3u, bodies.size());
    EXPECT_NE(std::string::npos, bodies[0].find("Attempted login:  bad*name***!\r\n"));
    EXPECT_NE(std::string::npos,
              bodies[1].find("Attempted login:  " + std::string(31, 'n') + "\r\n"));
    EXPECT_NE(std::string::npos, bodies[2].find("Login name:  esc*[2J\r\n"));

    char text[] = "ok \r\n\x80\xff\x1f~\x7f";
    sanitizeLogText(text);
    EXPECT_STREQ("ok \r\n***~*", text);
}

TEST_F(EventLogTest, AFileEditedByTheSysopIsAppendedTo) {
    ovtest::writeFile(EventLogFileName, "notes without end marker");
    logTooManyUsers();
    std::string all = log();
    EXPECT_EQ(0, all.compare(0, 24, "notes without end marker"));
    EXPECT_EQ(1u, entries(all.substr(24)).size());
    EXPECT_EQ('\x1A', all.back());

    ovtest::writeFile(EventLogFileName, "");
    logTooManyUsers();
    EXPECT_EQ(1u, entries(log()).size());
}

TEST_F(EventLogTest, NothingIsWrittenWhileParanoidLoggingIsOff) {
    (void)setParanoidLogging(false);
    logConnect(*conn);
    logLogin(*conn, "bob");
    logTooManyUsers();
    logDisconnect(*conn, DisconnectReason::LoggedOff);
    EXPECT_FALSE(ovtest::fileExists(EventLogFileName));
    (void)setParanoidLogging(true);
    logConnect(*conn);
    EXPECT_EQ(1u, entries(log()).size());
}

TEST_F(EventLogTest, AnEntryIsDroppedWhileAnotherHolderHasTheFile) {
    logConnect(*conn);
    std::string before = log();
    FileHandle holder = openForUpdate(EventLogFileName);
    ASSERT_NE(InvalidFile, holder);
    logTooManyUsers();
    closeFile(holder);
    EXPECT_EQ(before, log());
}

TEST_F(EventLogTest, StampIsTheLocalTimeOfWriting) {
    // Retried across a minute boundary, so the comparison never races the clock.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ovtest::writeFile(EventLogFileName, "");
        CalendarTime before = splitFileTime(nowAsFileTime());
        logTooManyUsers();
        CalendarTime after = splitFileTime(nowAsFileTime());
        if (before.minute != after.minute) continue;
        char expect[40];
        std::snprintf(expect, sizeof expect, "===[%02u %s %04u at %02u:%02u:", before.day,
                      monthAbbreviations[before.month - 1], before.year, before.hour,
                      before.minute);
        EXPECT_EQ(0, log().compare(0, std::strlen(expect), expect));
        return;
    }
    FAIL() << "the clock kept crossing minutes";
}
