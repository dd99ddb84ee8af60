#include "tapi_harness.h"

#include "ovui.h"
#include "ovui_driver.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tapitest {

const Tapi& tapi() {
    static Tapi t = [] {
        Tapi x;
        std::string path = ovtest::binDir() + "/libovtapi.so";
        void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            ADD_FAILURE() << "dlopen " << path << ": " << dlerror();
            return x;
        }
        auto bind = [lib](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
            if (!fn) ADD_FAILURE() << "missing export " << name;
        };
        bind(x.initialize, "lineInitialize");
        bind(x.negotiate, "lineNegotiateAPIVersion");
        bind(x.getDevCaps, "lineGetDevCaps");
        bind(x.open, "lineOpen");
        bind(x.getId, "lineGetID");
        bind(x.getCallInfo, "lineGetCallInfo");
        bind(x.accept, "lineAccept");
        bind(x.answer, "lineAnswer");
        bind(x.drop, "lineDrop");
        bind(x.deallocate, "lineDeallocateCall");
        bind(x.close, "lineClose");
        bind(x.shutdown, "lineShutdown");
        return x;
    }();
    return t;
}

std::vector<Message>& messages() {
    static std::vector<Message> all;
    return all;
}

void recordMessage(DWORD device, DWORD message, DWORD instance, DWORD p1, DWORD p2, DWORD p3) {
    messages().push_back({device, message, instance, p1, p2, p3, ovIsUiThread() != FALSE});
}

bool pumpUntil(const std::function<bool()>& cond, int timeoutMs) {
    return ovuiPumpUntil(cond, timeoutMs);
}

namespace {

int waitForMatch(const std::function<bool(const Message&)>& match, size_t from, int timeoutMs) {
    int found = -1;
    pumpUntil(
        [&] {
            for (size_t i = from; i < messages().size(); ++i)
                if (match(messages()[i])) {
                    found = static_cast<int>(i);
                    return true;
                }
            return false;
        },
        timeoutMs);
    return found;
}

} // namespace

int waitForMessage(DWORD message, DWORD p1, size_t from, int timeoutMs) {
    return waitForMatch([&](const Message& m) { return m.message == message && m.p1 == p1; }, from,
                        timeoutMs);
}

int waitForCallState(HCALL call, DWORD state, size_t from, int timeoutMs) {
    return waitForMatch(
        [&](const Message& m) {
            return m.message == LINE_CALLSTATE && m.p1 == state && (call == 0 || m.device == call);
        },
        from, timeoutMs);
}

int waitForReply(LONG request, size_t from, int timeoutMs) {
    return waitForMessage(LINE_REPLY, static_cast<DWORD>(request), from, timeoutMs);
}

CallInfo callInfo(HCALL call, DWORD size) {
    std::vector<uint32_t> buf(size / 4 + 1, 0);
    auto* info = reinterpret_cast<LINECALLINFO*>(buf.data());
    info->dwTotalSize = size;
    CallInfo out;
    out.result = tapi().getCallInfo(call, info);
    if (out.result != 0) return out;
    out.line = info->hLine;
    out.rate = info->dwRate;
    out.flags = info->dwCallerIDFlags;
    const char* base = reinterpret_cast<const char*>(info);
    if (info->dwCallerIDSize) out.number = std::string(base + info->dwCallerIDOffset);
    if (info->dwCallerIDNameSize) out.name = std::string(base + info->dwCallerIDNameOffset);
    return out;
}

void TelephonyTest::SetUp() {
    ASSERT_NE(tapi().shutdown, nullptr);
    ovInitialize();
    ASSERT_TRUE(ovIsUiThread());
    messages().clear();
    lockDir = workDir.path() + "/lock";
    ASSERT_EQ(mkdir(lockDir.c_str(), 0755), 0);
    setenv("OVTAPI_CONF", (workDir.path() + "/ovtapi.conf").c_str(), 1);
    unsetenv("OVTAPI_LOCKDIR");
    descriptorsAtStart = ovtest::openDescriptorCount();
}

