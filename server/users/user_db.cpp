#include "server/users/user_db.h"

#include "server/base/ascii.h"
#include "server/base/file_helpers.h"
#include "server/base/group_commit.h"
#include "server/base/offset_table.h"
#include "server/base/record_codec.h"
#include "server/base/time_text.h"
#include "server/preferences/preferences.h"
#include "server/users/user_list.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char* UserFile = "bbsusers.dat";
constexpr const char* BadNamesFile = "badnames.txt";
constexpr size_t NameOffset = 4;
constexpr size_t FlagsOffset = 326;
constexpr size_t NameFieldSize = 32;
constexpr size_t MaxNameLength = NameFieldSize - 1;
// Whole records per read while scanning, so a scan costs one system call per 64 KiB.
constexpr uint64_t RecordsPerBlock = 65536 / UserRecordSize;

std::recursive_mutex userLock;
uint32_t nextUserId = 0;
// Changes written while one sync runs share the next one.
SyncGroup& userSync = *new SyncGroup;
// Accounts still being created, by lower-case name, with a count in case a name is deleted and
// taken again while its first creator is still at work. Never destroyed: session threads may
// still ask while the process exits.
std::map<std::string, int>& reservations = *new std::map<std::string, int>;

// Compares a stored name field with `name` without decoding the record. The field is read as
// loadText reads it: at most 31 characters. Empty names (free slots) never match.
bool nameFieldEquals(const uint8_t* field, const char* name) {
    if (name[0] == '\0') return false;
    for (size_t i = 0; i < NameFieldSize; ++i) {
        char stored = i < MaxNameLength ? static_cast<char>(field[i]) : '\0';
        if (asciiLower(stored) != asciiLower(name[i])) return false;
        if (stored == '\0') return true;
    }
    return false;
}

std::string lowerName(const char* name) {
    std::string s(name ? name : "");
    for (char& c : s)
        c = asciiLower(c);
    return s;
}

struct ScanInfo {
    bool headerRead = false;
    uint32_t headerNextId = 0;
    // A read failed before the end (an I/O error, or the file cut short meanwhile): the records
    // not read may hold anything, so their absence proves nothing.
    bool readFailed = false;
    uint64_t size = 0; // the file's size when the scan began
    // Behind the last whole record by that size: where the next account goes.
    uint64_t recordsEnd = UserFileHeaderSize;
};

// Reads the header and then the whole records in large blocks, handing each record and its file
// offset to `visit` until it returns true. A partial last record ends the scan like the end of
// the file. False only when no buffer could be had.
template <class Visit> bool scanUserFile(FileHandle file, ScanInfo& info, Visit visit) {
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[RecordsPerBlock * UserRecordSize]);
    if (!block) return false;
    uint64_t size = 0;
    if (!fileSize(file, size) || !seekTo(file, 0)) {
        info.readFailed = true;
        return true;
    }
    info.size = size;
    if (size < UserFileHeaderSize) return true;
    uint64_t count = (size - UserFileHeaderSize) / UserRecordSize;
    info.recordsEnd = UserFileHeaderSize + count * UserRecordSize;
    uint8_t header[UserFileHeaderSize];
    if (!readExactly(file, header, sizeof header)) {
        info.readFailed = true;
        return true;
    }
    info.headerRead = true;
    info.headerNextId = loadLe32(header + 4);
    uint64_t done = 0;
    while (done < count) {
        uint64_t n = std::min(count - done, RecordsPerBlock);
        if (!readExactly(file, block.get(), static_cast<uint32_t>(n * UserRecordSize))) {
            info.readFailed = true;
            return true;
        }
        for (uint64_t i = 0; i < n; ++i) {
            uint64_t offset = UserFileHeaderSize + (done + i) * UserRecordSize;
            if (visit(block.get() + i * UserRecordSize, offset)) return true;
        }
        done += n;
    }
    return true;
}

bool writeAt(FileHandle file, uint64_t offset, const uint8_t* bytes, uint32_t n) {
    return offset < 0xFFFFFFFFu && seekTo(file, static_cast<uint32_t>(offset)) &&
           writeExactly(file, bytes, n);
}

// Where each account's record was last seen, by a hash of its lower-case name, so that a lookup
// reads one record instead of the whole file. Positions only, never contents: a hit is read from
// the file and its name checked, and a name the index does not hold is looked for by a scan, so
// every lookup still sees what is in the file. The stamp of the file it was built from tells when
// the file changed under it (another process, another working directory): a hit is still only
// checked, but the next scan learns the positions again.
struct NameIndex {
    bool valid = false;
    FileStamp stamp;
    OffsetTable offsets;
};
// Never destroyed, like the reservations.
NameIndex& nameIndex = *new NameIndex;

