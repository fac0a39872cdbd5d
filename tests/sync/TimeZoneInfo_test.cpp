#include "sync/TimeZoneInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using namespace kairelon;

namespace {

constexpr std::time_t January15 = 1768478400; // 2026-01-15 12:00:00 UTC
constexpr std::time_t July15 = 1784116800;    // 2026-07-15 12:00:00 UTC

class TimeZonePage : public testing::Test {
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
    static TTimeZoneDisplay At(const char* tz, std::time_t when) {
        setenv("TZ", tz, 1);
        TIME_ZONE_INFORMATION info;
        const std::uint32_t result = GetTimeZoneInformationAt(when, info);
        return TimeZoneDisplayOf(result, info);
    }

private:
    std::optional<std::string> saved_;
};

} // namespace

TEST_F(TimeZonePage, OneHourEastShowsMinus60InWinterAndMinus120WithTheDaylightNameInSummer) {
    const TTimeZoneDisplay winter = At("Europe/Berlin", January15);
    EXPECT_TRUE(winter.Success);
    EXPECT_EQ(winter.Name, "CET");
    EXPECT_EQ(winter.Bias, -60);

    const TTimeZoneDisplay summer = At("Europe/Berlin", July15);
    EXPECT_TRUE(summer.Success);
    EXPECT_EQ(summer.Name, "CEST");
    EXPECT_EQ(summer.Bias, -120);
}

TEST_F(TimeZonePage, AZoneWithoutDaylightTimeShowsItsNameAndBiasAndSucceeds) {
    const TTimeZoneDisplay utc = At("UTC", July15);
    EXPECT_TRUE(utc.Success);
    EXPECT_EQ(utc.Name, "UTC");
    EXPECT_EQ(utc.Bias, 0);

    const TTimeZoneDisplay india = At("Asia/Kolkata", January15);
    EXPECT_TRUE(india.Success);
    EXPECT_EQ(india.Name, "IST");
    EXPECT_EQ(india.Bias, -330);
}

TEST_F(TimeZonePage, OnlyARecordThatCouldNotBeReadFails) {
    TIME_ZONE_INFORMATION info;
    info.StandardName = "CET";
    info.Bias = -60;
    const TTimeZoneDisplay failed = TimeZoneDisplayOf(TIME_ZONE_ID_INVALID, info);
    EXPECT_FALSE(failed.Success);
    EXPECT_EQ(failed.Name, "");
    EXPECT_EQ(failed.Bias, 0);
}

TEST_F(TimeZonePage, TheZoneOfTheMachineNowIsDetermined) {
    setenv("TZ", "Europe/Berlin", 1);
    const TTimeZoneDisplay now = ShowTimeZoneInfo();
    EXPECT_TRUE(now.Success);
    EXPECT_TRUE(now.Name == "CET" || now.Name == "CEST") << now.Name;
    EXPECT_EQ(now.Bias, now.Name == "CET" ? -60 : -120);
}
