// The profile: the INI parser, the file that is in force, and the copy that
// GetProfileStringA hands back.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/profile_ini.h"
#include "platform/posix/win_api.h"
#include "support/test_env.h"

namespace orv::win {
namespace {

struct IniCase {
    const char *what;
    const char *text;
    const char *section;
    const char *key;
    std::optional<std::string> expected;
};

const IniCase kIniCases[] = {
    {"plain entry", "[Ports]\nCOM1:=9600,n,8,1\n", "Ports", "COM1:", "9600,n,8,1"},
    {"section and key ignore case", "[pOrTs]\ncom1:=9600\n", "PORTS", "Com1:", "9600"},
    {"spaces around names and values go", "  [ Ports ]  \n  COM1:  =  9600,n,8,1  \n", "Ports", "COM1:",
     "9600,n,8,1"},
    {"CRLF line ends", "[Ports]\r\nCOM1:=4800\r\n", "Ports", "COM1:", "4800"},
    {"split at the first equals sign", "[Devices]\nCOM3=/dev/a=b\n", "Devices", "COM3", "/dev/a=b"},
    {"semicolon comment line", "[Ports]\n;COM1:=1200\nCOM1:=2400\n", "Ports", "COM1:", "2400"},
    {"hash comment line, indented", "[Ports]\n   # COM1:=1200\n", "Ports", "COM1:", std::nullopt},
    {"no comment after a value", "[Ports]\nCOM1:=9600 ; fast\n", "Ports", "COM1:", "9600 ; fast"},
    {"first of two keys counts", "[Ports]\nCOM1:=1200\nCOM1:=2400\n", "Ports", "COM1:", "1200"},
    {"key in another section", "[Devices]\nCOM1:=1200\n", "Ports", "COM1:", std::nullopt},
    {"missing section", "COM1:=1200\n[Other]\nx=1\n", "Ports", "COM1:", std::nullopt},
    {"section ends at the next", "[Ports]\n[Devices]\nCOM1:=1200\n", "Ports", "COM1:", std::nullopt},
    {"section met twice", "[Ports]\na=1\n[Devices]\n[Ports]\nCOM1:=300\n", "Ports", "COM1:", "300"},
    {"empty value", "[Ports]\nCOM1:=\n", "Ports", "COM1:", ""},
    {"line without equals ignored", "[Ports]\nCOM1:\nCOM1:=19200\n", "Ports", "COM1:", "19200"},
    {"key colon matters", "[Devices]\nCOM3:=/dev/x\n", "Devices", "COM3", std::nullopt},
    {"last line without newline", "[Ports]\nCOM2:=38400", "Ports", "COM2:", "38400"},
    {"empty text", "", "Ports", "COM1:", std::nullopt},
};

TEST(ProfileParser, FindsValuesByTheFileRules) {
    for (const auto &c : kIniCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FindProfileValue(c.text, c.section, c.key), c.expected);
    }
}

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *name : {"ORVLINK_PROFILE", "XDG_CONFIG_HOME", "HOME"}) {
            const char *v = getenv(name);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
        }
    }
    void TearDown() override {
        const char *names[] = {"ORVLINK_PROFILE", "XDG_CONFIG_HOME", "HOME"};
        for (int i = 0; i < 3; ++i) {
            if (saved_[i])
                setenv(names[i], saved_[i]->c_str(), 1);
            else
                unsetenv(names[i]);
        }
    }
    void writeFile(const std::string &path, const std::string &text) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::trunc) << text;
    }
    std::string read(const char *section, const char *key, const char *def, DWORD size) {
        char buf[64];
        std::memset(buf, '#', sizeof buf);
        DWORD n = GetProfileStringA(section, key, def, buf, size);
        EXPECT_EQ(n, std::strlen(buf));
        EXPECT_LE(n + 1, size);
        return buf;
    }

    test::TestEnv env;
    std::vector<std::optional<std::string>> saved_;
};

TEST_F(ProfileFileTest, CopiesAtMostSizeMinusOneCharacters) {
    env.setLineSettings(1, "19200,e,8,1");
    EXPECT_EQ(read("Ports", "COM1:", "Key Not Found", 64), "19200,e,8,1");
    EXPECT_EQ(read("Ports", "COM1:", "Key Not Found", 6), "19200");
    EXPECT_EQ(read("Ports", "COM1:", "Key Not Found", 1), "");
    EXPECT_EQ(read("Ports", "COM2:", "Key Not Found", 64), "Key Not Found");
    EXPECT_EQ(read("Ports", "COM2:", "Key Not Found", 4), "Key");
    EXPECT_EQ(read("Ports", "COM2:", nullptr, 64), "");
    char untouched = 'x';
    EXPECT_EQ(GetProfileStringA("Ports", "COM1:", "d", &untouched, 0), 0u);
    EXPECT_EQ(untouched, 'x');
}

TEST_F(ProfileFileTest, IsReadAfreshAtEveryCall) {
    env.setLineSettings(4, "1200,n,8,1");
    EXPECT_EQ(read("Ports", "COM4:", "none", 64), "1200,n,8,1");
    env.setLineSettings(4, "2400,o,8,2");
    EXPECT_EQ(read("Ports", "COM4:", "none", 64), "2400,o,8,2");
}

TEST_F(ProfileFileTest, AFileThatCannotBeReadHasNoEntries) {
    setenv("ORVLINK_PROFILE", (env.dir() + "/missing.ini").c_str(), 1);
    EXPECT_EQ(read("Ports", "COM1:", "Key Not Found", 64), "Key Not Found");
    setenv("ORVLINK_PROFILE", env.dir().c_str(), 1);  // a directory
    EXPECT_EQ(read("Ports", "COM1:", "Key Not Found", 64), "Key Not Found");
}

TEST_F(ProfileFileTest, PathComesFromTheVariableThenTheUserThenEtc) {
    std::string config = env.dir() + "/config";
    std::string home = env.dir() + "/home";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("HOME", home.c_str(), 1);

    setenv("ORVLINK_PROFILE", "/somewhere/p.ini", 1);
    EXPECT_EQ(ProfilePath(), "/somewhere/p.ini");

    setenv("ORVLINK_PROFILE", "", 1);  // empty counts as unset
    EXPECT_EQ(ProfilePath(), "/etc/orvlink/profile.ini");  // no user file yet

    writeFile(config + "/orvlink/profile.ini", "[Ports]\nCOM9:=4800,n,8,1\n");
    EXPECT_EQ(ProfilePath(), config + "/orvlink/profile.ini");
    EXPECT_EQ(read("Ports", "COM9:", "none", 64), "4800,n,8,1");

    unsetenv("XDG_CONFIG_HOME");  // then ~/.config
    EXPECT_EQ(ProfilePath(), "/etc/orvlink/profile.ini");
    writeFile(home + "/.config/orvlink/profile.ini", "[Ports]\nCOM9:=1200,n,8,1\n");
    EXPECT_EQ(ProfilePath(), home + "/.config/orvlink/profile.ini");
    EXPECT_EQ(read("Ports", "COM9:", "none", 64), "1200,n,8,1");
}

}  // namespace
}  // namespace orv::win
