// Kill runs: the silent uninstall and the silent rollback of a product of a
// few hundred files (made folders, a copied tree, backups, registry values
// with old data, INI items, a device line) are killed at random moments and
// run again. The machine must then be exactly as after an uninterrupted run:
// files and their content, registry, INI files, SYSTEM.INI, the status file.
// KV_KILL_COUNT (default 3 per mode) and KV_KILL_SEED choose the run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include "support/killproduct.h"
#include "support/kvtest.h"

namespace {

// Kills the run with these options at a few moments; each killed run, run
// again, must leave the machine as the uninterrupted run does.
void KillAndCompare(const char *options, unsigned long long seed)
{
    KillProduct p = KillProductAt("C:\\KVKILL");
    std::string bin = ScratchDir("killrun_bin");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    const char *countText = getenv("KV_KILL_COUNT"), *seedText = getenv("KV_KILL_SEED");
    int count = countText && atoi(countText) > 0 ? atoi(countText) : 3;
    if (seedText && strtoull(seedText, NULL, 10))
        seed += strtoull(seedText, NULL, 10);   // the modes keep distinct moments
    int differences = 0, moments = 0;
    std::string log = InstallKillProduct(p);
    std::string installed = KillSnapshot(p);
    DWORD whole = RunWhole(program, std::string(options) + " " + log);
    std::string reference = KillSnapshot(p);
    ASSERT_NE(installed, reference) << options << ": the run changed nothing";
    for (int k = 0; k < count; k++) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        DWORD at = (DWORD)((seed >> 33) % (whole + 1));
        log = InstallKillProduct(p);
        std::string logText = ReadFileBytes(log);
        RunAndKill(program, std::string(options) + " " + log, at);
        // Run again while the log still records work; a log that is gone
        // (or already cut to the earlier installation) means the job was
        // done before the kill, and running again has nothing to finish.
        bool ok = false;
        if (ReadFileBytes(log, &ok) == logText && ok)
            RunWhole(program, std::string(options) + " " + log);
        std::string after = KillSnapshot(p);
        moments++;
        if (after != reference && ++differences <= 3)
            ADD_FAILURE() << options << " killed at " << at << " of " << whole << " ms:\n"
                          << SnapshotDiff(after, reference);
    }
    printf("kill: %s, %d moments, %d differences, run %lu ms\n", options, moments, differences,
           (unsigned long)whole);
    EXPECT_EQ(0, differences);
    RemoveKillProduct(p);
}

// The two modes are separate cases so that the test command can run them at
// the same time, each in a machine of its own.
TEST(KillRun, AKilledUninstallRunAgainEndsAsAnUninterruptedOne)
{
    KillAndCompare("/S", 77);
}

TEST(KillRun, AKilledRollbackRunAgainEndsAsAnUninterruptedOne)
{
    KillAndCompare("/S /R", 78);
}

} // namespace
