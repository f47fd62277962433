#pragma once

#include <windows.h>
#include <wininet.h>

#include "services/LibraryHolder.h"

// The WinINet entry points of the HTTP client, looked up by name at run time
// so that the program starts even where the library is broken or missing.
struct WinInetApi {
    decltype(&::HttpSendRequestW) HttpSendRequestW;
    decltype(&::HttpSendRequestExW) HttpSendRequestExW;
    decltype(&::HttpAddRequestHeadersW) HttpAddRequestHeadersW;
    decltype(&::HttpEndRequestW) HttpEndRequestW;
    decltype(&::InternetGetCookieW) InternetGetCookieW;
    decltype(&::InternetGetCookieExW) InternetGetCookieExW; // optional
    decltype(&::InternetSetCookieW) InternetSetCookieW;
    decltype(&::InternetSetCookieExW) InternetSetCookieExW; // optional
    decltype(&::InternetQueryOptionW) InternetQueryOptionW;
    decltype(&::InternetOpenW) InternetOpenW;
    decltype(&::HttpOpenRequestW) HttpOpenRequestW;
    decltype(&::FtpOpenFileW) FtpOpenFileW;
    decltype(&::InternetSetOptionW) InternetSetOptionW;
    decltype(&::HttpQueryInfoW) HttpQueryInfoW;
    decltype(&::InternetConnectW) InternetConnectW;
    decltype(&::InternetOpenUrlW) InternetOpenUrlW;
    decltype(&::InternetCrackUrlW) InternetCrackUrlW;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetWriteFile) InternetWriteFile;
    decltype(&::InternetErrorDlg) InternetErrorDlg;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
};

// Fills `api` from the loaded `library`. Returns 1 when every entry point is
// there except the two optional cookie functions; otherwise the table is
// cleared and 0 returned.
int BindWinInetApi(const LibraryHolder& library, WinInetApi& api);
