#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/DialogTemplateFont.h"

// The system as the dialog font rewrite sees it, set by each test.
struct FakeFonts {
    std::wstring messageFace = L"Segoe UI";
    LONG height = -12;
    int pixelsPerInch = 96;
    std::vector<std::wstring> installed = {L"Segoe UI", L"MS Shell Dlg 2", L"MS Shell Dlg", L"Tahoma"};
    bool metricsFail = false;
    int metricReads = 0;

    DialogFontPlatform Platform() { return {&ReadFont, &PixelsPerInch, &IsInstalled, this}; }

    static int ReadFont(LOGFONTW* font, void* context)
    {
        FakeFonts* self = (FakeFonts*)context;
        ++self->metricReads;
        if (self->metricsFail)
            return 0;
        LOGFONTW result = {};
        result.lfHeight = self->height;
        lstrcpynW(result.lfFaceName, self->messageFace.c_str(), LF_FACESIZE);
        *font = result;
        return 1;
    }
    static int PixelsPerInch(void* context) { return ((FakeFonts*)context)->pixelsPerInch; }
    static int IsInstalled(const wchar_t* face, void* context)
    {
        for (const std::wstring& f : ((FakeFonts*)context)->installed) {
            if (f == face)
                return 1;
        }
        return 0;
    }
};
