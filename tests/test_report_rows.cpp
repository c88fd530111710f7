// The report's rows against its last line: each outcome counted once and as
// the rows show it, LEFT= as many as the #LEFT lines, the installation
// column only a block of the log, a later row of the same thing taking an
// earlier one off #LEFT, and a folder gone by the end shown as done.
#include <gtest/gtest.h>
#include <map>
#include <string.h>
#include <string>
#include "base/rows.h"
#include "base/state.h"
#include "log/inventory.h"
#include "report/report.h"
#include "support/kvtest.h"
#include "support/machine.h"

namespace {

class ReportRows : public ::testing::Test {
protected:
    std::string dir, out, settings;
    void SetUp() override
    {
        dir = ScratchDir("report_rows");
        out = dir + "\\rows.rpt";
        settings = dir + "\\UNINSTAL.INI";
        strcpy(SettingsPath, settings.c_str());
        WritePrivateProfileStringA("Settings", "Report File", out.c_str(), settings.c_str());
        WritePrivateProfileStringA(NULL, NULL, NULL, settings.c_str());
        RowsWanted = 1;
        InstallCount = 3;
        Preview = Rollback = WorkLeft = DeletingSelf = 0;
        MifFileName[0] = 0;
        FreeRows();
    }
    void TearDown() override
    {
        FreeRows();
        RowsWanted = Preview = 0;
        SettingsPath[0] = 0;
    }
    Report Write()
    {
        RunEnd end = {1, 0, 0};
        EXPECT_EQ(0, WriteReport(&end));
        return ReadReport(out);
    }
};

// "NAME=n" fields of the last line, in order, the result word left out.
std::vector<std::pair<std::string, std::string>> Counts(const std::string &result)
{
    std::vector<std::pair<std::string, std::string>> counts;
    size_t p = result.find('\t');
    while (p != std::string::npos) {
        size_t next = result.find('\t', p + 1);
        std::string field = result.substr(p + 1, next == std::string::npos ? std::string::npos : next - p - 1);
        size_t eq = field.find('=');
        counts.push_back({field.substr(0, eq), eq == std::string::npos ? "" : field.substr(eq + 1)});
        p = next;
    }
    return counts;
}

// Rows of every outcome, a few of each, some of them left in place.
void AddEveryOutcome(const std::string &dir)
{
    const char *const outcomes[] = {OUT_DONE, OUT_KEPT, OUT_STAGED, OUT_FAILED, OUT_SKIPPED, OUT_REFUSED};
    for (int n = 0; n < 6; n++)
        for (int k = 0; k <= n; k++) {
            std::string target = "HKLM\\Software\\KvRows\\" + std::to_string(n) + "_" + std::to_string(k);
            AddRow("REGVALUE", 1, target.c_str(), ACT_RESTORE_VALUE, outcomes[n],
                   n == 4 && k == 0 ? "NOT-SELECTED" : n == 4 ? "ALREADY-GONE" : "", "V");
        }
    // A file kept that is there, and one kept that is gone by the end.
    MakeFile(dir + "\\there.dll", "x");
    AddRow("FILE", 2, (dir + "\\there.dll").c_str(), ACT_NONE, OUT_KEPT, "SHARED 2->1", NULL);
    AddRow("FILE", 2, (dir + "\\gone.dll").c_str(), ACT_NONE, OUT_KEPT, "SHARED 2->1", NULL);
}

TEST_F(ReportRows, EachCountOnceEqualToItsRowsInBothModes)
{
    struct Mode {
        int preview;
        std::vector<std::string> names;
    } modes[] = {
        {0, {"DONE", "KEPT", "STAGED", "FAILED", "SKIPPED", "REFUSED", "LEFT"}},
        {1, {"WOULD-DO", "WOULD-KEEP", "WOULD-STAGE", "SKIPPED", "REFUSED", "LEFT"}},
    };
    for (const Mode &m : modes) {
        FreeRows();
        Preview = m.preview;
        AddEveryOutcome(dir);
        Report r = Write();
        auto counts = Counts(r.result);
        std::vector<std::string> names;
        for (const auto &c : counts)
            names.push_back(c.first);
        EXPECT_EQ(m.names, names) << r.result;
        std::map<std::string, int> rows;
        for (const auto &row : r.rows)
            rows[row[5]]++;
        for (const auto &c : counts) {
            int want = c.first == "LEFT" ? (int)r.left.size() : rows[c.first];
            EXPECT_EQ(std::to_string(want), c.second) << c.first << " in " << r.result;
        }
        // Every shown outcome is counted.
        int counted = 0;
        for (const auto &c : counts)
            if (c.first != "LEFT")
                counted += atoi(c.second.c_str());
        EXPECT_EQ((int)r.rows.size(), counted) << r.result;
        // Kept 2, staged 3, failed 4, the one skipped but not gone, refused
        // 6, and the file still there.
        EXPECT_EQ(17u, r.left.size()) << "preview " << m.preview;
    }
}

TEST_F(ReportRows, InstallationColumnIsABlockOfTheLogOrADash)
{
    struct Case {
        unsigned short no;
        const char *shown;
    } cases[] = {
        {1, "1"}, {3, "3"}, {0, "-"}, {4, "-"}, {LOG_DIR_INSTALL, "-"}, {65535, "-"},
    };
    for (const Case &c : cases)
        AddRow("DIR", c.no, (dir + "\\d" + std::to_string(c.no)).c_str(), ACT_DELETE, OUT_SKIPPED, "ALREADY-GONE",
               NULL);
    Report r = Write();
    ASSERT_EQ(sizeof cases / sizeof *cases, r.rows.size());
    for (size_t i = 0; i < r.rows.size(); i++)
        EXPECT_EQ(cases[i].shown, r.rows[i][1]) << cases[i].no;
}

TEST_F(ReportRows, ALaterRowOfTheSameThingTakesAnEarlierOneOffLeft)
{
    struct Case {
        const char *kind, *target, *detail, *laterKind, *laterTarget, *laterDetail;
        bool left;
    } cases[] = {
        {"REGVALUE", "HKCU\\Software\\A", "V", "REGVALUE", "HKCU\\SOFTWARE\\a", "V", false},
        {"REGVALUE", "HKCU\\Software\\B", "V", "REGVALUE", "HKCU\\Software\\B", "W", true},
        {"REGVALUE", "HKCU\\Software\\C", "V", "REGKEY", "HKCU\\Software\\C", "V", true},
        {"SERVICE", "KvOne", "", "SERVICE", "KvOne", "", false},
        {"SERVICE", "KvTwo", "", "SERVICE", "KvTwoo", "", true},
    };
    for (const Case &c : cases) {
        FreeRows();
        AddRow(c.kind, 1, c.target, ACT_RESTORE_VALUE, OUT_FAILED, "ERROR=5", c.detail);
        // Rows of other things between them, many enough to fill a table.
        for (int i = 0; i < 300; i++)
            AddRow("INI", 1, ("C:\\x" + std::to_string(i) + ".ini").c_str(), ACT_DELETE_VALUE, OUT_DONE, NULL, "[S] I");
        AddRow(c.laterKind, 1, c.laterTarget, ACT_RESTORE_VALUE, OUT_DONE, NULL, c.laterDetail);
        Report r = Write();
        bool listed = false;
        for (const auto &row : r.left)
            listed |= row[1] == c.target;
        EXPECT_EQ(c.left, listed) << c.kind << " " << c.target << " then " << c.laterKind << " " << c.laterTarget;
    }
    // The later row is the one #LEFT shows.
    FreeRows();
    AddRow("REGVALUE", 1, "HKCU\\Software\\D", ACT_RESTORE_VALUE, OUT_DONE, NULL, "V");
    AddRow("REGVALUE", 2, "HKCU\\Software\\D", ACT_RESTORE_VALUE, OUT_FAILED, "ERROR=5", "V");
    Report r = Write();
    ASSERT_EQ(1u, r.left.size());
    EXPECT_EQ("FAILED", r.left[0][2]);
}

// A folder that was not empty when its turn came but is gone by the end
// (it went with the log) is shown as deleted and is not left; one that is
// still there stays kept and left.
TEST_F(ReportRows, AFolderGoneByTheEndShowsAsDone)
{
    std::string kept = dir + "\\kept", went = dir + "\\went";
    MakeFile(kept + "\\user.doc", "the user's");
    for (int preview = 0; preview < 2; preview++) {
        FreeRows();
        Preview = preview;
        AddRow("DIR", 1, kept.c_str(), ACT_DELETE, OUT_KEPT, "NOT-EMPTY", NULL);
        AddRow("DIR", LOG_DIR_INSTALL, went.c_str(), ACT_DELETE, OUT_KEPT, "NOT-EMPTY", NULL);
        AddRow("TREE", 1, (went + "\\sub").c_str(), ACT_DELETE, OUT_FAILED, "NOT-EMPTY", NULL);
        Report r = Write();
        ASSERT_EQ(3u, r.rows.size());
        EXPECT_EQ(preview ? "WOULD-KEEP" : "KEPT", r.rows[0][5]);
        EXPECT_EQ("NOT-EMPTY", r.rows[0][6]);
        for (int i = 1; i < 3; i++) {
            EXPECT_EQ(preview ? "WOULD-DO" : "DONE", r.rows[i][5]) << i;
            EXPECT_EQ("", r.rows[i][6]) << i;
        }
        ASSERT_EQ(1u, r.left.size());
        EXPECT_EQ(kept, r.left[0][1]);
        EXPECT_NE(std::string::npos, r.result.find(preview ? "\tWOULD-DO=2\t" : "\tDONE=2\t")) << r.result;
    }
}

} // namespace