// FNV-1a over the name as nameFieldEquals compares it: lower case, at most 31 characters.
uint64_t nameHash(const char* name, size_t length) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < length && i < MaxNameLength && name[i] != '\0'; ++i) {
        h ^= static_cast<uint8_t>(asciiLower(name[i]));
        h *= 1099511628211ull;
    }
    return h;
}

bool indexIsCurrent(const FileStamp& now) {
    return nameIndex.valid && nameIndex.stamp == now;
}

void dropIndex() {
    nameIndex.valid = false;
    nameIndex.offsets.clear();
}

// After this process wrote the file: an index that matched the file as it was (`before` the
// write) matches what it has become.
void restampIndex(FileHandle file, const FileStamp& before) {
    if (indexIsCurrent(before) && !fileStamp(file, nameIndex.stamp)) dropIndex();
}

bool recordAtHasName(FileHandle file, uint64_t offset, const char* name,
                     uint8_t rec[UserRecordSize]) {
    return offset < 0xFFFFFFFFu && seekTo(file, static_cast<uint32_t>(offset)) &&
           readExactly(file, rec, UserRecordSize) && nameFieldEquals(rec + NameOffset, name);
}

// Finds the first record named `name`: `found` tells, `rec` and `offset` receive it. Through the
// index when it is current; otherwise by a scan, which rebuilds the index when the file has
// changed. `info` is filled whenever a scan ran, so always when nothing was found. False when
// the file could not be scanned to its end without finding the name.
bool locateAccount(FileHandle file, const char* name, uint8_t rec[UserRecordSize], uint64_t& offset,
                   ScanInfo& info, bool& found) {
    found = false;
    FileStamp now;
    // A name longer than a name field matches nothing; it is not worth a rebuild.
    bool stamped = std::strlen(name) <= MaxNameLength && fileStamp(file, now);
    bool rebuild = stamped && !indexIsCurrent(now);
    // A position is a hint, also after another program changed the file: the record there is
    // read and its name checked, so a hit serves what is on file now without a scan.
    if (stamped && nameIndex.valid) {
        uint64_t at = nameIndex.offsets.find(nameHash(name, std::strlen(name)));
        if (at != 0) {
            if (recordAtHasName(file, at, name, rec)) {
                offset = at;
                found = true;
                return true;
            }
            rebuild = true; // the file no longer holds the name there
        }
    }
    bool complete = true;
    if (rebuild) {
        dropIndex();
        complete = nameIndex.offsets.reserve(now.size / UserRecordSize);
    }
    bool scanned = scanUserFile(file, info, [&](const uint8_t* stored, uint64_t at) {
        if (!found && nameFieldEquals(stored + NameOffset, name)) {
            std::memcpy(rec, stored, UserRecordSize);
            offset = at;
            found = true;
            if (!rebuild) return true;
        }
        if (rebuild && complete && stored[NameOffset] != 0) {
            const char* field = reinterpret_cast<const char*>(stored + NameOffset);
            // The first record of a name wins, as in a scan.
            complete = nameIndex.offsets.insert(nameHash(field, NameFieldSize), at);
        }
        return false;
    });
    // Valid only for the file as it was during the whole scan.
    FileStamp after;
    if (rebuild && scanned && complete && !info.readFailed && fileStamp(file, after) &&
        after == now) {
        nameIndex.stamp = now;
        nameIndex.valid = true;
    } else if (rebuild) {
        dropIndex();
    }
    return scanned && (found || !info.readFailed);
}

// An account whose creation never finished (the server stopped, or the file could not be
// written when its caller left) and whose name nobody in this process is still making. It has
// no password and must not stay enterable.
bool isAbandonedAccount(const uint8_t rec[UserRecordSize]) {
    char name[NameFieldSize];
    loadText(rec + NameOffset, NameFieldSize, name);
    return name[0] != '\0' && loadLe32(rec) != FreeUserId &&
           (loadLe16(rec + FlagsOffset) & AccountIncompleteFlag) != 0 &&
           reservations.count(lowerName(name)) == 0;
}

