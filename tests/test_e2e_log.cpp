// UNINSTAL.EXE /S run as a child: an invalid log is reported and writes no
// status file; a valid log writes the status file its "Uninstall MIF: "
// line names.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "support/kvtest.h"

namespace {

std::string WindowsFile(const std::string &name)
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    return std::string(win) + "\\" + name;
}

TEST(EndToEndLog, InvalidOrMissingLogIsReportedAndWritesNoStatusFile)
{
    std::string dir = ScratchDir("e2e_bad");
    std::string bad = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(bad, "Title: Orders\r\nUninstall MIF: KVBAD.MIF\r\nCreate Service: S\r\n"));
    DeleteFileA(WindowsFile("KVBAD.MIF").c_str());
    struct Row { const char *name; std::string log; const char *text; };
    const Row rows[] = {{"no *** header", bad, "Invalid INSTALL.LOG file."},
                        {"missing log", dir + "\\NONE.LOG", "Could not open INSTALL.LOG file."}};
    for (const Row &r : rows) {
        ChildRun run = RunChild(UninstallerPath(), "/S " + r.log, {{"", IDOK, ""}});
        ASSERT_TRUE(run.started) << r.name;
        EXPECT_FALSE(run.timedOut) << r.name;
        EXPECT_EQ(0u, run.exitCode) << r.name;
        ASSERT_EQ(1u, run.dialogs.size()) << r.name;
        EXPECT_EQ("Zarn Uninstall", run.dialogs[0].caption) << r.name;
        EXPECT_EQ(r.text, run.dialogs[0].text) << r.name;
        EXPECT_FALSE(PathExists(WindowsFile("KVBAD.MIF"))) << r.name;
    }
}

TEST(EndToEndLog, ValidLogWritesTheStatusFile)
{
    std::string dir = ScratchDir("e2e_good");
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, "***  Installation Log\r\nTitle: Orders Installation\r\n"
                                    "Uninstall MIF: KVE2E.MIF\r\nManufacturer: Zarn Ltd\r\nProduct: Orders\r\n"
                                    "Version Number: 3.0\r\nSerial Number: 42\r\n"
                                    "Create Service: KvNoSuchService\r\n"));
    std::string mif = WindowsFile("KVE2E.MIF");
    DeleteFileA(mif.c_str());
    ChildRun run = RunChild(UninstallerPath(), "/S " + log, {});
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0u, run.dialogs.size());
    bool ok = false;
    std::string text = ReadFileBytes(mif, &ok);
    ASSERT_TRUE(ok) << "no status file";
    // The whole text but the date, which is the time of writing.
    size_t at = text.find("      VALUE = \"", text.find("NAME = \"Uninstall\""));
    ASSERT_NE(std::string::npos, at);
    size_t end = text.find("\"\r\n", at + 15);
    ASSERT_NE(std::string::npos, end);
    std::string date = text.substr(at + 15, end - at - 15);
    EXPECT_TRUE(date.size() >= 13 && date.size() <= 14 && date[2] == '/' && date[5] == '/' && date[8] == ' ') << date;
    std::string want;
    const char *lines[] = {
        "START COMPONENT", "  NAME = \"WORKSTATION\"", "  START GROUP", "    NAME = \"ComponentID\"", "    ID = 1",
        "    CLASS = \"DMTF|ComponentID|1.0\"", "    START ATTRIBUTE", "      NAME = \"Manufacturer\"", "      ID = 1",
        "      ACCESS = READ-ONLY", "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", "      VALUE = \"Zarn Ltd\"",
        "    END ATTRIBUTE", "    START ATTRIBUTE", "      NAME = \"Product\"", "      ID = 2", "      ACCESS = READ-ONLY",
        "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", "      VALUE = \"Orders\"", "    END ATTRIBUTE",
        "    START ATTRIBUTE", "      NAME = \"Version\"", "      ID = 3", "      ACCESS = READ-ONLY",
        "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", "      VALUE = \"3.0\"", "    END ATTRIBUTE",
        "    START ATTRIBUTE", "      NAME = \"Serial Number\"", "      ID = 4", "      ACCESS = READ-ONLY",
        "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", "      VALUE = \"42\"", "    END ATTRIBUTE",
        "    START ATTRIBUTE", "      NAME = \"Uninstall\"", "      ID = 5", "      ACCESS = READ-ONLY",
        "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", nullptr, "    END ATTRIBUTE", "  END GROUP",
        "  START GROUP", "    NAME = \"UninstallStatus\"", "    ID = 2", "    CLASS = \"MICROSOFT|JOBSTATUS|1.0\"",
        "    START ATTRIBUTE", "      NAME = \"Status\"", "      ID = 1", "      ACCESS = READ-ONLY",
        "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", "      VALUE = \"Success\"", "    END ATTRIBUTE",
        "    START ATTRIBUTE", "      NAME = \"Description\"", "      ID = 2", "      ACCESS = READ-ONLY",
        "      STORAGE = SPECIFIC", "      TYPE = STRING(255)", "      VALUE = \"\"", "    END ATTRIBUTE",
        "  END GROUP", "END COMPONENT"};
    static_assert(sizeof lines / sizeof lines[0] == 69, "69 lines");
    for (const char *l : lines)
        want += std::string(l ? l : "      VALUE = \"" + date + "\"") + "\r\n";
    EXPECT_EQ(want, text);
    DeleteFileA(mif.c_str());
}

} // namespace
