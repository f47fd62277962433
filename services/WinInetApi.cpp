#include "services/WinInetApi.h"

#include <string.h>

namespace {

struct EntryPoint {
    const char* name;
    FARPROC* slot;
    bool required;
};

} // namespace

int BindWinInetApi(const LibraryHolder& library, WinInetApi& api)
{
    const EntryPoint entries[] = {
        {"HttpSendRequestW", (FARPROC*)&api.HttpSendRequestW, true},
        {"HttpSendRequestExW", (FARPROC*)&api.HttpSendRequestExW, true},
        {"HttpAddRequestHeadersW", (FARPROC*)&api.HttpAddRequestHeadersW, true},
        {"HttpEndRequestW", (FARPROC*)&api.HttpEndRequestW, true},
        {"InternetGetCookieW", (FARPROC*)&api.InternetGetCookieW, true},
        {"InternetGetCookieExW", (FARPROC*)&api.InternetGetCookieExW, false},
        {"InternetSetCookieW", (FARPROC*)&api.InternetSetCookieW, true},
        {"InternetSetCookieExW", (FARPROC*)&api.InternetSetCookieExW, false},
        {"InternetQueryOptionW", (FARPROC*)&api.InternetQueryOptionW, true},
        {"InternetOpenW", (FARPROC*)&api.InternetOpenW, true},
        {"HttpOpenRequestW", (FARPROC*)&api.HttpOpenRequestW, true},
        {"FtpOpenFileW", (FARPROC*)&api.FtpOpenFileW, true},
        {"InternetSetOptionW", (FARPROC*)&api.InternetSetOptionW, true},
        {"HttpQueryInfoW", (FARPROC*)&api.HttpQueryInfoW, true},
        {"InternetConnectW", (FARPROC*)&api.InternetConnectW, true},
        {"InternetOpenUrlW", (FARPROC*)&api.InternetOpenUrlW, true},
        {"InternetCrackUrlW", (FARPROC*)&api.InternetCrackUrlW, true},
        {"InternetReadFile", (FARPROC*)&api.InternetReadFile, true},
        {"InternetWriteFile", (FARPROC*)&api.InternetWriteFile, true},
        {"InternetErrorDlg", (FARPROC*)&api.InternetErrorDlg, true},
        {"InternetCloseHandle", (FARPROC*)&api.InternetCloseHandle, true},
    };
    for (const EntryPoint& entry : entries) {
        *entry.slot = library.Lookup(entry.name);
        if (!*entry.slot && entry.required) {
            memset(&api, 0, sizeof api);
            return 0;
        }
    }
    return 1;
}
