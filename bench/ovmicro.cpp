// ovmicro: micro-benchmarks of the data layers, run in a fresh directory under the current one
// (so on the disk the server would use, with its write-through costs): findUser (the last
// account, an unknown name, the first lookup after an outside change) and updateUser of the last
// account among 1 000, 10 000 and 100 000; a save of a full 16 384-area tree; event log appends.
// Repetitions report mean, median, stddev and p99 of the repetition times.
#include "bench/bench_data.h"
#include "server/areas/area_tree.h"
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

// The first lookup after the file was changed by another program: the positions are learnt
// again from a scan. Each iteration gives the file a new modification time, as a write would.
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
