// The reader remembers its directory look-ups and skips searches that
// cannot change a result; the inventory must come out the same, byte for
// byte, as a reading without the cache, on random logs that spell paths
// with 8.3 aliases, mixed case and parts that do not exist.
// KV_CACHE_COUNT (default 50) sets how many logs; scripts/safety-long.sh
// reads many more.
#include "test_logread_util.h"
#include "base/paths.h"
#include <stdlib.h>
#include <string.h>

namespace {

using Rng = TestRng;

std::string Dump(const char *root)
{
    std::vector<std::string> lines;
    DumpInventory(CollectLine, &lines);
    return Joined(lines) + "root " + root + "\n";
}

// One spelling of a path of the tree: each existing component long, short
// or in another case; sometimes a part that does not exist.
std::string Spell(Rng &rng, const std::vector<std::string> &parts)
{
    std::string path = "C:";
    std::string longSoFar = "C:";
    for (const std::string &p : parts) {
        longSoFar += "\\" + p;
        std::string shortName = ShortOf(longSoFar);
        std::string name = p;
        switch (rng.Below(3)) {
        case 0:
            if (!shortName.empty())
                name = shortName.substr(shortName.rfind('\\') + 1);
            break;
        case 1:
            for (char &c : name)
                c = (char)(rng.Below(2) ? toupper((unsigned char)c) : tolower((unsigned char)c));
            break;
        }
        path += "\\" + name;
    }
    if (rng.Below(5) == 0)
        path += "\\Not There " + std::to_string(rng.Below(3));
    return path;
}

TEST(LogReadCache, InventoryIsTheSameWithAndWithoutTheCache)
{
    ResetInventory();
    std::string top = ScratchDir("cache Long Folder");
    const std::vector<std::vector<std::string>> dirs = {
        {"kvtest", "cache Long Folder"},
        {"kvtest", "cache Long Folder", "Program Data"},
        {"kvtest", "cache Long Folder", "Program Data", "Deep Inside Sub"},
        {"kvtest", "cache Long Folder", "second one"},
    };
    for (size_t i = 1; i < dirs.size(); i++) {
        std::string d = "C:";
        for (const std::string &p : dirs[i])
            d += "\\" + p;
        CreateDirectoryA(d.c_str(), NULL);
    }
    const std::vector<std::string> files = {"Application File.exe", "short.dll", "Another Library.dll"};
    for (const auto &d : dirs) {
        std::string p = "C:";
        for (const std::string &c : d)
            p += "\\" + c;
        for (const std::string &f : files)
            WriteFileBytes(p + "\\" + f, "x");
    }

    Rng rng{0x5EEDull};
    int compared = 0;
    const char *countText = getenv("KV_CACHE_COUNT");
    const int count = countText && atoi(countText) > 0 ? atoi(countText) : 50;
    for (int n = 0; n < count; n++) {
        std::string body;
        int lines = 5 + (int)rng.Below(25);
        for (int i = 0; i < lines; i++) {
            std::vector<std::string> d = dirs[rng.Below((unsigned)dirs.size())];
            switch (rng.Below(4)) {
            case 0:
                body += "Made Dir: " + Spell(rng, d) + "\r\n";
                break;
            case 1:
                d.push_back(files[rng.Below((unsigned)files.size())]);
                body += "File Copy: " + Spell(rng, d) + "\r\n";
                break;
            case 2:
                d.push_back(files[rng.Below((unsigned)files.size())]);
                body += "Self-Register: " + Spell(rng, d) + "\r\n";
                break;
            default:
                body += "File Tree: " + Spell(rng, d) + "\r\n";
                break;
            }
        }
        // The log lies deep, so that made directories cut the install root.
        std::string logDir = "C:";
        for (const std::string &p : dirs[2 + rng.Below(2)])
            logDir += "\\" + p;
        std::string log = LogWith(body);
        std::string results[2];
        for (int off = 0; off < 2; off++) {
            LookupCacheOff = off;
            ResetInventory();
            char root[PATH_CAP];
            ASSERT_TRUE(WriteFileBytes(logDir + "\\INSTALL.LOG", log));
            ASSERT_EQ(0, ReadLogAt(logDir + "\\INSTALL.LOG", nullptr, root));
            results[off] = Dump(root);
        }
        LookupCacheOff = 0;
        EXPECT_EQ(results[1], results[0]) << "log " << n << ":\n" << log;
        compared += results[0] == results[1];
    }
    EXPECT_EQ(count, compared);
    FreeInventory();
    ASSERT_EQ(0, CreateInventory());
    RemoveTreeForTest(top);
}

} // namespace
