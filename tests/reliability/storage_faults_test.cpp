// Every write path of every data file, made to fail at each write, sync and rename (no space,
// I/O error, a disk that fills up in the middle of a write) and killed before each of them, and
// at each read (I/O error, a file that ends early): afterwards the previous content is intact or
// the new one is complete, every file loads the way the server loads it at start, and the same
// operation succeeds again.
#include "child_process.h"
#include "support/test_support.h"

#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

struct Fault {
    const char* calls; // which calls the shim counts: "writes" (and syncs, renames) or "reads"
    const char* mode;
    const char* err;
};
constexpr Fault Faults[] = {{"writes", "fail", "ENOSPC"}, {"writes", "fail", "EIO"},
                            {"writes", "full", "ENOSPC"}, {"writes", "kill", ""},
                            {"reads", "fail", "EIO"},     {"reads", "short", ""}};

struct Operation {
    const char* name;
    const char* optionalFile;      // a settings file that a failed save removes (defaults apply)
    const char* firstStep;         // an operation that saves twice: what its first save leaves
    const char* prepare = nullptr; // a change made before the operation, without faults
};

class StorageFaults : public ::testing::TestWithParam<Operation> {
protected:
    ovtest::TempWorkDir root;
    std::string base = root.path() + "/base";
    std::string work = root.path() + "/work";
    std::string driver = ovtest::binDir() + "/ovfaultdriver";
    std::string shim = ovtest::binDir() + "/libovfaultshim.so";

    ChildResult drive(const std::string& dir, const std::string& what,
                      std::vector<std::pair<std::string, std::string>> env = {}) {
        // The shim does not come first in a sanitizer build, which is fine for this purpose.
        env.emplace_back("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        return runChild(driver, {what}, dir, env);
    }
    void resetWork(const Operation& op) {
        fs::remove_all(work);
        fs::copy(base, work, fs::copy_options::recursive);
        if (op.prepare) {
            ASSERT_EQ(drive(work, op.prepare).exitCode, 0);
        }
    }
    std::string dumpOf(const std::string& dir) {
        ChildResult r = drive(dir, "dump");
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return r.out;
    }
};

TEST_P(StorageFaults, PreviousOrNewContentSurvivesEveryFault) {
    const Operation op = GetParam();
    fs::create_directory(base);
    ChildResult setup = drive(base, "setup");
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
    std::set<std::string> allowed;
    resetWork(op);
    std::string before = dumpOf(work);
    allowed.insert(before);

    std::map<std::string, int> calls;
    std::string countFile = root.path() + "/count";
    for (const char* kind : {"writes", "reads"}) {
        resetWork(op);
        ChildResult clean =
            drive(work, op.name,
                  {{"LD_PRELOAD", shim}, {"OV_FAULT_CALLS", kind}, {"OV_FAULT_COUNT", countFile}});
        ASSERT_EQ(clean.exitCode, 0) << clean.err;
        calls[kind] = std::stoi(ovtest::readFile(countFile));
        ASSERT_GT(calls[kind], 0) << kind;
    }
    std::string after = dumpOf(work);
    ASSERT_NE(after, before) << "the operation changed nothing";
    allowed.insert(after);
    std::string fromDefaults; // a settings file that cannot be read counts as missing
    if (op.optionalFile) {
        resetWork(op);
        fs::remove(fs::path(work) / op.optionalFile);
        allowed.insert(dumpOf(work));
        ASSERT_EQ(drive(work, op.name).exitCode, 0);
        fromDefaults = dumpOf(work);
    }
    if (op.firstStep) {
        resetWork(op);
        ASSERT_EQ(drive(work, op.firstStep).exitCode, 0);
        allowed.insert(dumpOf(work));
    }

    int survived = 0;
    for (const Fault& fault : Faults) {
        for (int nth = 1; nth <= calls[fault.calls]; ++nth) {
            SCOPED_TRACE(std::string(op.name) + " " + fault.calls + " call " + std::to_string(nth) +
                         " " + fault.mode + " " + fault.err);
            resetWork(op);
            ChildResult hit = drive(work, op.name,
                                    {{"LD_PRELOAD", shim},
                                     {"OV_FAULT_CALLS", fault.calls},
                                     {"OV_FAULT_NTH", std::to_string(nth)},
                                     {"OV_FAULT_MODE", fault.mode},
                                     {"OV_FAULT_ERRNO", fault.err}});
            if (std::string(fault.mode) == "kill") {
                EXPECT_EQ(hit.signal, SIGKILL);
            }
            std::string now = dumpOf(work);
            bool readAsMissing = std::string(fault.calls) == "reads" && now == fromDefaults;
            EXPECT_TRUE(allowed.count(now) || readAsMissing) << "neither old nor new:\n"
                                                             << now << "\nbefore:\n"
                                                             << before << "\nafter:\n"
                                                             << after;
            if (now == before) { // nothing happened: the same operation must work now
                ChildResult again = drive(work, op.name);
                EXPECT_EQ(again.exitCode, 0) << again.err;
                (void)dumpOf(work);
            }
            ++survived;
        }
    }
    std::printf("[ figures ] %s: %d writes, syncs and renames, %d reads, %d faults survived\n",
                op.name, calls["writes"], calls["reads"], survived);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWritePath, StorageFaults,
    ::testing::Values(
        Operation{"prefs", nullptr, nullptr}, Operation{"user-add", nullptr, nullptr},
        Operation{"user-update", nullptr, nullptr}, Operation{"user-delete", nullptr, nullptr},
        Operation{"area-add", nullptr, nullptr}, Operation{"area-put", nullptr, nullptr},
        Operation{"area-delete", nullptr, "area-unlink"}, Operation{"plugin-add", nullptr, nullptr},
        Operation{"plugin-remove", nullptr, nullptr}, Operation{"log", nullptr, nullptr},
        Operation{"log", nullptr, nullptr, "edit-log"}, Operation{"memo", nullptr, nullptr},
        Operation{"jotbox-settings", "jotbox.dat", nullptr},
        Operation{"ttypick-settings", "ttypick.dat", nullptr},
        Operation{"pagepeek-settings", "pagepeek.dat", nullptr}),
    [](const auto& info) {
        std::string n = info.param.name;
        if (info.param.prepare) n += std::string("_after_") + info.param.prepare;
        for (char& c : n)
            if (c == '-') c = '_';
        return n;
    });

// The account file holds passwords as stored: it and the other server files that a sysop's
// secrets may reach are readable by the server's user only, whatever the umask.
TEST(SecretsAtRest, DataFilesAreCreatedPrivateAndPasswordsStayInTheAccountFile) {
    ovtest::TempWorkDir dir;
    mode_t old = umask(0);
    ChildResult setup = runChild(ovtest::binDir() + "/ovfaultdriver", {"setup"}, dir.path(),
                                 {{"ASAN_OPTIONS", "detect_leaks=0"}});
    umask(old);
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
    for (const char* name : {"bbsusers.dat", "osvbpref.dat", "plugins.dat"}) {
        struct stat st {};
        ASSERT_EQ(stat(name, &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
    }
    EXPECT_EQ(setup.out.find("secret-"), std::string::npos);
    EXPECT_EQ(setup.err.find("secret-"), std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator(".")) {
        if (!entry.is_regular_file() || entry.path().filename() == "bbsusers.dat") continue;
        EXPECT_EQ(ovtest::readFile(entry.path().string()).find("secret-"), std::string::npos)
            << entry.path();
    }
    EXPECT_NE(ovtest::readFile("bbsusers.dat").find("secret-a"), std::string::npos);
}

} // namespace
