#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/records.h"
#include "update/release/manifest.h"
#include "update/release/version.h"

namespace {

struct OrderCase {
    std::string a;
    std::string b;
    int result;
};

const OrderCase kOrderCases[] = {
    {"1.2", "1.2.0", 0},
    {"1.2.3", "1.2.3.0.0", 0},
    {"v1.10", "1.9", 1},
    {"10", "9", 1},
    {"1.02", "1.2", 0},
    {"1.2-beta", "1.2", 0},
    {"1.2-rc3", "1.2", 1},
    {"1.2", "1.10", -1},
    {"V16", "1.0.0", -1},
    {"v16.5", "2", -1},
    {"v16", "v15", -1},
    {"1.0", "v16-beta", 1},
    {"v16", "v16.1", -1},
    {"v16", "beta", 1},
    {"v160", "1.0", 1},
    {" v16", "1.0", 1},
    {"abc", "xyz", 0},
    {"", "", 0},
    {"1..2", "1.2", 0},
    {"1.0.0", "0.9.9", 1},
    // Runs longer than 32 bits keep their true value.
    {"2147483648", "1", 1},
    {"4294967297", "2", 1},
    {"20261208123", "20261208122", 1},
    {"1.20261208123", "1.9", 1},
    {"0000000000000000000000001", "1", 0},
    {"00000000000000000000000010", "9", 1},
    {"99999999999999999999", "100000000000000000000", -1},
    {"1.99999999999999999999", "1.99999999999999999999.0", 0},
    // Only the ASCII digits count: a UTF-8 fullwidth digit one is a separator.
    {"1.\xef\xbc\x91", "1", 0},
};

TEST(CompareVersions, OrdersAsTheTableSays) {
    for (const OrderCase& c : kOrderCases) {
        SCOPED_TRACE("a=\"" + c.a + "\" b=\"" + c.b + "\"");
        EXPECT_EQ(CompareVersions(c.a, c.b), c.result);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.result);
    }
}

TEST(ExtractVersionNumbers, KeepsEachRunsSignificantDigits) {
    using Numbers = std::vector<std::string>;
    EXPECT_EQ(ExtractVersionNumbers("v1.10-rc2"), (Numbers{"1", "10", "2"}));
    EXPECT_EQ(ExtractVersionNumbers("01.000.0"), (Numbers{"1", "0", "0"}));
    EXPECT_EQ(ExtractVersionNumbers("007x20261208123"), (Numbers{"7", "20261208123"}));
    EXPECT_EQ(ExtractVersionNumbers("beta"), Numbers{});
    EXPECT_EQ(ExtractVersionNumbers(""), Numbers{});
}

TEST(HasV16Prefix, MarksV16NotFollowedByADigit) {
    for (const char* marked : {"v16", "V16", "v16.3", "v16-beta", "V16a", "v16 "}) {
        EXPECT_TRUE(HasV16Prefix(marked)) << marked;
    }
    for (const char* unmarked : {"v160", "v1.6", "16", " v16", "v1", "", "w16", "v17"}) {
        EXPECT_FALSE(HasV16Prefix(unmarked)) << unmarked;
    }
}

TEST(UpdateAvailable, OnlyWhenBothVersionsAreKnownAndTheLatestRanksAbove) {
    EXPECT_TRUE(UpdateAvailable("1.2.3", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("1.2.4", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("1.2.5", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("", "1.2.4"));
    EXPECT_FALSE(UpdateAvailable("1.2.3", ""));
}

// A release's version must come back from the device after the flash, and be
// read from com.ini, exactly as written; and it must be able to rank above an
// older release.
TEST(CheckReleaseVersion, TakesWhatTheDeviceReportsBackAndTheOrderingCanPlace) {
    using C = ReleaseVersionCheck;
    const struct {
        std::string version;
        ReleaseVersionCheck check;
    } cases[] = {
        {"1.2.0", C::Ok},
        {"v2.0-rc1", C::Ok},
        {"1.0 beta", C::Ok},
        {"v161", C::Ok},
        {"2026.12.09=build:7", C::Ok},
        {std::string(64, '1'), C::Ok},
        {"", C::Empty},
        {std::string(65, '1'), C::TooLong},
        {" 1.0", C::BadCharacter},
        {"1.0 ", C::BadCharacter},
        {"1.0;x", C::BadCharacter},
        {"1.0\nxzdz=x", C::BadCharacter},
        {"1.0\t", C::BadCharacter},
        {"1.0\x7f", C::BadCharacter},
        {"1.0-\xe6\xb5\x8b", C::BadCharacter},
        {"beta", C::NoNumber},
        {"v16", C::V16Mark},
        {"V16.2", C::V16Mark},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(CheckReleaseVersion(c.version), c.check);
        if (c.check != C::Ok) continue;
        TelemetryRecord record;
        ASSERT_TRUE(ReadTelemetryRecord("TEL|app=1;fw=" + c.version + ";hid_ctrl_cfg=0", record));
        EXPECT_EQ(record.firmwareVersion, c.version);
        ReleaseManifest manifest;
        ASSERT_EQ(ReadReleaseManifest("version=" + c.version + "\nxzdz=u\n", manifest), ManifestCheck::Ok);
        EXPECT_EQ(manifest.version, c.version);
        EXPECT_TRUE(UpdateAvailable("0", c.version));
    }
}

}  // namespace