// Finds the account named `name` and overwrites it with what `edit(current, out)` makes of its
// current bytes. The write reaches the disk after the lock is released, in a sync shared with
// the writers that came meanwhile, and before this returns.
template <class Edit> bool overwriteAccount(const char* name, Edit edit) {
    FileHandle file = InvalidFile;
    SyncTicket ticket;
    bool ok = false;
    {
        std::lock_guard<std::recursive_mutex> hold(userLock);
        file = openForGroupedUpdate(UserFile, FileAccess::Private);
        if (file == InvalidFile) return false;
        ScanInfo info;
        uint64_t found = 0;
        uint8_t current[UserRecordSize];
        uint8_t bytes[UserRecordSize];
        bool exists = false;
        FileStamp before;
        if (locateAccount(file, name, current, found, info, exists) && exists &&
            fileStamp(file, before)) {
            edit(current, bytes);
            ok = writeAt(file, found, bytes, UserRecordSize);
        }
        if (!ok) {
            // A write that failed half-way may have left anything at that position.
            if (exists) dropIndex();
        } else if (!nameFieldEquals(bytes + NameOffset, name)) {
            // A deleted account is no longer where the index says; a scan finds any other record
            // of its name.
            nameIndex.offsets.erase(nameHash(name, std::strlen(name)));
        }
        if (ok) {
            restampIndex(file, before);
            ticket = userSync.enter(file);
        }
        unlockFile(file);
    }
    ok = ok && userSync.commit(file, ticket);
    closeFile(file);
    return ok;
}

bool createAccount(UserRecord& rec, const char* requestedName, bool reserve) {
    char name[NameFieldSize];
    normalizeLoginName(name, requestedName ? requestedName : "");
    if (std::strlen(name) < 2) return false;
    char keyword[256] = {};
    getPrefText(PrefText::NewAccountName, keyword);
    if (equalsIgnoringAsciiCase(name, keyword)) return false;
    FileHandle file = InvalidFile;
    SyncTicket ticket;
    {
        std::lock_guard<std::recursive_mutex> hold(userLock);
        file = openForGroupedUpdate(UserFile, FileAccess::Private);
        if (file == InvalidFile) return false;
        ScanInfo info;
        uint8_t existing[UserRecordSize];
        uint64_t existingAt = 0;
        bool taken = false;
        bool scanned = locateAccount(file, name, existing, existingAt, info, taken);
        // The header's counter also counts when the list was never loaded: ids stay unique.
        if (info.headerRead) nextUserId = std::max(nextUserId, info.headerNextId);
        // Appended behind the records the file held when the scan began; a file that changed
        // size since was not wholly checked for the name.
        FileStamp before;
        if (!scanned || taken || nextUserId == FreeUserId || !fileStamp(file, before) ||
            before.size != info.size) {
            closeFile(file);
            return false;
        }
        rec = UserRecord{};
        rec.id = nextUserId++;
        std::memcpy(rec.loginName, name, sizeof name);
        rec.firstLogin = rec.lastLogin = nowAsFileTime();
        // Marked on disk, so that a crash or a stop before the password never leaves an account
        // that anyone could enter with an empty password.
        if (reserve) rec.userFlags = AccountIncompleteFlag;

        uint8_t header[UserFileHeaderSize] = {0x0D, 0x0A, 0x1A, 0x00};
        storeLe32(header + 4, nextUserId);
        uint8_t bytes[UserRecordSize];
        encodeUserRecord(rec, bytes);
        // A damaged partial record at the end is overwritten, so the new one stays findable.
        bool ok = writeAt(file, 0, header, sizeof header) &&
                  writeAt(file, info.recordsEnd, bytes, UserRecordSize);
        if (!ok) {
            dropIndex();
        } else if (nameIndex.valid) {
            if (nameIndex.offsets.insert(nameHash(name, NameFieldSize), info.recordsEnd))
                restampIndex(file, before);
            else
                dropIndex();
        }
        if (!ok) {
            closeFile(file);
            return false;
        }
        if (reserve) ++reservations[lowerName(rec.loginName)];
        ticket = userSync.enter(file);
        unlockFile(file);
    }
    // Both writes reach the disk in one sync, shared with the writers that came meanwhile.
    bool durable = userSync.commit(file, ticket);
    closeFile(file);
    if (!durable) {
        if (reserve) releaseUserReservation(rec.loginName);
        return false;
    }
    listAddUser(rec.loginName, rec.id);
    return true;
}