void TelephonyTest::TearDown() {
    if (app) {
        EXPECT_EQ(tapi().shutdown(app), 0);
    }
    app = 0;
    ovuiPumpUntilIdle(); // messages posted before the shutdown are dropped, not delivered late
    for (const Message& m : messages())
        EXPECT_TRUE(m.onUiThread) << "message " << m.message;
    sim.reset();
    EXPECT_EQ(ovtest::openDescriptorCount(), descriptorsAtStart) << "a descriptor was left open";
}

void TelephonyTest::setUpModem(const std::string& settings, ovsim::ModemSimOptions options,
                               const std::string& extraDevices) {
    options.linkPath = workDir.path() + "/modem0";
    if (options.ringIntervalMs == ovsim::ModemSimOptions{}.ringIntervalMs)
        options.ringIntervalMs = 60000; // tests ring once unless they ask for more
    sim = std::make_unique<ovsim::ModemSim>(options);
    ASSERT_TRUE(sim->start());
    std::string conf = "# test modems\n"
                       "lockdir = " +
                       lockDir +
                       "\n"
                       "guardtime = 150\n" +
                       settings + "\n" + sim->path() + " \"Test Modem\" AT&C1\n" + extraDevices;
    ovtest::writeFile("ovtapi.conf", conf);
}

HLINE TelephonyTest::openLine(DWORD device, DWORD instance) {
    if (!app) {
        EXPECT_EQ(tapi().initialize(&app, nullptr, recordMessage, nullptr, &deviceCount), 0);
    }
    DWORD version = 0;
    LINEEXTENSIONID ext{};
    EXPECT_EQ(tapi().negotiate(app, device, 0x00010004, 0x00010004, &version, &ext), 0);
    EXPECT_EQ(version, 0x00010004u);
    HLINE line = 0;
    LONG r = tapi().open(app, device, &line, version, 0, instance, LINECALLPRIVILEGE_OWNER,
                         LINEMEDIAMODE_DATAMODEM, nullptr);
    EXPECT_EQ(r, 0);
    return r == 0 ? line : 0;
}

bool TelephonyTest::waitForModemReady(size_t occurrence) {
    return sim->waitForCommand("AT+VCID=1", 10000, occurrence);
}

HCALL TelephonyTest::ringAndOffer(const std::string& number, const std::string& name) {
    size_t from = messages().size();
    sim->ring(number, name);
    int i = waitForCallState(0, LINECALLSTATE_OFFERING, from);
    return i < 0 ? 0 : messages()[static_cast<size_t>(i)].device;
}

bool TelephonyTest::acceptAndAnswer(HCALL call) {
    size_t from = messages().size();
    LONG accept = tapi().accept(call, nullptr, 0);
    EXPECT_GT(accept, 0);
    int reply = waitForReply(accept, from);
    if (reply < 0 || waitForCallState(call, LINECALLSTATE_ACCEPTED, from) < 0) return false;
    EXPECT_EQ(messages()[static_cast<size_t>(reply)].p2, 0u);
    LONG answer = tapi().answer(call, nullptr, 0);
    EXPECT_GT(answer, 0);
    reply = waitForReply(answer, from);
    if (reply < 0 || messages()[static_cast<size_t>(reply)].p2 != 0) return false;
    return waitForCallState(call, LINECALLSTATE_CONNECTED, from) >= 0;
}

int TelephonyTest::commHandle(HLINE line, HCALL call) {
    std::vector<uint32_t> buf(1048 / 4, 0);
    auto* vs = reinterpret_cast<VARSTRING*>(buf.data());
    vs->dwTotalSize = 1048;
    vs->dwStringFormat = STRINGFORMAT_BINARY;
    if (tapi().getId(line, 0, call, LINECALLSELECT_CALL, vs, "comm/datamodem") != 0) return -1;
    uint32_t handle = 0;
    std::memcpy(&handle, reinterpret_cast<char*>(vs) + vs->dwStringOffset, 4);
    return static_cast<int>(handle);
}

} // namespace tapitest
