#include "platform/TimeZone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace kairelon;

namespace {

// Sets TZ for one test and puts back what was there.
class ZoneTest : public testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            saved_ = tz;
        }
    }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void Zone(const char* tz) { setenv("TZ", tz, 1); }

    static constexpr std::time_t January15 = 1768478400; // 2026-01-15 12:00:00 UTC
    static constexpr std::time_t July15 = 1784116800;    // 2026-07-15 12:00:00 UTC

private:
    std::optional<std::string> saved_;
};

} // namespace

TEST_F(ZoneTest, AZoneWithDaylightTimeGivesBothSeasonsAndTheOneInEffect) {
    Zone("Europe/Berlin");
    TIME_ZONE_INFORMATION winter;
    EXPECT_EQ(GetTimeZoneInformationAt(January15, winter), TIME_ZONE_ID_STANDARD);
    EXPECT_EQ(winter.Bias, -60);
    EXPECT_EQ(winter.StandardName, "CET");
    EXPECT_EQ(winter.DaylightName, "CEST");
    EXPECT_EQ(winter.DaylightBias, -60);
    EXPECT_EQ(winter.StandardBias, 0);

    TIME_ZONE_INFORMATION summer;
    EXPECT_EQ(GetTimeZoneInformationAt(July15, summer), TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(summer.Bias, -60);
    EXPECT_EQ(summer.StandardName, "CET");
    EXPECT_EQ(summer.DaylightName, "CEST");
    EXPECT_EQ(summer.DaylightBias, -60);
}

TEST_F(ZoneTest, TheSouthernSummerIsDaylightTimeInJanuary) {
    Zone("Australia/Sydney");
    TIME_ZONE_INFORMATION info;
    EXPECT_EQ(GetTimeZoneInformationAt(January15, info), TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(info.Bias, -600);
    EXPECT_EQ(info.DaylightBias, -60);
    EXPECT_EQ(info.DaylightName, "AEDT");
    EXPECT_EQ(GetTimeZoneInformationAt(July15, info), TIME_ZONE_ID_STANDARD);
    EXPECT_EQ(info.StandardName, "AEST");
}

TEST_F(ZoneTest, ZonesWithoutDaylightTimeGiveTheUnknownResultWithNameAndBias) {
    Zone("UTC");
    TIME_ZONE_INFORMATION info;
    EXPECT_EQ(GetTimeZoneInformationAt(July15, info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, 0);
    EXPECT_EQ(info.StandardName, "UTC");
    EXPECT_EQ(info.DaylightName, "");

    Zone("Asia/Kolkata");
    EXPECT_EQ(GetTimeZoneInformationAt(January15, info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, -330);
    EXPECT_EQ(info.StandardName, "IST");

    Zone("XST5"); // a zone given as a rule rather than a tzdata name
    EXPECT_EQ(GetTimeZoneInformationAt(January15, info), TIME_ZONE_ID_UNKNOWN);
    EXPECT_EQ(info.Bias, 300);
    EXPECT_EQ(info.StandardName, "XST");
}

TEST_F(ZoneTest, AChangedZoneTakesEffectWithoutRestart) {
    Zone("America/New_York");
    TIME_ZONE_INFORMATION info;
    GetTimeZoneInformationAt(January15, info);
    EXPECT_EQ(info.Bias, 300);
    Zone("Asia/Tokyo");
    GetTimeZoneInformationAt(January15, info);
    EXPECT_EQ(info.Bias, -540);
}
