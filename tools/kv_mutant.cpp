// A stand-in for UNINSTAL.EXE that shows whether the end-to-end tests look
// at the machine: with KV_MUTANT=delete it deletes every path its log names,
// the log and the log's folder; otherwise it does nothing. Either way it
// exits 0 and, when KV_MUTANT_RAN names a file, appends a line to it so the
// check script knows a test started it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static void DeleteTree(const std::string &path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attr & FILE_ATTRIBUTE_DIRECTORY) || (attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!DeleteFileA(path.c_str()))
            RemoveDirectoryA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
                DeleteTree(path + "\\" + fd.cFileName);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

// The log path: the first word after the options, else INSTALL.LOG beside us.
static std::string LogPath()
{
    const char *p = GetCommandLineA();
    bool quoted = *p == '"';
    for (p += quoted; *p && (quoted ? *p != '"' : *p != ' '); p++)
        ;
    if (*p == '"')
        p++;
    for (;;) {
        while (*p == ' ')
            p++;
        if (*p != '/')
            break;
        while (*p && *p != ' ')
            p++;
    }
    std::string log;
    while (*p && *p != ' ')
        log += *p++;
    if (log.empty()) {
        char self[MAX_PATH];
        DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
        log.assign(self, n < sizeof self ? n : 0);
        size_t slash = log.rfind('\\');
        log = (slash == std::string::npos ? std::string() : log.substr(0, slash + 1)) + "INSTALL.LOG";
    }
    return log;
}

static void DeleteEverything(const std::string &log)
{
    FILE *f = fopen(log.c_str(), "rb");
    if (f) {
        char line[2048];
        while (fgets(line, sizeof line, f)) {
            line[strcspn(line, "\r\n")] = 0;
            // "Label: C:\path" (any trailing ", more" dropped).
            char *v = strstr(line, ": ");
            if (!v)
                continue;
            v += 2;
            if (!(((v[0] | 32) >= 'a' && (v[0] | 32) <= 'z') && v[1] == ':' && v[2] == '\\'))
                continue;
            std::string path = v;
            size_t comma = path.find(", ");
            if (comma != std::string::npos)
                path.resize(comma);
            DeleteTree(path);
        }
        fclose(f);
    }
    DeleteFileA(log.c_str());
    size_t slash = log.rfind('\\');
    if (slash != std::string::npos && slash > 2)
        DeleteTree(log.substr(0, slash));
}

int main()
{
    const char *ran = getenv("KV_MUTANT_RAN");
    if (ran && *ran) {
        FILE *f = fopen(ran, "a");
        if (f) {
            fprintf(f, "%s\n", GetCommandLineA());
            fclose(f);
        }
    }
    const char *mode = getenv("KV_MUTANT");
    if (mode && !strcmp(mode, "delete"))
        DeleteEverything(LogPath());
    return 0;
}
