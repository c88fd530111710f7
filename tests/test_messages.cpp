// Message texts: the built-in table and overrides from the settings file
// beside the program.
#include <gtest/gtest.h>
#include <string.h>
#include "kvtest.h"
#include "app/runflow.h"
#include "base/state.h"
#include "ui/messages.h"

namespace {

const char *const Expected[] = {
#include "message_texts.inc"
};

class Messages : public testing::Test {
protected:
    void SetUp() override
    {
        FindProgramPaths();     // SettingsPath = this program with "INI"
        DeleteFileA(SettingsPath);
    }
    void TearDown() override
    {
        DeleteFileA(SettingsPath);
        SettingsPath[0] = 0;
    }
    void Override(const char *key, const char *value)
    {
        ASSERT_TRUE(WritePrivateProfileStringA("Language", key, value, SettingsPath));
    }
    static std::string Load(int n, size_t cap)
    {
        std::vector<char> buf(cap + 8, '#');
        LoadMessage(n, buf.data(), cap);
        for (size_t i = cap; i < cap + 8; i++)
            EXPECT_EQ('#', buf[i]) << "message " << n << " wrote past capacity " << cap;
        return buf.data();
    }
};

TEST_F(Messages, BuiltInTableByteForByte)
{
    ASSERT_EQ(69u, sizeof Expected / sizeof Expected[0]);
    for (int n = 1; n <= 69; n++)
        EXPECT_EQ(std::string(Expected[n - 1]), Load(n, 1024)) << "message " << n;
    // Line ends are exactly as stored: a lone LF in 7, CR LF in the prefixes.
    EXPECT_EQ(std::string("Removing File:\r\n"), Load(29, 64));
    EXPECT_NE(std::string::npos, Load(7, 1024).find("program.\n\nYou"));
    EXPECT_EQ(std::string::npos, Load(7, 1024).find('\r'));
    EXPECT_EQ("Are you sure you want to cancel the uninstall?", Load(59, 256));
}

TEST_F(Messages, OverridesFromTheSettingsFile)
{
    Override("Msg25", "Deinstallation");
    Override("Msg22", "Press Finish.|Press Back to change options.");
    Override("Msg46", "");
    Override("Msg10", "\x7f");                       // a lone DEL counts as absent
    Override("Msg12", "A\\nB");                      // no escapes besides "|"
    Override("Msg29", std::string(80, 'p').c_str());
    Override("Msg5", "|a|");
    struct Row { int n; size_t cap; std::string want; };
    const Row rows[] = {
        {25, 256, "Deinstallation"},
        {22, 1024, "Press Finish.\r\nPress Back to change options."},
        {46, 1024, ""},
        {10, 1024, Expected[9]},
        {12, 256, "A\\nB"},
        {29, 64, std::string(63, 'p')},
        {5, 256, "\r\na\r\n"},
        // The expanded text stays within the capacity; a break that no
        // longer fits whole is dropped rather than cut in two.
        {5, 6, "\r\na\r\n"},
        {5, 5, "\r\na"},
        {5, 3, "\r\n"},
        {5, 2, ""},
        {5, 1, ""},
        {26, 256, Expected[25]},                     // others keep their texts
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.want, Load(r.n, r.cap)) << "message " << r.n << " cap " << r.cap;
}

TEST_F(Messages, BuiltInTextCutToCapacity)
{
    EXPECT_EQ("Install", Load(1, 8));
    EXPECT_EQ(std::string(Expected[6]).substr(0, 9), Load(7, 10));
}

} // namespace
