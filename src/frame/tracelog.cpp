#include "frame/tracelog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char kLogName[] = QUARROW_PATH_SEP "quarrow log.txt";

char g_szLogPath[MAX_PATH + 1];
std::atomic<int> g_bEnabled{0};
std::atomic<bool> g_bOpen{false};
CRITICAL_SECTION g_csLog;  // guards the level, the line buffer and the file; innermost lock
int g_nMessageLevel;
char g_szLine[TraceLog::kLineBufferSize];

// The host's folder plus the log name, or an empty path when either does not
// fit: a cut path would name some other file.
void BuildLogPath() {
    char folder[MAX_PATH + 1];
    g_szLogPath[0] = '\0';
    const DWORD cch = GetModuleFileNameA(nullptr, folder, sizeof(folder));
    if (cch == 0 || cch >= sizeof(folder)) return;
    PathRemoveFileSpecA(folder);
    const size_t cchFolder = strlen(folder);
    if (cchFolder + sizeof(kLogName) > sizeof(g_szLogPath)) return;
    memcpy(g_szLogPath, folder, cchFolder);
    memcpy(g_szLogPath + cchFolder, kLogName, sizeof(kLogName));
}

}  // namespace

namespace TraceLog {

void Open() {
    if (!g_bOpen.load()) InitializeCriticalSection(&g_csLog);
    EnterCriticalSection(&g_csLog);
    BuildLogPath();
    if (g_szLogPath[0] != '\0') {
        // Empties the log whether or not logging is on.
        if (FILE* f = fopen(g_szLogPath, "wb")) fclose(f);
    }
    LeaveCriticalSection(&g_csLog);
    g_bOpen.store(true);
}

void SetEnabled(int enabled) { g_bEnabled.store(enabled ? 1 : 0); }

void Write(int level, const char* format, ...) {
    if (!g_bOpen.load()) return;
    EnterCriticalSection(&g_csLog);
    g_nMessageLevel = level;

    // Room is kept for CR LF and the NUL; a longer message is cut.
    const int cchMaxText = kLineBufferSize - 3;
    va_list args;
    va_start(args, format);
    int cch = vsnprintf(g_szLine, cchMaxText + 1, format, args);
    va_end(args);
    if (cch < 0) {
        // Runtimes without C99 truncation report a cut message this way.
        g_szLine[cchMaxText] = '\0';
        cch = static_cast<int>(strlen(g_szLine));
    }
    if (cch > cchMaxText) cch = cchMaxText;
    g_szLine[cch] = '\r';
    g_szLine[cch + 1] = '\n';
    g_szLine[cch + 2] = '\0';

    if (g_nMessageLevel != 0 && g_bEnabled.load() && g_szLogPath[0] != '\0') {
        // Written verbatim: the formatted text is never a format again.
        if (FILE* f = fopen(g_szLogPath, "ab")) {
            fwrite(g_szLine, 1, static_cast<size_t>(cch) + 2, f);
            fclose(f);
        }
    }
    LeaveCriticalSection(&g_csLog);
}

void Close() {
    if (!g_bOpen.exchange(false)) return;
    DeleteCriticalSection(&g_csLog);
}

const char* Path() { return g_szLogPath; }

}  // namespace TraceLog
