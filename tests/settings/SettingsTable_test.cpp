// The settings table's control rules: which range each up-down keeps and which list position
// stands for which stored value, with the stored values a person may have edited by hand.
#include "settings/SettingsTable.h"

#include <gtest/gtest.h>

#include <string>

using namespace kairelon;

TEST(SettingsTable, EveryIntegerSettingHasItsControlRule) {
    struct Row {
        const char* name;
        IntegerControl control;
        std::int32_t minimum;
        std::int32_t maximum;
        std::int32_t step;
    };
    const Row rows[] = {
        {"Timeout", IntegerControl::UpDown, 1000, 30000, 1000},
        {"SyncModus", IntegerControl::Plain, 0, 0, 1},
        {"Intervall", IntegerControl::UpDown, 1, 999, 1},
        {"Einheit", IntegerControl::ListItem, 1, 3, 1},
        {"Wochentag", IntegerControl::ListItem, 0, 7, 1},
        {"Stunde", IntegerControl::UpDown, 0, 23, 1},
        {"Minute", IntegerControl::UpDown, 0, 59, 1},
        {"MaxAbweichIntervall", IntegerControl::UpDown, 1, 999, 1},
        {"MaxAbweichEinheit", IntegerControl::ListItem, 1, 3, 1},
    };
    int integers = 0;
    for (const SettingInfo& s : AllSettings())
        integers += s.type == SettingType::Integer;
    EXPECT_EQ(integers, static_cast<int>(std::size(rows)));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SettingInfo* info = FindSetting(row.name);
        ASSERT_NE(info, nullptr);
        ASSERT_EQ(info->type, SettingType::Integer);
        EXPECT_EQ(info->integer.control, row.control);
        EXPECT_EQ(info->integer.minimum, row.minimum);
        EXPECT_EQ(info->integer.maximum, row.maximum);
        EXPECT_EQ(info->integer.step, row.step);
        EXPECT_EQ(info->integer.defaultValue, info->integerDefault);
        EXPECT_TRUE(info->integer.InRange(info->integerDefault)) << "the default is shown as is";
    }
}

TEST(SettingsTable, StoredValuesShowAtTheNearestEndOfTheirUpDownRange) {
    struct Case {
        IntegerSetting setting;
        std::int32_t stored;
        std::int32_t shown;
    };
    const Case cases[] = {
        {settings::Timeout, 500, 1000},
        {settings::Timeout, 0, 1000},
        {settings::Timeout, 10000, 10000},
        {settings::Timeout, 30001, 30000},
        {settings::Timeout, 2500, 2500},
        {settings::Intervall, 0, 1},
        {settings::Intervall, -5, 1},
        {settings::Intervall, 1000, 999},
        {settings::Stunde, 47, 23},
        {settings::Stunde, -1, 0},
        {settings::Stunde, 0, 0},
        {settings::Minute, 75, 59},
        {settings::Minute, 59, 59},
        {settings::MaxAbweichIntervall, 0, 1},
        {settings::MaxAbweichIntervall, 999, 999},
        {settings::SyncModus, 7, 7}, // no up-down: as stored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting.name) + " " + std::to_string(c.stored));
        EXPECT_EQ(c.setting.ShownPosition(c.stored), c.shown);
        EXPECT_EQ(c.setting.InRange(c.stored), c.stored == c.shown);
    }
}

TEST(SettingsTable, ListPositionsAndTheValuesTheyStandFor) {
    struct Case {
        IntegerSetting setting;
        std::int32_t stored;
        int position;         // -1: no selection
        std::int32_t written; // what the dialog writes back for that position
    };
    const Case cases[] = {
        {settings::Einheit, 1, 0, 1},           {settings::Einheit, 3, 2, 3},
        {settings::Einheit, 0, -1, 0},          {settings::Einheit, 4, -1, 0},
        {settings::MaxAbweichEinheit, 2, 1, 2}, {settings::MaxAbweichEinheit, -7, -1, 0},
        {settings::Wochentag, 0, 0, 0},         {settings::Wochentag, 7, 7, 7},
        {settings::Wochentag, 9, -1, -1},       {settings::Wochentag, -1, -1, -1},
        {settings::Stunde, 5, -1, -1}, // no list at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.setting.name) + " " + std::to_string(c.stored));
        EXPECT_EQ(c.setting.ListPosition(c.stored), c.position);
        if (c.setting.control == IntegerControl::ListItem) {
            EXPECT_EQ(c.setting.ValueOfListPosition(c.position), c.written);
        }
    }
}
