// ovmicro: micro-benchmarks of the data layers, run in a fresh directory under the current one
// (so on the disk the server would use, with its write-through costs): findUser (the last
// account, an unknown name, the first lookup and the first scan after an outside change) and
// updateUser of the last account among 1 000, 10 000 and 100 000; a save of a full 16 384-area
// tree; event log appends.
// The caller's character set: an ANSI area screen written and typed keys read, in code page 437
// (as sent) and in UTF-8 (translated), over a transport that costs nothing.
// Repetitions report mean, median, stddev and p99 of the repetition times.
#include "bench/bench_data.h"
#include "server/areas/area_tree.h"
#include "server/connections/connection.h"
#include "server/log/event_log.h"
#include "server/preferences/preferences.h"
#include "server/users/user_db.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string accountName(uint32_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "caller%u", i);
    return name;
}

bool noAnsi(uint32_t) {
    return false;
}

// The 99th percentile of the repetitions, beside the built-in mean, median and stddev.
double p99(const std::vector<double>& v) {
    std::vector<double> s(v);
    std::sort(s.begin(), s.end());
    return s.empty() ? 0 : s[std::min(s.size() - 1, size_t(0.99 * double(s.size() - 1) + 0.5))];
}

uint32_t accountsOnFile = 0;

void ensureAccounts(benchmark::State& state, uint32_t count) {
    if (accountsOnFile == count) return;
    if (!writeUserFile(count, accountName, noAnsi, "secret")) {
        state.SkipWithError("cannot write bbsusers.dat");
        return;
    }
    accountsOnFile = count;
}

void BM_FindUserLast(benchmark::State& state) {
    auto count = static_cast<uint32_t>(state.range(0));
    ensureAccounts(state, count);
    const std::string last = accountName(count - 1);
    UserRecord rec;
    for (auto _ : state) {
        if (!findUser(rec, last.c_str())) {
            state.SkipWithError("last account not found");
            break;
        }
        benchmark::DoNotOptimize(rec);
    }
}
BENCHMARK(BM_FindUserLast)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("p99", p99);

// A name not on file, as at a mistyped login: only a scan can say so.
void BM_FindUserUnknown(benchmark::State& state) {
    auto count = static_cast<uint32_t>(state.range(0));
    ensureAccounts(state, count);
    UserRecord rec;
    for (auto _ : state) {
        if (findUser(rec, "nosuchcaller")) {
            state.SkipWithError("unknown name found");
            break;
        }
    }
}
BENCHMARK(BM_FindUserUnknown)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("p99", p99);

// The first lookup after the file was changed by another program: the record where the name was
// last seen is read and its name checked. Each iteration gives the file a new modification time,
// as a write would.
void BM_FindUserAfterOutsideChange(benchmark::State& state) {
    auto count = static_cast<uint32_t>(state.range(0));
    ensureAccounts(state, count);
    const std::string last = accountName(count - 1);
    UserRecord rec;
    timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    for (auto _ : state) {
        ++times[1].tv_nsec;
        if (::utimensat(AT_FDCWD, "bbsusers.dat", times, 0) != 0 || !findUser(rec, last.c_str())) {
            state.SkipWithError("cannot touch or find");
            break;
        }
        benchmark::DoNotOptimize(rec);
    }
}
BENCHMARK(BM_FindUserAfterOutsideChange)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("p99", p99);

// The first scan after such a change, for a name not on file: it learns the positions again.
void BM_FindUnknownAfterOutsideChange(benchmark::State& state) {
    auto count = static_cast<uint32_t>(state.range(0));
    ensureAccounts(state, count);
    UserRecord rec;
    timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    for (auto _ : state) {
        ++times[1].tv_nsec;
        if (::utimensat(AT_FDCWD, "bbsusers.dat", times, 0) != 0 || findUser(rec, "nosuchcaller")) {
            state.SkipWithError("cannot touch, or the unknown name was found");
            break;
        }
    }
}
BENCHMARK(BM_FindUnknownAfterOutsideChange)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("p99", p99);

void BM_UpdateUserLast(benchmark::State& state) {
    auto count = static_cast<uint32_t>(state.range(0));
    ensureAccounts(state, count);
    UserRecord rec;
    if (!findUser(rec, accountName(count - 1).c_str())) {
        state.SkipWithError("last account not found");
        return;
    }
    for (auto _ : state) {
        ++rec.loginCount;
        if (!updateUser(rec)) {
            state.SkipWithError("updateUser failed");
            break;
        }
    }
}
BENCHMARK(BM_UpdateUserLast)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("p99", p99);

