#include "services/SettingsStore.h"
#include "services/ModulePath.h"

#include <string.h>

namespace {

const wchar_t* const DefaultSection = L"Settings";

bool Has(const wchar_t* text)
{
    return text && *text;
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

bool IsTextType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The type and size of a stored value; 0 when it is missing.
int QueryValue(const RegistryKey& key, const wchar_t* name, DWORD* type, DWORD* size)
{
    *type = REG_NONE;
    *size = 0;
    return key.IsOpen() &&
           RegQueryValueExW(key.Handle(), name, nullptr, type, nullptr, size) == ERROR_SUCCESS;
}

} // namespace

int SettingsStore::ParseNumber(const wchar_t* text, unsigned long long* value)
{
    if (!text)
        return 0;
    while (IsBlank(*text))
        ++text;
    bool negative = *text == L'-';
    if (*text == L'-' || *text == L'+')
        ++text;
    if (*text < L'0' || *text > L'9')
        return 0;
    unsigned long long number = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        unsigned digit = (unsigned)(*text - L'0');
        if (number > (~0ULL - digit) / 10)
            return 0;
        number = number * 10 + digit;
    }
    if (value)
        *value = negative ? 0 - number : number;
    return 1;
}

int SettingsStore::DefaultFileName(const wchar_t* executablePath, DWORD backEnd, WideString& name)
{
    FileNameOf(executablePath, name);
    RemoveShortExtension(name);
    if (name.IsEmpty())
        return 0;
    return name.Append(backEnd == StoreXml ? L".xml" : L".ini");
}

DWORD SettingsStore::ActiveBackEnd() const
{
    if (backEnd_ & StoreRegistry)
        return StoreRegistry;
    if (backEnd_ & StoreIni)
        return StoreIni;
    if (backEnd_ & StoreXml)
        return StoreXml;
    return 0;
}

int SettingsStore::Open(DWORD backEnd, HKEY root, const wchar_t* keyPath, const wchar_t* filePath)
{
    Close();
    backEnd_ = backEnd;
    root_ = root;
    keyPath_.Assign(keyPath);
    filePath_.Clear();
    DWORD active = ActiveBackEnd();
    if (active == StoreRegistry || !active)
        return 1;
    bool fileGiven = Has(filePath);
    if (fileGiven) {
        filePath_.Assign(filePath);
    } else {
        WideString executable;
        if (GetExecutablePath(executable))
            DefaultFileName(executable.Text(), active, filePath_);
    }
    if (active == StoreIni) {
        bool bare = filePath_.Find(L"\\") < 0;
        ini_.SetLocation(filePath_.Text(), bare ? IniFile::ProgramDirectory : IniFile::AsGiven);
        return 1;
    }
    return OpenXml(fileGiven);
}

int SettingsStore::OpenXml(bool fileGiven)
{
    if (keyPath_.IsEmpty())
        GetExecutableBaseName(keyPath_);
    if (!fileGiven) {
        WideString directory;
        WideString name = filePath_;
        if (GetExecutableDirectory(directory))
            JoinPath(directory.Text(), name.Text(), filePath_);
    }
    xmlWritable_ = false;
    xmlChanged_ = false;
    if (!xml_.Open(XmlNoValidation | XmlNoExternals))
        return 1;
    UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    DWORD attributes = GetFileAttributesW(filePath_.Text());
    SetErrorMode(previous);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !xml_.LoadFile(filePath_.Text())) {
        // Whatever that file holds, it is not ours to overwrite.
        xml_.Close();
        return 0;
    }
    xmlWritable_ = attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    return 1;
}

int SettingsStore::Close()
{
    int result = 1;
    switch (ActiveBackEnd()) {
    case StoreIni:
        ini_.FreeBuffers();
        break;
    case StoreXml:
        // An unchanged document is not written: it would only rewrite the
        // file, or create an empty one that no later Open could load.
        if (xmlWritable_ && xmlChanged_)
            result = xml_.SaveFile(filePath_.Text());
        xml_.Close();
        xmlWritable_ = false;
        xmlChanged_ = false;
        break;
    default:
        break;
    }
    key_.Close();
    backEnd_ = 0;
    return result;
}

int SettingsStore::RegistryPath(const wchar_t* subKey, WideString& path) const
{
    if (!Has(subKey))
        return path.Assign(keyPath_.Text());
    return path.Format(L"%s\\%s", keyPath_.Text(), subKey);
}

int SettingsStore::XmlElementPath(const wchar_t* subKey, WideString& path) const
{
    return RegistryPath(subKey, path);
}

int SettingsStore::XmlValuePath(const wchar_t* name, const wchar_t* subKey, WideString& path) const
{
    return XmlElementPath(subKey, path) && path.Append(L'\\') && path.Append(name);
}

int SettingsStore::XmlReadText(const wchar_t* name, const wchar_t* subKey, IUnknown* element,
                               WideString& text)
{
    text.Clear();
    if (!xmlWritable_ || !Has(name))
        return 0;
    WideString path;
    int found = element ? xml_.ReadPath(name, text, element)
                        : XmlValuePath(name, subKey, path) && xml_.ReadPath(path.Text(), text);
    if (!found)
        text.Clear();
    return found;
}

