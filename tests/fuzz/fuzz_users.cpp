// Arbitrary "badnames.txt" and "bbsusers.dat" (input split at "\n--\n"): lookups never crash,
// names come back terminated, and a new account is findable until it is deleted.
#include "fuzz_common.h"
#include "server/users/user_db.h"

#include <cstring>

void listAddUser(const char*, uint32_t) {}
void listRemoveUser(const char*) {}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterScratchDirectory("users");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return 0;
    std::string badNames, users;
    fuzz::splitInput(data, size, badNames, users);
    if (!fuzz::writeWhole("badnames.txt", reinterpret_cast<const uint8_t*>(badNames.data()),
                          badNames.size()) ||
        !fuzz::writeWhole("bbsusers.dat", reinterpret_cast<const uint8_t*>(users.data()),
                          users.size()))
        return 0;
    loadUserList();
    char normalized[32];
    normalizeLoginName(normalized, badNames.substr(0, 64).c_str());
    fuzz::check(std::memchr(normalized, 0, sizeof normalized) != nullptr);
    for (const char* p = normalized; *p; ++p)
        fuzz::check((*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || *p == '_' || *p == '.');
    (void)isForbiddenName(normalized);
    UserRecord rec;
    if (findUser(rec, "alice")) {
        fuzz::check(std::memchr(rec.loginName, 0, sizeof rec.loginName) != nullptr);
        fuzz::check(std::memchr(rec.password, 0, sizeof rec.password) != nullptr);
        fuzz::check(std::memchr(rec.realName, 0, sizeof rec.realName) != nullptr);
        (void)updateUser(rec);
    }
    UserRecord added;
    if (addUser(added, "zz.fuzz_new")) {
        UserRecord found;
        fuzz::check(findUser(found, "ZZ.Fuzz_New") && found.id == added.id);
        fuzz::check(deleteUser("zz.fuzz_new"));
        fuzz::check(!findUser(found, "zz.fuzz_new"));
    }
    return 0;
}
