// A real Telnet client (inetutils telnet driven by expect) against a TelnetConnection.
#include "server/connections/tcp_connection.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

bool haveTool(const char* name) {
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

} // namespace

TEST(TelnetInterop, RealClientRunsCharacterAtATimeWithServerEcho) {
    ASSERT_TRUE(haveTool("telnet") && haveTool("expect"))
        << "install expect and inetutils-telnet (scripts/setup-deps.sh)";
    uint16_t port = 0;
    int listener = ovtest::listenOnFreePort(port);
    ASSERT_GE(listener, 0);
    timeval bound{60, 0}; // accept gives up if the client never comes
    ASSERT_EQ(0, setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound));

    std::string key, line;
    bool keyOk = false, lineOk = false;
    std::thread server([&] {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        TelnetConnection conn(fd);
        (void)conn.setTimeouts(30000, 30000);
        // The negotiation goes out before this text, so the client has switched modes by the
        // time it prints it.
        if (!conn.writeString("READY>")) return;
        char c = 0;
        (void)conn.setEcho(false);
        keyOk = conn.readKey(&c);
        key = std::string(1, c);
        if (!conn.writeString(("[got:" + key + "]").c_str())) return;
        (void)conn.setEcho(true);
        char buf[LineBufferSize];
        lineOk = conn.readLine(buf);
        line = buf;
        (void)conn.writeString(("[line:" + line + "]").c_str());
    });

    std::string script = ovtest::sourceDir() + "/tests/server/connections/telnet_interop.exp";
    std::string cmd = "expect -f '" + script + "' " + std::to_string(port);
    int status = std::system(cmd.c_str());
    server.join();
    close(listener);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "2 time-out, 3 early end, 4 local echo";
    EXPECT_TRUE(keyOk);
    EXPECT_EQ("k", key);
    EXPECT_TRUE(lineOk);
    EXPECT_EQ("hello", line);
}
