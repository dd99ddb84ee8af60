// Builds the bytes of "bbsusers.dat" for tests that write the file as another program would.
#pragma once

#include "server/base/record_codec.h"
#include "server/users/user_db.h"

#include <cstdio>
#include <string>

namespace usertest {

inline std::string header(uint32_t nextId) {
    std::string h("\x0D\x0A\x1A\x00", 4);
    uint8_t n[4];
    storeLe32(n, nextId);
    return h + std::string(reinterpret_cast<char*>(n), 4);
}

inline std::string record(uint32_t id, const char* name, const char* password = "") {
    UserRecord rec;
    rec.id = id;
    std::snprintf(rec.loginName, sizeof rec.loginName, "%s", name);
    std::snprintf(rec.password, sizeof rec.password, "%s", password);
    uint8_t bytes[UserRecordSize];
    encodeUserRecord(rec, bytes);
    return std::string(reinterpret_cast<char*>(bytes), UserRecordSize);
}

} // namespace usertest
