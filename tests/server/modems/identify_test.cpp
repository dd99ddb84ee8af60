// Caller identification from crafted call information records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "server/modems/modems.h"

namespace {

// A LINECALLINFO of `total` bytes with the caller-ID field placed after the fixed part.
struct CraftedInfo {
    explicit CraftedInfo(DWORD flags, const std::string& id = "", DWORD total = 1320)
        : words(total / 4, 0) {
        info()->dwTotalSize = total;
        info()->dwCallerIDFlags = flags;
        if (!id.empty()) {
            std::memcpy(reinterpret_cast<char*>(info()) + sizeof(LINECALLINFO), id.c_str(),
                        id.size() + 1);
            info()->dwCallerIDSize = static_cast<DWORD>(id.size() + 1);
            info()->dwCallerIDOffset = sizeof(LINECALLINFO);
        }
    }
    LINECALLINFO* info() { return reinterpret_cast<LINECALLINFO*>(words.data()); }
    std::string identify() {
        char out[ModemTextSize];
        std::memset(out, 'x', sizeof out);
        identifyCaller(info(), out);
        return out;
    }
    std::vector<uint32_t> words;
};

} // namespace

TEST(CallerIdentification, FlagsAreComparedAsAWholeValue) {
    EXPECT_EQ(CraftedInfo(LINECALLPARTYID_BLOCKED, "5551234").identify(), "Anonymous call");
    EXPECT_EQ(CraftedInfo(LINECALLPARTYID_OUTOFAREA).identify(), "Out of area");
    EXPECT_EQ(CraftedInfo(0x18, "5551234").identify(), "unknown"); // address and partial
    EXPECT_EQ(CraftedInfo(0x3).identify(), "unknown");
    EXPECT_EQ(CraftedInfo(LINECALLPARTYID_UNKNOWN).identify(), "unknown");
    EXPECT_EQ(CraftedInfo(LINECALLPARTYID_UNAVAIL).identify(), "unknown");
    EXPECT_EQ(CraftedInfo(0).identify(), "unknown");
}

TEST(CallerIdentification, TheAddressFieldIsCopiedForNameAddressOrPartial) {
    for (DWORD flags : {0x4u, 0x8u, 0xCu, 0x10u})
        EXPECT_EQ(CraftedInfo(flags, "5551234").identify(), "5551234") << flags;
    // A name alone still copies the (here empty) address field.
    EXPECT_EQ(CraftedInfo(LINECALLPARTYID_NAME).identify(), "");
}

TEST(CallerIdentification, LongOrBrokenFieldsAreCut) {
    std::string longId(100, '7');
    EXPECT_EQ(CraftedInfo(LINECALLPARTYID_ADDRESS, longId).identify(), std::string(63, '7'));

    // A field that claims to run past the record is cut at the record's end.
    CraftedInfo past(LINECALLPARTYID_ADDRESS, "", 300);
    past.info()->dwCallerIDOffset = 296;
    past.info()->dwCallerIDSize = 5000;
    std::memcpy(reinterpret_cast<char*>(past.info()) + 296, "4444", 4);
    EXPECT_EQ(past.identify(), "4444");
    past.info()->dwCallerIDOffset = 0xFFFFFFF0u;
    EXPECT_EQ(past.identify(), "");
}
