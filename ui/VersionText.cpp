#include "ui/VersionText.h"

#include <stdlib.h>

#include "services/LibraryHolder.h"
#include "ui/ModuleResources.h"

namespace {

// version.dll is not among the libraries Windows always takes from its own
// folder: imported, a copy planted beside the program would be loaded at
// start. It is bound at run time from the system directory instead.
struct VersionApi {
    DWORD(WINAPI* GetFileVersionInfoSizeW)(const wchar_t* file, DWORD* handle);
    BOOL(WINAPI* GetFileVersionInfoW)(const wchar_t* file, DWORD handle, DWORD size, void* data);
    BOOL(WINAPI* VerQueryValueW)(const void* block, const wchar_t* path, void** value, UINT* length);
};

VersionApi BindVersionApi(const LibraryHolder& library)
{
    VersionApi api = {};
    api.GetFileVersionInfoSizeW =
        (decltype(api.GetFileVersionInfoSizeW))library.Lookup("GetFileVersionInfoSizeW");
    api.GetFileVersionInfoW = (decltype(api.GetFileVersionInfoW))library.Lookup("GetFileVersionInfoW");
    api.VerQueryValueW = (decltype(api.VerQueryValueW))library.Lookup("VerQueryValueW");
    return api;
}

const VersionApi& Version()
{
    static LibraryHolder library;
    static const VersionApi api = library.Load(L"version.dll") ? BindVersionApi(library) : VersionApi();
    return api;
}

int QueryValue(const void* block, const wchar_t* path, void** value, UINT* length)
{
    *value = nullptr;
    *length = 0;
    return Version().VerQueryValueW && Version().VerQueryValueW(block, path, value, length) && *value;
}

const wchar_t* const StringBlocks[] = {L"\\StringFileInfo\\040704B0\\", // German
                                       L"\\StringFileInfo\\040904B0\\"}; // English

// The version resource of one file, read once and freed with the object.
class VersionBlock {
public:
    ~VersionBlock() { free(data_); }

    int Load(const wchar_t* file)
    {
        const VersionApi& version = Version();
        if (!version.GetFileVersionInfoSizeW || !version.GetFileVersionInfoW)
            return 0;
        DWORD ignored = 0;
        DWORD size = version.GetFileVersionInfoSizeW(file, &ignored);
        if (size == 0)
            return 0;
        data_ = malloc(size);
        if (!data_)
            return 0;
        if (!version.GetFileVersionInfoW(file, 0, size, data_)) {
            free(data_);
            data_ = nullptr;
            return 0;
        }
        return 1;
    }

    const void* Data() const { return data_; }

private:
    void* data_ = nullptr;
};

int QueryString(const void* block, const wchar_t* prefix, const wchar_t* name, WideString& value)
{
    WideString path;
    path.Format(L"%s%s", prefix, name);
    void* text = nullptr;
    UINT length = 0;
    if (!QueryValue(block, path.Text(), &text, &length))
        return 0;
    value.Assign((const wchar_t*)text, (int)length);
    return 1;
}

int OwnFile(const wchar_t* moduleFile, WideString& file)
{
    if (moduleFile) {
        file = moduleFile;
        return 1;
    }
    return ModuleFile(nullptr, file);
}

} // namespace

int ScanVersionNumbers(const wchar_t* text, unsigned* first, unsigned* second)
{
    unsigned* targets[] = {first, second};
    int read = 0;
    for (int i = 0; i < 2; ++i) {
        if (i == 1) {
            if (*text != L'.')
                break;
            ++text;
        }
        while (*text == L' ' || (*text >= L'\t' && *text <= L'\r'))
            ++text;
        if (*text == L'+')
            ++text;
        if (*text < L'0' || *text > L'9')
            break;
        unsigned value = 0;
        while (*text >= L'0' && *text <= L'9')
            value = value * 10 + (unsigned)(*text++ - L'0');
        *targets[i] = value;
        ++read;
    }
    return read;
}

int VersionNumbersFromBlock(const void* block, VersionNumbers& numbers)
{
    numbers = VersionNumbers();
    if (!block)
        return 0;
    WideString text;
    for (const wchar_t* prefix : StringBlocks) {
        if (QueryString(block, prefix, L"FileVersion", text)) {
            ScanVersionNumbers(text.Text(), &numbers.major, &numbers.minor);
            return 1;
        }
    }
    void* fixed = nullptr;
    UINT size = 0;
    if (!QueryValue(block, L"\\", &fixed, &size) || size != sizeof(VS_FIXEDFILEINFO))
        return 0;
    DWORD product = ((const VS_FIXEDFILEINFO*)fixed)->dwProductVersionMS;
    numbers.major = HIWORD(product);
    numbers.minor = LOWORD(product);
    return 1;
}

int ReadFileVersionNumbers(const wchar_t* file, VersionNumbers& numbers)
{
    numbers = VersionNumbers();
    VersionBlock block;
    if (!file || !block.Load(file))
        return 0;
    return VersionNumbersFromBlock(block.Data(), numbers);
}

int ReadVersionNumbers(HMODULE module, VersionNumbers& numbers)
{
    numbers = VersionNumbers();
    WideString file;
    if (!ModuleFile(module, file))
        return 0;
    return ReadFileVersionNumbers(file.Text(), numbers);
}

const wchar_t* CaptionWithVersion(const wchar_t* productName, HMODULE module, WideString& caption)
{
    VersionNumbers numbers;
    ReadVersionNumbers(module, numbers);
    caption.Format(L"%s [%u.%02u]", productName ? productName : L"", numbers.major,
                   numbers.minor);
    return caption.Text();
}

unsigned PackedVersion(HMODULE module)
{
    VersionNumbers numbers;
    ReadVersionNumbers(module, numbers);
    return (numbers.major & 0xFF) * 256 + (numbers.minor & 0xFF);
}

int VersionStringFromBlock(const void* block, const wchar_t* valueName, WideString& value)
{
    value.Clear();
    if (!block || !valueName)
        return 0;
    for (const wchar_t* prefix : StringBlocks) {
        if (QueryString(block, prefix, valueName, value))
            return 1;
    }
    value.Clear();
    return 0;
}

int VersionString(const wchar_t* valueName, const wchar_t* moduleFile, WideString& value)
{
    value.Clear();
    WideString file;
    VersionBlock block;
    if (!OwnFile(moduleFile, file) || !block.Load(file.Text()))
        return 0;
    return VersionStringFromBlock(block.Data(), valueName, value);
}

int ProgramVersionTextFromBlock(const void* block, WideString& text)
{
    if (block && VersionStringFromBlock(block, L"FileVersion", text) && !text.IsEmpty())
        return 1;
    void* fixed = nullptr;
    UINT size = 0;
    if (block && QueryValue(block, L"\\", &fixed, &size) && size == sizeof(VS_FIXEDFILEINFO)) {
        DWORD version = ((const VS_FIXEDFILEINFO*)fixed)->dwFileVersionMS;
        text.Format(L"%u.%u", (unsigned)HIWORD(version), (unsigned)LOWORD(version));
        return 1;
    }
    VersionNumbers defaults;
    text.Format(L"%u.%u", defaults.major, defaults.minor);
    return 0;
}

int ProgramVersionText(const wchar_t* moduleFile, WideString& text)
{
    WideString file;
    VersionBlock block;
    if (!OwnFile(moduleFile, file) || !block.Load(file.Text()))
        return ProgramVersionTextFromBlock(nullptr, text);
    return ProgramVersionTextFromBlock(block.Data(), text);
}
