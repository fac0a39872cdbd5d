#include "framework/Exception.h"
#include "framework/Registry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace kairelon;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

class RegistryTest : public ::testing::Test {
protected:
    test::IsolatedHome home;
    std::string userFile = home.RegistryDir() + "/user.reg";
    TRegistry reg;
};

TEST_F(RegistryTest, OpensKeysRelativeOrFromTheRootAndCreatesOnlyWhenAsked) {
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
    EXPECT_FALSE(reg.HasOpenKey());
    EXPECT_FALSE(reg.OpenKey("Software\\Quarnel Developments\\Kairel", false));
    EXPECT_TRUE(reg.OpenKey("Software\\Quarnel Developments\\Kairel", true));
    EXPECT_EQ(reg.CurrentPath(), "Software\\Quarnel Developments\\Kairel");
    EXPECT_TRUE(reg.OpenKey("Sub", true)); // below the open key
    EXPECT_EQ(reg.CurrentPath(), "Software\\Quarnel Developments\\Kairel\\Sub");
    EXPECT_TRUE(reg.OpenKey("\\software\\QUARNEL developments", false)); // from the root, any case
    EXPECT_EQ(reg.CurrentPath(), "software\\QUARNEL developments");
    reg.CloseKey();
    EXPECT_FALSE(reg.HasOpenKey());
    EXPECT_TRUE(reg.KeyExists("Software\\Quarnel Developments\\Kairel\\sub"));
    EXPECT_FALSE(reg.KeyExists("Software\\Other"));

    std::string text = ReadFile(userFile);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel]"),
              std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Quarnel Developments\\Kairel\\Sub]"),
              std::string::npos);

    // Roots without a store cannot be opened.
    reg.SetRootKey(0x80000000u);
    EXPECT_FALSE(reg.OpenKey("Software", true));
}

TEST_F(RegistryTest, TypedValuesRoundTripAndRaiseOnMissingOrOtherType) {
    ASSERT_TRUE(reg.OpenKey("Software\\K", true));
    reg.WriteInteger("Int", -5);
    reg.WriteString("Str", "Grüße \"quoted\" C:\\path");
    reg.WriteBool("Bool", true);
    reg.WriteDateTime("When", 46000.75);
    const std::uint8_t bytes[3] = {1, 2, 255};
    reg.WriteBinaryData("Bin", bytes, 3);

    EXPECT_EQ(reg.ReadInteger("int"), -5);
    EXPECT_EQ(reg.ReadString("STR"), "Grüße \"quoted\" C:\\path");
    EXPECT_TRUE(reg.ReadBool("Bool"));
    EXPECT_EQ(reg.ReadDateTime("When"), 46000.75);
    EXPECT_EQ(reg.GetDataType("When"), REG_BINARY);
    EXPECT_EQ(reg.GetDataSize("When"), 8);
    std::uint8_t out[8] = {};
    EXPECT_EQ(reg.ReadBinaryData("Bin", out, 8), 3);
    EXPECT_EQ(out[2], 255);
    EXPECT_THROW(reg.ReadBinaryData("Bin", out, 2), ERegistryException); // buffer too small

    EXPECT_THROW(reg.ReadInteger("Missing"), ERegistryException);
    EXPECT_THROW(reg.ReadInteger("Str"), ERegistryException);
    EXPECT_THROW(reg.ReadString("Int"), ERegistryException);
    EXPECT_THROW(reg.ReadBool("Str"), ERegistryException);
    EXPECT_THROW(reg.ReadDateTime("Bin"), ERegistryException); // binary, but not 8 bytes
    EXPECT_THROW(reg.ReadDateTime("Int"), ERegistryException);

    std::string text = ReadFile(userFile);
    EXPECT_NE(text.find("\"Int\"=dword:fffffffb\n"), std::string::npos);
    EXPECT_NE(text.find("\"Bool\"=dword:00000001\n"), std::string::npos);
    EXPECT_NE(text.find("\"Bin\"=hex:01,02,ff\n"), std::string::npos);

    EXPECT_TRUE(reg.DeleteValue("int"));
    EXPECT_FALSE(reg.ValueExists("Int"));
}

TEST_F(RegistryTest, WithoutAnOpenKeyNothingIsReadOrWritten) {
    EXPECT_FALSE(reg.ValueExists("X"));
    EXPECT_THROW(reg.ReadInteger("X"), ERegistryException);
    EXPECT_THROW(reg.WriteInteger("X", 1), ERegistryException);
    EXPECT_EQ(ReadFile(userFile), "");
}

TEST_F(RegistryTest, TheTwoRootsAreTwoFiles) {
    TRegistry machine;
    machine.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.OpenKey("Software\\K", true));
    machine.WriteInteger("Where", 2);
    ASSERT_TRUE(reg.OpenKey("Software\\K", true));
    EXPECT_FALSE(reg.ValueExists("Where"));
    EXPECT_NE(ReadFile(home.RegistryDir() + "/system.reg")
                  .find("[HKEY_LOCAL_MACHINE\\Software\\K]\n\"Where\"=dword:00000002"),
              std::string::npos);
}

TEST_F(RegistryTest, AStoreThatCannotBeReadRaisesOnPlainReadsAndWrites) {
    ASSERT_TRUE(reg.OpenKey("Software\\K", true));
    reg.WriteInteger("A", 1);
    std::filesystem::remove(userFile);
    std::filesystem::create_directory(userFile);
    EXPECT_FALSE(reg.ValueExists("A"));
    EXPECT_THROW(reg.ReadInteger("A"), ERegistryException);
    EXPECT_THROW(reg.WriteInteger("A", 2), ERegistryException);
    TRegistry other;
    EXPECT_FALSE(other.OpenKey("Software\\K", true));
}