void BM_SaveAreaTree(benchmark::State& state) {
    if (!writeFlatAreas(MaxAreas) || !loadAreaTree()) {
        state.SkipWithError("cannot prepare the area tree");
        return;
    }
    AreaRecord last;
    if (!getArea(MaxAreas - 1, last)) {
        state.SkipWithError("tree not full");
        return;
    }
    for (auto _ : state) {
        if (!saveAreaTree()) {
            state.SkipWithError("saveAreaTree failed");
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * MaxAreas * int64_t(AreaRecordSize));
    freeAreaTree();
}
BENCHMARK(BM_SaveAreaTree)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->ComputeStatistics("p99", p99);

void BM_LogAppend(benchmark::State& state) {
    (void)deleteFile(EventLogFileName);
    char text[512];
    for (auto _ : state) {
        std::snprintf(text, sizeof text,
                      "CONNECT\r\n   TCP from 127.0.0.1:40000 (remote) to 127.0.0.1:2323 "
                      "(local)\r\n");
        logEvent(text);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_LogAppend)->Unit(benchmark::kMicrosecond)->ComputeStatistics("p99", p99);

// A connection whose transport swallows what is written and hands out the same typed text again.
class NullConnection : public Connection {
public:
    NullConnection() : Connection(-1, true) {
        std::string typed;
        while (typed.size() + 24 <= sizeof input_)
            typed += "hello world gr\xC3\xBC\xC3\x9F \xE2\x94\x82\r\n";
        std::memcpy(input_, typed.data(), typed.size());
        inputSize_ = uint32_t(typed.size());
    }
    bool setTimeouts(uint32_t, uint32_t) override { return true; }
    void describe(char* out) override { out[0] = '\0'; }
    bool isModem() override { return false; }
    uint64_t sent = 0;

protected:
    void closeTransport() override {}
    bool lastErrorWasTimeout() override { return false; }
    bool writeRaw(const void*, uint32_t len) override {
        sent += len;
        return true;
    }
    bool readRaw(void* buf, uint32_t* count) override {
        std::memcpy(buf, input_, inputSize_);
        *count = inputSize_;
        return true;
    }

private:
    char input_[4096];
    uint32_t inputSize_ = 0;
};

// An ANSI area screen as navigation sends it: a colour sequence and a run of text per piece.
void BM_AnsiScreenWrite(benchmark::State& state) {
    NullConnection c;
    c.setCharset(state.range(0) ? Connection::Charset::Utf8 : Connection::Charset::Cp437);
    std::string row(44, 'd');
    for (auto _ : state) {
        c.holdOutput();
        for (int r = 0; r < 20; ++r) {
            (void)c.writeString("\x1b[36m\x1b[1m");
            (void)c.write(row.data(), uint32_t(row.size()));
            (void)c.writeString("\x1b[37m\xB3 \x1b[32m1\x1b[37m) \x1b[0mA sub-area title here");
        }
        (void)c.writeString("\x1b[1m");
        for (int k = 0; k < 80; ++k)
            (void)c.writeChar(k == 44 ? '\xC1' : '\xC4');
        (void)c.releaseOutput();
    }
    state.SetBytesProcessed(int64_t(c.sent));
}
BENCHMARK(BM_AnsiScreenWrite)->ArgName("utf8")->Arg(0)->Arg(1)->ComputeStatistics("p99", p99);

void BM_TypedKeys(benchmark::State& state) {
    NullConnection c;
    c.setCharset(state.range(0) ? Connection::Charset::Utf8 : Connection::Charset::Cp437);
    char key;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i)
            (void)c.readKey(&key);
        benchmark::DoNotOptimize(key);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1000);
}
BENCHMARK(BM_TypedKeys)->ArgName("utf8")->Arg(0)->Arg(1)->ComputeStatistics("p99", p99);

} // namespace

int main(int argc, char** argv) {
    // The files go in a fresh directory, removed again at the end.
    char dir[] = "ovmicro.XXXXXX";
    if (!::mkdtemp(dir) || ::chdir(dir) != 0) {
        std::perror("ovmicro");
        return 1;
    }
    (void)loadPreferences(); // the defaults: paranoid logging on
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (::chdir("..") == 0) {
        std::string cmd = std::string("rm -rf ") + dir;
        (void)std::system(cmd.c_str());
    }
    return 0;
}