// Frees the accounts that a scan found half-made and unreserved (see isAbandonedAccount), each
// where it was found, after checking that it is still there.
void removeAbandonedAccounts(const std::vector<uint64_t>& offsets) {
    if (offsets.empty()) return;
    FileHandle file = openForUpdate(UserFile, FileAccess::Private);
    if (file == InvalidFile) return; // they stay refused at login; the next start tries again
    uint8_t freeSlot[UserRecordSize] = {};
    storeLe32(freeSlot, FreeUserId);
    for (uint64_t at : offsets) {
        uint8_t rec[UserRecordSize];
        if (at < 0xFFFFFFFFu && seekTo(file, static_cast<uint32_t>(at)) &&
            readExactly(file, rec, UserRecordSize) && isAbandonedAccount(rec))
            (void)writeAt(file, at, freeSlot, UserRecordSize);
    }
    dropIndex();
    closeFile(file);
}

} // namespace

// The fields below, in file order, fill the record exactly.
static_assert(4 + sizeof(UserRecord::loginName) + sizeof(UserRecord::password) +
                  sizeof(UserRecord::realName) + 2 * 2 + 6 * 4 + 2 * 8 ==
              UserRecordSize);

void encodeUserRecord(const UserRecord& rec, uint8_t out[UserRecordSize]) {
    RecordWriter w(out, UserRecordSize);
    w.u32(rec.id);
    w.text(rec.loginName, sizeof rec.loginName);
    w.text(rec.password, sizeof rec.password);
    w.text(rec.realName, sizeof rec.realName);
    w.u16(rec.accessLevel);
    w.u16(rec.userFlags);
    w.u32(rec.loginCount);
    w.u32(rec.uploadKb);
    w.u32(rec.downloadKb);
    w.u32(rec.secondLoginCount);
    w.u32(rec.reserved1);
    w.u32(rec.reserved2);
    w.u64(rec.firstLogin);
    w.u64(rec.lastLogin);
}

void decodeUserRecord(const uint8_t in[UserRecordSize], UserRecord& rec) {
    RecordReader r(in, UserRecordSize);
    rec.id = r.u32();
    r.text(rec.loginName, sizeof rec.loginName);
    r.text(rec.password, sizeof rec.password);
    r.text(rec.realName, sizeof rec.realName);
    rec.accessLevel = r.u16();
    rec.userFlags = r.u16();
    rec.loginCount = r.u32();
    rec.uploadKb = r.u32();
    rec.downloadKb = r.u32();
    rec.secondLoginCount = r.u32();
    rec.reserved1 = r.u32();
    rec.reserved2 = r.u32();
    rec.firstLogin = r.u64();
    rec.lastLogin = r.u64();
}

bool addUser(UserRecord& rec, const char* requestedName) {
    return createAccount(rec, requestedName, false);
}

bool addUserReserved(UserRecord& rec, const char* requestedName) {
    return createAccount(rec, requestedName, true);
}

void releaseUserReservation(const char* name) {
    std::lock_guard<std::recursive_mutex> hold(userLock);
    auto it = reservations.find(lowerName(name));
    if (it != reservations.end() && --it->second <= 0) reservations.erase(it);
}

bool isUserReserved(const char* name) {
    std::lock_guard<std::recursive_mutex> hold(userLock);
    return reservations.count(lowerName(name)) != 0;
}

bool findUser(UserRecord& out, const char* name) {
    if (!name) return false;
    std::lock_guard<std::recursive_mutex> hold(userLock);
    FileHandle file = openForRead(UserFile);
    if (file == InvalidFile) return false;
    ScanInfo info;
    uint8_t rec[UserRecordSize];
    uint64_t offset = 0;
    bool found = false;
    bool ok = locateAccount(file, name, rec, offset, info, found);
    closeFile(file);
    if (ok && found) decodeUserRecord(rec, out);
    return ok && found;
}

bool updateUser(const UserRecord& rec) {
    uint8_t bytes[UserRecordSize];
    encodeUserRecord(rec, bytes);
    char name[NameFieldSize];
    loadText(bytes + NameOffset, NameFieldSize, name);
    return overwriteAccount(
        name, [&](const uint8_t*, uint8_t* out) { std::memcpy(out, bytes, UserRecordSize); });
}

