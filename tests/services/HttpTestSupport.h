#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/LoopbackServer.h"
#include "services/HttpClient.h"

// Records which callback codes an operation asked, answers each with the
// configured value (1 unless told otherwise) and lets a test look at the
// value passed.
struct CallbackRecorder {
    std::vector<int> codes;
    std::map<int, int> answers;
    std::function<void(int code, void* value)> inspect;

    static int Callback(int code, void* value, void* data)
    {
        CallbackRecorder* self = (CallbackRecorder*)data;
        self->codes.push_back(code);
        if (self->inspect)
            self->inspect(code, value);
        auto answer = self->answers.find(code);
        return answer == self->answers.end() ? 1 : answer->second;
    }

    bool Asked(int code) const
    {
        for (int c : codes)
            if (c == code)
                return true;
        return false;
    }
};

// `size` bytes that run through every byte value, so widening and binary
// safety both show.
inline std::string PatternBytes(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char)(unsigned char)((i * 7 + i / 256) & 0xFF);
    return bytes;
}

// The bytes as code units of the same value, the way Get widens a body.
inline std::wstring Widened(const std::string& bytes)
{
    std::wstring text(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        text[i] = (wchar_t)(unsigned char)bytes[i];
    return text;
}

inline std::wstring TextOf(const WideString& text)
{
    return std::wstring(text.Text(), (size_t)text.Length());
}

inline std::wstring Wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

inline DWORD Milliseconds(DWORD since)
{
    return GetTickCount() - since;
}
