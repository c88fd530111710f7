// Links and aliases under Wine for the tests: a Unix symbolic link made by
// running /bin/ln (Wine starts Unix programs; the process handle ends before
// the program does, so the result is waited for), and a UNC alias of drive C:
// through the prefix's dosdevices\unc folder.
#pragma once
#include <windows.h>
#include <string>

// Waits up to 5 s for path to answer; whether it does.
inline bool WaitForPath(const std::string &path)
{
    for (int i = 0; i < 50; i++) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(100);
    }
    return false;
}

inline bool RunUnixLn(const std::string &target, const std::string &link, const std::string &dir)
{
    std::string cmd = "Z:\\bin\\ln -s " + target + " " + link;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, dir.c_str(), &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

// A symbolic link at link (a "C:\..." path without blanks) to target (also on
// C:, an existing folder). Whether the link now answers as a link.
inline bool MakeFolderLink(const std::string &link, const std::string &target)
{
    size_t slash = link.rfind('\\');
    std::string dir = link.substr(0, slash), name = link.substr(slash + 1);
    // Relative target: up from the link's folder to the drive, then down.
    std::string rel;
    for (size_t at = 2; (at = dir.find('\\', at)) != std::string::npos; at++)
        rel += "../";
    std::string down = target.substr(3);
    for (char &c : down)
        if (c == '\\')
            c = '/';
    if (!RunUnixLn(rel + down, name, dir) || !WaitForPath(link))
        return false;
    return (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Removes a link made by MakeFolderLink (the link only, by /bin/rm).
inline void RemoveFolderLink(const std::string &link)
{
    size_t slash = link.rfind('\\');
    std::string cmd = "Z:\\bin\\rm -f " + link.substr(slash + 1);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, link.substr(0, slash).c_str(), &si, &pi))
        return;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (int i = 0; i < 50 && GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES; i++)
        Sleep(100);
}

// Makes \\localhost\c$ the prefix's drive C:; whether \\localhost\c$\windows
// answers.
inline bool MakeUncAlias()
{
    char prefix[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (n == 0 || n >= sizeof prefix || prefix[0] != '/')
        return false;
    std::string dir = std::string("Z:") + prefix + "/dosdevices/unc";
    for (char &c : dir)
        if (c == '/')
            c = '\\';
    CreateDirectoryA(dir.c_str(), NULL);
    dir += "\\localhost";
    CreateDirectoryA(dir.c_str(), NULL);
    if (GetFileAttributesA((dir + "\\c$").c_str()) == INVALID_FILE_ATTRIBUTES)
        RunUnixLn("../../../drive_c", "c$", dir);
    return WaitForPath("\\\\localhost\\c$\\windows");
}