int SettingsStore::XmlWriteText(const wchar_t* name, const wchar_t* text, const wchar_t* subKey,
                                IUnknown* element)
{
    if (!xmlWritable_ || !Has(name))
        return 0;
    IUnknown* target = element;
    if (target) {
        target->AddRef();
    } else {
        WideString path;
        if (!XmlElementPath(subKey, path))
            return 0;
        target = xml_.FindOrCreatePath(path.Text());
        if (!target)
            return 0;
    }
    int ok = xml_.SetAttribute(target, name, text);
    target->Release();
    if (ok)
        xmlChanged_ = true;
    return ok;
}

int SettingsStore::RegistryReadText(const wchar_t* name, const wchar_t* subKey, WideString& text)
{
    text.Clear();
    WideString path;
    DWORD type, size;
    // Only a text is a text: the bytes of a number are no setting.
    int ok = RegistryPath(subKey, path) && key_.OpenRead(root_, path.Text()) &&
             QueryValue(key_, name, &type, &size) && IsTextType(type) && key_.ReadText(name, text);
    key_.Close();
    if (!ok)
        text.Clear();
    return ok;
}

unsigned long long SettingsStore::ReadNumber(const wchar_t* name, unsigned long long fallback,
                                             const wchar_t* subKey, IUnknown* element)
{
    unsigned long long value = fallback;
    switch (ActiveBackEnd()) {
    case StoreRegistry: {
        WideString path;
        DWORD type, size;
        unsigned long long stored = 0;
        // A number is a REG_DWORD or a REG_QWORD of its exact size; a text or
        // a block of a fitting length is not read as one.
        if (RegistryPath(subKey, path) && key_.OpenRead(root_, path.Text()) &&
            QueryValue(key_, name, &type, &size) &&
            ((type == REG_DWORD && size == 4) || (type == REG_QWORD && size == 8)) &&
            key_.ReadNumber(name, &stored))
            value = stored;
        key_.Close();
        break;
    }
    case StoreIni: {
        WideString text;
        ini_.ReadText(Has(subKey) ? subKey : DefaultSection, name, L"", text);
        ParseNumber(text.Text(), &value);
        break;
    }
    case StoreXml: {
        WideString text;
        if (XmlReadText(name, subKey, element, text))
            ParseNumber(text.Text(), &value);
        break;
    }
    default:
        break;
    }
    return value;
}

int SettingsStore::WriteNumber(const wchar_t* name, unsigned long long value, const wchar_t* subKey,
                               IUnknown* element)
{
    DWORD active = ActiveBackEnd();
    if (active == StoreRegistry) {
        WideString path;
        int ok = RegistryPath(subKey, path) && key_.CreateWrite(root_, path.Text()) &&
                 key_.WriteNumber(name, value);
        key_.Close();
        return ok;
    }
    WideString text;
    if (!text.Format(L"%I64u", value))
        return 0;
    if (active == StoreIni)
        return ini_.WriteText(Has(subKey) ? subKey : DefaultSection, name, text.Text());
    if (active == StoreXml)
        return XmlWriteText(name, text.Text(), subKey, element);
    return 0;
}

int SettingsStore::ReadText(const wchar_t* name, WideString& text, const wchar_t* fallback,
                            const wchar_t* subKey, IUnknown* element)
{
    int found = 0;
    switch (ActiveBackEnd()) {
    case StoreRegistry:
        found = RegistryReadText(name, subKey, text);
        break;
    case StoreIni:
        return ini_.ReadText(Has(subKey) ? subKey : DefaultSection, name, fallback, text);
    case StoreXml:
        // The XML back end never uses the default: a text it cannot read
        // stays empty.
        return XmlReadText(name, subKey, element, text);
    default:
        break;
    }
    if (!found)
        text.Assign(fallback);
    return found;
}

int SettingsStore::WriteText(const wchar_t* name, const wchar_t* text, const wchar_t* subKey,
                             IUnknown* element)
{
    switch (ActiveBackEnd()) {
    case StoreRegistry: {
        WideString path;
        int ok = RegistryPath(subKey, path) && key_.CreateWrite(root_, path.Text()) &&
                 key_.WriteText(name, text);
        key_.Close();
        return ok;
    }
    case StoreIni:
        return ini_.WriteText(Has(subKey) ? subKey : DefaultSection, name, text);
    case StoreXml:
        return XmlWriteText(name, text ? text : L"", subKey, element);
    default:
        return 0;
    }
}

int SettingsStore::ReadBlock(const wchar_t* name, void* buffer, DWORD size, const wchar_t* subKey)
{
    if (!buffer)
        return 0;
    memset(buffer, 0, size);
    switch (ActiveBackEnd()) {
    case StoreRegistry: {
        WideString path;
        DWORD type, stored;
        int ok = RegistryPath(subKey, path) && key_.OpenRead(root_, path.Text()) &&
                 QueryValue(key_, name, &type, &stored) && type == REG_BINARY &&
                 key_.ReadBlock(name, buffer, size);
        key_.Close();
        return ok;
    }
    case StoreIni:
        return ini_.ReadBlock(Has(subKey) ? subKey : DefaultSection, name, buffer, size);
    default:
        return 0;
    }
}

int SettingsStore::WriteBlock(const wchar_t* name, const void* data, DWORD size, const wchar_t* subKey)
{
    switch (ActiveBackEnd()) {
    case StoreRegistry: {
        WideString path;
        int ok = data && RegistryPath(subKey, path) && key_.CreateWrite(root_, path.Text()) &&
                 key_.WriteBlock(name, data, size, REG_BINARY);
        key_.Close();
        return ok;
    }
    case StoreIni:
        return ini_.WriteBlock(Has(subKey) ? subKey : DefaultSection, name, data, size);
    default:
        return 0;
    }
}