bool changeUser(const char* name, const std::function<void(UserRecord&)>& change,
                UserRecord& written) {
    if (!name || !change) return false;
    return overwriteAccount(name, [&](const uint8_t* current, uint8_t* out) {
        UserRecord rec;
        decodeUserRecord(current, rec);
        change(rec);
        // The name says which account this is; it is not for a change to move it.
        std::memcpy(rec.loginName, current + NameOffset, sizeof rec.loginName);
        rec.loginName[MaxNameLength] = '\0';
        encodeUserRecord(rec, out);
        written = rec;
    });
}

bool deleteUser(const char* name) {
    if (!name) return false;
    if (!overwriteAccount(name, [](const uint8_t*, uint8_t* out) {
            std::memset(out, 0, UserRecordSize);
            storeLe32(out, FreeUserId);
        }))
        return false;
    listRemoveUser(name);
    return true;
}

void normalizeLoginName(char out[32], const char* in) {
    size_t kept = 0;
    for (const char* p = in; p && *p && kept < MaxNameLength; ++p) {
        char c = asciiLower(*p);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.')
            out[kept++] = c;
    }
    out[kept] = '\0';
    if (isForbiddenName(out)) out[0] = '\0';
}

bool isForbiddenName(const char* name) {
    if (!name) return false;
    FileHandle file = openForRead(BadNamesFile);
    // A list that is there but cannot be read forbids every name rather than none, so a read
    // error never lets a caller take a name the sysop barred.
    if (file == InvalidFile) return fileExists(BadNamesFile);
    enum class State { Collect, AfterCr, SkipToLf } state = State::Collect;
    char line[NameFieldSize];
    size_t length = 0;
    bool found = false;
    auto endLine = [&] {
        line[length] = '\0';
        found = equalsIgnoringAsciiCase(line, name);
        length = 0;
    };
    uint64_t remaining = 0;
    bool unreadable = !fileSize(file, remaining);
    char block[65536];
    while (!unreadable && remaining > 0 && !found) {
        uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(remaining, sizeof block));
        if (!readExactly(file, block, n)) {
            unreadable = true;
            break;
        }
        remaining -= n;
        for (uint32_t i = 0; i < n && !found; ++i) {
            char b = block[i];
            switch (state) {
            case State::Collect:
                if (b == '\r') {
                    endLine();
                    state = State::AfterCr;
                } else if (b == '\n') { // a lone LF, as Linux editors end lines
                    endLine();
                } else {
                    line[length++] = b;
                    if (length == MaxNameLength) {
                        endLine();
                        state = State::SkipToLf;
                    }
                }
                break;
            case State::AfterCr:
                state = b == '\n' ? State::Collect : State::SkipToLf;
                break;
            case State::SkipToLf:
                if (b == '\n') state = State::Collect;
                break;
            }
        }
    }
    if (!found && state == State::Collect && length > 0) endLine();
    closeFile(file);
    return found || unreadable;
}

void loadUserList() {
    std::lock_guard<std::recursive_mutex> hold(userLock);
    FileHandle file = openForRead(UserFile);
    if (file == InvalidFile) return;
    // Announced in name order, so the sorted list only ever appends: in file order a large file
    // would cost a shift of the list per account.
    std::vector<std::pair<std::string, uint32_t>> accounts;
    bool collecting = true;
    std::vector<uint64_t> abandoned;
    ScanInfo info;
    bool ok = scanUserFile(file, info, [&](const uint8_t* rec, uint64_t at) {
        char name[NameFieldSize];
        loadText(rec + NameOffset, NameFieldSize, name);
        uint32_t id = loadLe32(rec);
        if (name[0] == '\0' || id == FreeUserId) return false;
        if (isAbandonedAccount(rec)) {
            try {
                abandoned.push_back(at);
                return false;
            } catch (const std::bad_alloc&) {
                // listed, and still refused at login
            }
        }
        if (collecting) {
            try {
                accounts.emplace_back(name, id);
                return false;
            } catch (const std::bad_alloc&) {
                collecting = false; // short of memory: the rest go out as they come
            }
        }
        listAddUser(name, id);
        return false;
    });
    if (ok && info.headerRead) nextUserId = info.headerNextId;
    closeFile(file);
    removeAbandonedAccounts(abandoned);
    std::sort(accounts.begin(), accounts.end(), [](const auto& a, const auto& b) {
        return std::lexicographical_compare(
            a.first.begin(), a.first.end(), b.first.begin(), b.first.end(), [](char x, char y) {
                return static_cast<uint8_t>(asciiLower(x)) < static_cast<uint8_t>(asciiLower(y));
            });
    });
    for (const auto& [name, id] : accounts)
        listAddUser(name.c_str(), id);
}
