#include "MachineParser.h"

#include <cfgmgr32.h>

#include <string.h>

#include <algorithm>

namespace {

struct NamedKey {
    const char* name;
    DEVPROPKEY key;
};

const NamedKey kPropertyKeyNames[] = {
#include "DevPropKeyTable.inc"
};

struct NamedCode {
    const char* name;
    DWORD code;
};

const NamedCode kRegistryPropertyNames[] = {
    {"DEVICEDESC", 0x01}, {"HARDWAREID", 0x02}, {"COMPATIBLEIDS", 0x03}, {"UNUSED0", 0x04},
    {"SERVICE", 0x05}, {"UNUSED1", 0x06}, {"UNUSED2", 0x07}, {"CLASS", 0x08},
    {"CLASSGUID", 0x09}, {"DRIVER", 0x0A}, {"CONFIGFLAGS", 0x0B}, {"MFG", 0x0C},
    {"FRIENDLYNAME", 0x0D}, {"LOCATION_INFORMATION", 0x0E}, {"PHYSICAL_DEVICE_OBJECT_NAME", 0x0F},
    {"CAPABILITIES", 0x10}, {"UI_NUMBER", 0x11}, {"UPPERFILTERS", 0x12}, {"LOWERFILTERS", 0x13},
    {"BUSTYPEGUID", 0x14}, {"LEGACYBUSTYPE", 0x15}, {"BUSNUMBER", 0x16}, {"ENUMERATOR_NAME", 0x17},
    {"SECURITY", 0x18}, {"SECURITY_SDS", 0x19}, {"DEVTYPE", 0x1A}, {"EXCLUSIVE", 0x1B},
    {"CHARACTERISTICS", 0x1C}, {"ADDRESS", 0x1D}, {"UI_NUMBER_DESC_FORMAT", 0x1E},
    {"DEVICE_POWER_DATA", 0x1F}, {"REMOVAL_POLICY", 0x20}, {"REMOVAL_POLICY_HW_DEFAULT", 0x21},
    {"REMOVAL_POLICY_OVERRIDE", 0x22}, {"INSTALL_STATE", 0x23}, {"LOCATION_PATHS", 0x24},
    {"BASE_CONTAINERID", 0x25},
};
const DWORD kLastRegistryProperty = 0x25; // CM_DRP_MAX

const NamedCode kRegistryTypeNames[] = {
    {"none", REG_NONE}, {"sz", REG_SZ}, {"expand_sz", REG_EXPAND_SZ}, {"binary", REG_BINARY},
    {"dword", REG_DWORD}, {"dword_be", REG_DWORD_BIG_ENDIAN}, {"link", REG_LINK},
    {"multi_sz", REG_MULTI_SZ}, {"resource_list", REG_RESOURCE_LIST},
    {"full_resource_descriptor", REG_FULL_RESOURCE_DESCRIPTOR},
    {"resource_requirements_list", REG_RESOURCE_REQUIREMENTS_LIST}, {"qword", REG_QWORD},
};

const NamedCode kPropertyTypeNames[] = {
    {"empty", 0x00}, {"null", 0x01}, {"sbyte", 0x02}, {"byte", 0x03}, {"int16", 0x04},
    {"uint16", 0x05}, {"int32", 0x06}, {"uint32", 0x07}, {"int64", 0x08}, {"uint64", 0x09},
    {"float", 0x0A}, {"double", 0x0B}, {"decimal", 0x0C}, {"guid", 0x0D}, {"currency", 0x0E},
    {"date", 0x0F}, {"filetime", 0x10}, {"boolean", 0x11}, {"string", 0x12},
    {"security_descriptor", 0x13}, {"security_descriptor_string", 0x14}, {"devpropkey", 0x15},
    {"devproptype", 0x16}, {"error", 0x17}, {"ntstatus", 0x18}, {"string_indirect", 0x19},
    {"binary", 0x1003}, {"string_list", 0x2012},
};

const DWORD kTypeModifierArray = 0x1000;
const DWORD kTypeModifierList = 0x2000;

// Hostile files must not exhaust memory: no single piece of data grows beyond this.
const size_t kLargestData = 16u << 20;

template <size_t N>
int LookUpCode(const NamedCode (&table)[N], const std::string& name, DWORD& code)
{
    for (const NamedCode& entry : table) {
        if (name == entry.name) {
            code = entry.code;
            return 1;
        }
    }
    return 0;
}

struct Token {
    bool isString = false;
    std::string word;  // a bare word, as written
    std::wstring text; // a string literal, escapes and repetition applied
};

// How the data items of one line become bytes.
struct Encoding {
    int numberWidth = 4;
    bool bigEndian = false;
    bool multiString = false; // each string ends with NUL, one more NUL ends the list
};

Encoding RegistryEncoding(DWORD type)
{
    Encoding encoding;
    if (type == REG_QWORD)
        encoding.numberWidth = 8;
    encoding.bigEndian = type == REG_DWORD_BIG_ENDIAN;
    encoding.multiString = type == REG_MULTI_SZ;
    return encoding;
}

Encoding PropertyEncoding(DWORD type)
{
    Encoding encoding;
    switch (type & 0xFFF) {
    case 0x02: case 0x03: case 0x11: encoding.numberWidth = 1; break;
    case 0x04: case 0x05: encoding.numberWidth = 2; break;
    case 0x08: case 0x09: case 0x0B: case 0x0E: case 0x0F: case 0x10: encoding.numberWidth = 8; break;
    default: encoding.numberWidth = 4; break;
    }
    encoding.multiString = (type & kTypeModifierList) != 0;
    return encoding;
}

class Parser {
public:
    Parser(const std::wstring& path) : machine_(std::make_shared<Machine>()) { machine_->path = path; }

    std::shared_ptr<Machine> Run(const char* text, size_t size, std::string& error);

private:
    enum class Section { Machine, Device, Class };

    int Fail(const std::string& message)
    {
        if (error_.empty())
            error_ = message;
        return 0;
    }

    int Tokenize(const char* begin, const char* end, std::vector<Token>& tokens);
    int ReadString(const char*& cursor, const char* end, Token& token);
    int HandleLine(int indent, std::vector<Token>& tokens);

    int HandleDevice(int indent, const std::vector<Token>& tokens);
    int HandleSetupClass(const std::vector<Token>& tokens);
    int HandleDeviceClass(const std::vector<Token>& tokens);
    int HandleNumberField(const std::vector<Token>& tokens, ULONG& field);
    int HandleRegistryProperty(const std::vector<Token>& tokens);
    int HandleDeviceProperty(const std::vector<Token>& tokens);
    int HandleKey(const std::vector<Token>& tokens);
    int HandleValue(const std::vector<Token>& tokens);
    int HandleFail(const std::vector<Token>& tokens);
    int HandleIcon(const std::vector<Token>& tokens);
    int HandlePropertyKeyList(const std::vector<Token>& tokens);
    int HandleUnreachable(const std::vector<Token>& tokens);

    int ReadText(const std::vector<Token>& tokens, size_t& pos, std::wstring& text);
    int ReadData(const std::vector<Token>& tokens, size_t pos, const Encoding& encoding, bool allowRequired,
                 TypedData& data);
    int ReadPropertyKey(const std::vector<Token>& tokens, size_t& pos, DEVPROPKEY& key);
    int ReadRegistryType(const Token& token, DWORD& type);
    int ReadPropertyType(const Token& token, DWORD& type);

    Device& CurrentDevice() { return machine_->devices[currentDevice_]; }
    SetupClass& CurrentClass() { return machine_->classes[currentClass_]; }

    std::shared_ptr<Machine> machine_;
    std::string error_;
    int line_ = 0;
    Section section_ = Section::Machine;
    int currentDevice_ = -1;
    int currentClass_ = -1;
    RegistryKeyContent* currentKey_ = nullptr;
    struct Open {
        int indent;
        int device;
    };
    std::vector<Open> openDevices_; // the chain from the root to the last device
    std::vector<int> lastChild_;
};

int ParseUnsigned(const std::string& text, unsigned long long& value)
{
    const char* p = text.c_str();
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (!*p)
        return 0;
    unsigned long long result = 0;
    for (; *p; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return 0;
        if (result > (~0ULL - digit) / base)
            return 0; // overflow
        result = result * base + digit;
    }
    value = result;
    return 1;
}

int ParseUnsigned32(const std::string& text, DWORD& value)
{
    unsigned long long wide = 0;
    if (!ParseUnsigned(text, wide) || wide > 0xFFFFFFFFULL)
        return 0;
    value = (DWORD)wide;
    return 1;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

int ParseHexRun(const char* p, int digits, unsigned long long& value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        int digit = HexDigit(p[i]);
        if (digit < 0)
            return 0;
        value = value * 16 + digit;
    }
    return 1;
}

} // namespace

int ParseGuid(const std::string& text, GUID& guid)
{
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-')
        return 0;
    const char* p = text.c_str() + 1;
    unsigned long long value;
    if (!ParseHexRun(p, 8, value))
        return 0;
    guid.Data1 = (unsigned long)value;
    if (!ParseHexRun(p + 9, 4, value))
        return 0;
    guid.Data2 = (unsigned short)value;
    if (!ParseHexRun(p + 14, 4, value))
        return 0;
    guid.Data3 = (unsigned short)value;
    const int offsets[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        if (!ParseHexRun(p + offsets[i], 2, value))
            return 0;
        guid.Data4[i] = (unsigned char)value;
    }
    return 1;
}

int LookUpPropertyKeyName(const char* name, DEVPROPKEY& key)
{
    static std::unordered_map<std::string, int>* index = nullptr;
    if (!index) {
        // Built once per process and kept: a few hundred entries.
        index = new std::unordered_map<std::string, int>();
        for (int i = 0; i < (int)(sizeof(kPropertyKeyNames) / sizeof(kPropertyKeyNames[0])); ++i)
            index->emplace(kPropertyKeyNames[i].name, i);
    }
    auto found = index->find(name);
    if (found == index->end())
        return 0;
    key = kPropertyKeyNames[found->second].key;
    return 1;
}

namespace {

int Parser::ReadString(const char*& cursor, const char* end, Token& token)
{
    // cursor is on the opening quote.
    ++cursor;
    std::wstring text;
    std::string run; // UTF-8 bytes not yet decoded
    auto flush = [&]() -> int {
        if (run.empty())
            return 1;
        int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, run.data(), (int)run.size(), nullptr, 0);
        if (count <= 0)
            return Fail("a string is not valid UTF-8");
        size_t at = text.size();
        text.resize(at + count);
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, run.data(), (int)run.size(), &text[at], count);
        run.clear();
        return 1;
    };
    for (;;) {
        if (cursor >= end)
            return Fail("a string has no closing quote");
        char ch = *cursor++;
        if (ch == '"')
            break;
        if (ch != '\\') {
            run += ch;
            continue;
        }
        if (cursor >= end)
            return Fail("a string ends in a lone backslash");
        char escape = *cursor++;
        wchar_t unit = 0;
        switch (escape) {
        case '\\': unit = L'\\'; break;
        case '"': unit = L'"'; break;
        case 'n': unit = L'\n'; break;
        case 'r': unit = L'\r'; break;
        case 't': unit = L'\t'; break;
        case '0': unit = 0; break;
        case 'u': {
            unsigned long long value;
            if (end - cursor < 4 || !ParseHexRun(cursor, 4, value))
                return Fail("\\u needs four hexadecimal digits");
            cursor += 4;
            unit = (wchar_t)value;
            break;
        }
        default:
            return Fail(std::string("unknown escape \\") + escape);
        }
        if (!flush())
            return 0;
        text += unit;
    }
    if (!flush())
        return 0;
    if (cursor < end && *cursor == '*') {
        ++cursor;
        std::string digits;
        while (cursor < end && *cursor >= '0' && *cursor <= '9')
            digits += *cursor++;
        DWORD count = 0;
        if (!ParseUnsigned32(digits, count))
            return Fail("a repetition *N needs a number");
        if ((unsigned long long)count * text.size() * 2 > kLargestData)
            return Fail("a repeated string is too long");
        std::wstring repeated;
        repeated.reserve(text.size() * count);
        for (DWORD i = 0; i < count; ++i)
            repeated += text;
        text.swap(repeated);
    }
    token.isString = true;
    token.text.swap(text);
    return 1;
}

int Parser::Tokenize(const char* cursor, const char* end, std::vector<Token>& tokens)
{
    tokens.clear();
    for (;;) {
        while (cursor < end && (*cursor == ' ' || *cursor == '\t'))
            ++cursor;
        if (cursor >= end || *cursor == '#')
            return 1;
        tokens.emplace_back();
        Token& token = tokens.back();
        if (*cursor == '"') {
            if (!ReadString(cursor, end, token))
                return 0;
            if (cursor < end && *cursor != ' ' && *cursor != '\t')
                return Fail("a string must be followed by a space");
            continue;
        }
        const char* start = cursor;
        while (cursor < end && *cursor != ' ' && *cursor != '\t')
            ++cursor;
        token.word.assign(start, cursor);
    }
}

int Parser::ReadText(const std::vector<Token>& tokens, size_t& pos, std::wstring& text)
{
    if (pos >= tokens.size())
        return Fail("a text is missing");
    if (!tokens[pos].isString) {
        // A bare word is taken as written (UTF-8).
        const std::string& word = tokens[pos].word;
        int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, word.data(), (int)word.size(), nullptr, 0);
        if (count <= 0)
            return Fail("'" + word + "' is not valid UTF-8");
        text.resize(count);
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, word.data(), (int)word.size(), &text[0], count);
        ++pos;
        return 1;
    }
    text = tokens[pos++].text;
    // "a" + "b" + ... joins strings.
    while (pos + 1 < tokens.size() && !tokens[pos].isString && tokens[pos].word == "+") {
        if (!tokens[pos + 1].isString)
            return Fail("'+' joins strings only");
        text += tokens[pos + 1].text;
        if (text.size() * 2 > kLargestData)
            return Fail("a joined string is too long");
        pos += 2;
    }
    return 1;
}

void AppendNumber(std::vector<BYTE>& bytes, unsigned long long value, int width, bool bigEndian)
{
    for (int i = 0; i < width; ++i) {
        int shift = 8 * (bigEndian ? width - 1 - i : i);
        bytes.push_back((BYTE)(shift < 64 ? value >> shift : 0));
    }
}

int FitsWidth(unsigned long long value, bool negative, int width)
{
    if (width >= 8)
        return 1;
    unsigned long long limit = 1ULL << (8 * width);
    if (!negative)
        return value < limit;
    return value <= limit / 2; // the magnitude of the most negative value
}

int ParseDate(const std::string& word, FILETIME& time)
{
    // 2023-12-31T23:59:59Z, optionally with up to seven fractional digits.
    SYSTEMTIME parts = {};
    int year, month, day, hour, minute, second, consumed = 0;
    if (sscanf(word.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
               &consumed) != 6)
        return 0;
    parts.wYear = (WORD)year;
    parts.wMonth = (WORD)month;
    parts.wDay = (WORD)day;
    parts.wHour = (WORD)hour;
    parts.wMinute = (WORD)minute;
    parts.wSecond = (WORD)second;
    const char* rest = word.c_str() + consumed;
    unsigned long long fraction = 0;
    int digits = 0;
    if (*rest == '.') {
        ++rest;
        while (*rest >= '0' && *rest <= '9' && digits < 7) {
            fraction = fraction * 10 + (*rest++ - '0');
            ++digits;
        }
        if (digits == 0)
            return 0;
    }
    if (rest[0] != 'Z' || rest[1] != 0)
        return 0;
    if (!SystemTimeToFileTime(&parts, &time))
        return 0;
    for (; digits < 7; ++digits)
        fraction *= 10;
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    ticks.QuadPart += fraction;
    time.dwLowDateTime = ticks.LowPart;
    time.dwHighDateTime = ticks.HighPart;
    return 1;
}

int Parser::ReadData(const std::vector<Token>& tokens, size_t pos, const Encoding& encoding, bool allowRequired,
                     TypedData& data)
{
    std::vector<BYTE>& bytes = data.bytes;
    bool fixedSize = false;
    DWORD size = 0;
    while (pos < tokens.size()) {
        if (tokens[pos].isString) {
            std::wstring text;
            if (!ReadText(tokens, pos, text))
                return 0;
            const BYTE* raw = (const BYTE*)text.data();
            bytes.insert(bytes.end(), raw, raw + text.size() * 2);
            bytes.push_back(0);
            bytes.push_back(0);
            continue;
        }
        const std::string& word = tokens[pos++].word;
        if (word.compare(0, 4, "hex:") == 0) {
            // hex:de,ad,00*16 - each byte may carry a repetition count.
            const char* p = word.c_str() + 4;
            while (*p) {
                unsigned long long value;
                if (!ParseHexRun(p, 2, value))
                    return Fail("'" + word + "': hex bytes are two digits each, separated by commas");
                p += 2;
                DWORD count = 1;
                if (*p == '*') {
                    std::string digits;
                    for (++p; *p >= '0' && *p <= '9'; ++p)
                        digits += *p;
                    if (!ParseUnsigned32(digits, count) || count > kLargestData)
                        return Fail("'" + word + "': bad repetition count");
                }
                if (bytes.size() + count > kLargestData)
                    return Fail("hex data is too long");
                bytes.insert(bytes.end(), count, (BYTE)value);
                if (*p == ',')
                    ++p;
                else if (*p)
                    return Fail("'" + word + "': hex bytes are separated by commas");
            }
        } else if (word[0] == '{') {
            GUID guid;
            if (!ParseGuid(word, guid))
                return Fail("'" + word + "' is not a GUID");
            const BYTE* raw = (const BYTE*)&guid;
            bytes.insert(bytes.end(), raw, raw + sizeof(GUID));
        } else if (word == "true" || word == "false") {
            AppendNumber(bytes, word == "true" ? 0xFF : 0, encoding.numberWidth, encoding.bigEndian);
        } else if (word.compare(0, 6, "bytes=") == 0) {
            if (!ParseUnsigned32(word.substr(6), size) || size > kLargestData)
                return Fail("'" + word + "': bytes= needs a size");
            fixedSize = true;
        } else if (word.compare(0, 9, "required=") == 0) {
            if (!allowRequired)
                return Fail("required= belongs to reg and prop lines");
            if (!ParseUnsigned32(word.substr(9), data.required))
                return Fail("'" + word + "': required= needs a size");
            data.liesAboutSize = true;
        } else if (word.size() > 10 && word[4] == '-' && word[10] == 'T') {
            FILETIME time;
            if (!ParseDate(word, time))
                return Fail("'" + word + "' is not a date like 2023-12-31T23:59:59Z");
            AppendNumber(bytes, ((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime, 8, false);
        } else {
            bool negative = word[0] == '-';
            unsigned long long value = 0;
            if (!ParseUnsigned(negative ? word.substr(1) : word, value) ||
                !FitsWidth(value, negative, encoding.numberWidth))
                return Fail("'" + word + "' is no number of " + std::to_string(encoding.numberWidth) + " bytes");
            AppendNumber(bytes, negative ? 0 - value : value, encoding.numberWidth, encoding.bigEndian);
        }
    }
    if (encoding.multiString) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    if (fixedSize)
        bytes.resize(size, 0);
    return 1;
}

int Parser::ReadRegistryType(const Token& token, DWORD& type)
{
    if (!token.isString && (LookUpCode(kRegistryTypeNames, token.word, type) || ParseUnsigned32(token.word, type)))
        return 1;
    return Fail("'" + token.word + "' is no registry type (sz, expand_sz, binary, dword, multi_sz, qword, ... or a number)");
}

int Parser::ReadPropertyType(const Token& token, DWORD& type)
{
    if (token.isString)
        return Fail("a property type is missing");
    std::string name = token.word;
    bool array = name.size() > 2 && name.compare(name.size() - 2, 2, "[]") == 0;
    if (array)
        name.resize(name.size() - 2);
    if (!LookUpCode(kPropertyTypeNames, name, type) && !ParseUnsigned32(name, type))
        return Fail("'" + token.word + "' is no property type (uint32, string, guid, filetime, ... or a number)");
    if (array)
        type |= kTypeModifierArray;
    return 1;
}

int Parser::ReadPropertyKey(const std::vector<Token>& tokens, size_t& pos, DEVPROPKEY& key)
{
    if (pos >= tokens.size() || tokens[pos].isString)
        return Fail("a property key is missing");
    const std::string& word = tokens[pos++].word;
    if (word[0] == '{') {
        if (!ParseGuid(word, key.fmtid))
            return Fail("'" + word + "' is not a GUID");
        DWORD pid = 0;
        if (pos >= tokens.size() || tokens[pos].isString || !ParseUnsigned32(tokens[pos].word, pid))
            return Fail("a property key written {fmtid} needs its property identifier after it");
        key.pid = pid;
        ++pos;
        return 1;
    }
    if (!LookUpPropertyKeyName(word.c_str(), key))
        return Fail("'" + word + "' is no known DEVPKEY_ name (write {fmtid} pid instead)");
    return 1;
}

int Parser::HandleDevice(int indent, const std::vector<Token>& tokens)
{
    size_t pos = 1;
    Device device;
    device.line = line_;
    if (!ReadText(tokens, pos, device.instanceId))
        return 0;
    device.handle = (DEVINST)(machine_->devices.size() + 1);
    for (; pos < tokens.size(); ++pos) {
        if (tokens[pos].isString || tokens[pos].word.compare(0, 7, "handle=") != 0)
            return Fail("a device line holds the instance ID and optionally handle=N");
        DWORD handle = 0;
        if (!ParseUnsigned32(tokens[pos].word.substr(7), handle) || handle == 0)
            return Fail("handle= needs a number other than 0");
        device.handle = handle;
    }

    bool dedented = false;
    while (!openDevices_.empty() && openDevices_.back().indent > indent) {
        openDevices_.pop_back();
        dedented = true;
    }
    int parent = -1;
    if (dedented && (openDevices_.empty() || openDevices_.back().indent != indent))
        return Fail("this device's indentation matches no enclosing device");
    if (!openDevices_.empty() && openDevices_.back().indent == indent) {
        parent = machine_->devices[openDevices_.back().device].parent;
        openDevices_.pop_back();
        if (parent < 0)
            return Fail("a second root device (only the first device line may be unindented)");
    } else if (!openDevices_.empty()) {
        parent = openDevices_.back().device;
    } else if (!machine_->devices.empty()) {
        return Fail("this device's indentation matches no enclosing device");
    }

    int index = (int)machine_->devices.size();
    device.parent = parent;
    machine_->devices.push_back(std::move(device));
    lastChild_.push_back(-1);
    if (parent >= 0) {
        if (lastChild_[parent] < 0)
            machine_->devices[parent].firstChild = index;
        else
            machine_->devices[lastChild_[parent]].nextSibling = index;
        lastChild_[parent] = index;
    }
    openDevices_.push_back({indent, index});
    section_ = Section::Device;
    currentDevice_ = index;
    currentKey_ = nullptr;
    return 1;
}

int Parser::HandleSetupClass(const std::vector<Token>& tokens)
{
    SetupClass setupClass;
    if (tokens.size() < 2 || tokens[1].isString || !ParseGuid(tokens[1].word, setupClass.guid))
        return Fail("setupclass needs the class GUID, then the class name");
    size_t pos = 2;
    if (pos < tokens.size() && !ReadText(tokens, pos, setupClass.name))
        return 0;
    if (pos != tokens.size())
        return Fail("setupclass takes the class GUID and one name");
    machine_->classes.push_back(std::move(setupClass));
    section_ = Section::Class;
    currentClass_ = (int)machine_->classes.size() - 1;
    currentKey_ = nullptr;
    return 1;
}

int Parser::HandleDeviceClass(const std::vector<Token>& tokens)
{
    if (tokens.size() != 2)
        return Fail("class takes a class GUID or the name of a setup class");
    Device& device = CurrentDevice();
    if (!tokens[1].isString && tokens[1].word[0] == '{') {
        if (!ParseGuid(tokens[1].word, device.setupClass))
            return Fail("'" + tokens[1].word + "' is not a GUID");
        device.hasSetupClass = true;
        return 1;
    }
    size_t pos = 1;
    device.setupClassLine = line_;
    return ReadText(tokens, pos, device.setupClassName);
}

int Parser::HandleNumberField(const std::vector<Token>& tokens, ULONG& field)
{
    DWORD value = 0;
    if (tokens.size() != 2 || tokens[1].isString || !ParseUnsigned32(tokens[1].word, value))
        return Fail(tokens[0].word + " takes one 32-bit number");
    field = value;
    return 1;
}

int Parser::HandleRegistryProperty(const std::vector<Token>& tokens)
{
    if (tokens.size() < 3 || tokens[1].isString)
        return Fail("reg needs a property name (DEVICEDESC, ...) or CM_DRP_ number, a type and data");
    RegistryProperty property;
    std::string name = tokens[1].word;
    if (name.compare(0, 7, "CM_DRP_") == 0)
        name = name.substr(7);
    if (!LookUpCode(kRegistryPropertyNames, name, property.code) &&
        !(ParseUnsigned32(tokens[1].word, property.code) && property.code >= 1 &&
          property.code <= kLastRegistryProperty))
        return Fail("'" + tokens[1].word + "' is no registry property");
    if (!ReadRegistryType(tokens[2], property.data.type))
        return 0;
    if (!ReadData(tokens, 3, RegistryEncoding(property.data.type), true, property.data))
        return 0;
    CurrentDevice().registryProperties.push_back(std::move(property));
    return 1;
}

int Parser::HandleDeviceProperty(const std::vector<Token>& tokens)
{
    DeviceProperty property;
    size_t pos = 1;
    if (!ReadPropertyKey(tokens, pos, property.key))
        return 0;
    if (pos >= tokens.size())
        return Fail("prop needs a type after the key");
    if (!ReadPropertyType(tokens[pos], property.data.type))
        return 0;
    if (!ReadData(tokens, pos + 1, PropertyEncoding(property.data.type), true, property.data))
        return 0;
    CurrentDevice().properties.push_back(std::move(property));
    return 1;
}

std::wstring TrimBackslashes(const std::wstring& path)
{
    size_t first = path.find_first_not_of(L'\\');
    if (first == std::wstring::npos)
        return std::wstring();
    size_t last = path.find_last_not_of(L'\\');
    return path.substr(first, last - first + 1);
}

int Parser::HandleKey(const std::vector<Token>& tokens)
{
    if (tokens.size() < 2 || tokens[1].isString)
        return Fail("key needs its kind: hardware or software (device), installer or interface (setupclass)");
    const std::string& kind = tokens[1].word;
    RegistryTree* tree = nullptr;
    if (section_ == Section::Device && kind == "hardware")
        tree = &CurrentDevice().hardwareKey;
    else if (section_ == Section::Device && kind == "software")
        tree = &CurrentDevice().softwareKey;
    else if (section_ == Section::Class && kind == "installer")
        tree = &CurrentClass().installerKey;
    else if (section_ == Section::Class && kind == "interface")
        tree = &CurrentClass().interfaceKey;
    else
        return Fail("a device has hardware and software keys, a setupclass installer and interface keys");
    std::wstring subPath;
    size_t pos = 2;
    if (pos < tokens.size() && !ReadText(tokens, pos, subPath))
        return 0;
    if (pos != tokens.size())
        return Fail("key takes its kind and an optional sub-key path");
    currentKey_ = &tree->Key(TrimBackslashes(subPath));
    return 1;
}

int Parser::HandleValue(const std::vector<Token>& tokens)
{
    if (!currentKey_)
        return Fail("a value line belongs below a key line");
    RegistryValue value;
    size_t pos = 1;
    if (!ReadText(tokens, pos, value.name))
        return 0;
    if (pos >= tokens.size())
        return Fail("value needs a type after its name");
    if (!ReadRegistryType(tokens[pos], value.data.type))
        return 0;
    if (!ReadData(tokens, pos + 1, RegistryEncoding(value.data.type), false, value.data))
        return 0;
    currentKey_->values.push_back(std::move(value));
    return 1;
}

int Parser::HandleFail(const std::vector<Token>& tokens)
{
    bool crash = tokens.size() == 3 && !tokens[2].isString && tokens[2].word == "crash";
    if ((tokens.size() != 2 && !crash) || tokens[1].isString)
        return Fail("fail takes the name of one entry point, and optionally 'crash'");
    int entry = EntryFromName(tokens[1].word.c_str());
    if (entry < 0)
        return Fail("'" + tokens[1].word + "' is no entry point of the simulator");
    Device* device = section_ == Section::Device ? &CurrentDevice() : nullptr;
    SetupClass* setupClass = section_ == Section::Class ? &CurrentClass() : nullptr;
    EntrySet& failures = device ? (crash ? device->crashes : device->failures)
                         : setupClass ? (crash ? setupClass->crashes : setupClass->failures)
                                      : (crash ? machine_->crashes : machine_->failures);
    failures.set(entry);
    return 1;
}

int Parser::HandleIcon(const std::vector<Token>& tokens)
{
    SetupClass& setupClass = CurrentClass();
    unsigned long long rgb = 0;
    if (tokens.size() < 2 || tokens[1].isString || tokens[1].word.size() != 6 ||
        !ParseHexRun(tokens[1].word.c_str(), 6, rgb))
        return Fail("icon needs a colour written RRGGBB");
    setupClass.hasIcon = true;
    setupClass.colour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    for (size_t pos = 2; pos < tokens.size(); ++pos) {
        DWORD mini = 0;
        if (tokens[pos].isString || tokens[pos].word.compare(0, 5, "mini=") != 0 ||
            !ParseUnsigned32(tokens[pos].word.substr(5), mini))
            return Fail("icon takes a colour and optionally mini=N");
        setupClass.miniIconIndex = (int)mini;
    }
    return 1;
}

int Parser::HandlePropertyKeyList(const std::vector<Token>& tokens)
{
    if (tokens.size() < 3 || tokens[1].isString ||
        (tokens[1].word != "installer" && tokens[1].word != "interface"))
        return Fail("propkey needs installer or interface, then a property key");
    DEVPROPKEY key;
    size_t pos = 2;
    if (!ReadPropertyKey(tokens, pos, key))
        return 0;
    if (pos != tokens.size())
        return Fail("propkey takes one property key");
    SetupClass& setupClass = CurrentClass();
    (tokens[1].word == "installer" ? setupClass.installerPropertyKeys : setupClass.interfacePropertyKeys).push_back(key);
    return 1;
}

int Parser::HandleUnreachable(const std::vector<Token>& tokens)
{
    std::wstring name;
    size_t pos = 1;
    if (!ReadText(tokens, pos, name) || pos != tokens.size())
        return Fail("unreachable takes one machine name");
    machine_->unreachableMachines.push_back(name);
    return 1;
}

int Parser::HandleLine(int indent, std::vector<Token>& tokens)
{
    if (tokens[0].isString)
        return Fail("a line starts with a keyword");
    const std::string& keyword = tokens[0].word;
    if (keyword == "device")
        return HandleDevice(indent, tokens);
    if (keyword == "setupclass")
        return HandleSetupClass(tokens);
    if (keyword == "fail")
        return HandleFail(tokens);
    if (keyword == "key")
        return section_ == Section::Machine ? Fail("key belongs to a device or a setupclass") : HandleKey(tokens);
    if (keyword == "value")
        return HandleValue(tokens);
    if (keyword == "quota") {
        DWORD quota = 0;
        if (section_ != Section::Machine)
            return Fail("quota lines come before the first device or setupclass");
        if (tokens.size() != 2 || tokens[1].isString || !ParseUnsigned32(tokens[1].word, quota) || quota > 0x7FFFFFFF)
            return Fail("quota takes the number of user-interface objects the process may hold");
        machine_->userObjectQuota = (int)quota;
        return 1;
    }
    if (keyword == "unreachable") {
        if (section_ != Section::Machine)
            return Fail("unreachable lines come before the first device or setupclass");
        return HandleUnreachable(tokens);
    }
    if (keyword == "icon" || keyword == "propkey") {
        if (section_ != Section::Class)
            return Fail(keyword + " belongs to a setupclass");
        return keyword == "icon" ? HandleIcon(tokens) : HandlePropertyKeyList(tokens);
    }
    if (keyword == "class" || keyword == "status" || keyword == "problem" || keyword == "reg" || keyword == "prop") {
        if (section_ != Section::Device)
            return Fail(keyword + " belongs to a device");
        if (keyword == "class")
            return HandleDeviceClass(tokens);
        if (keyword == "status")
            return HandleNumberField(tokens, CurrentDevice().status);
        if (keyword == "problem")
            return HandleNumberField(tokens, CurrentDevice().problem);
        if (keyword == "reg")
            return HandleRegistryProperty(tokens);
        return HandleDeviceProperty(tokens);
    }
    return Fail("unknown keyword '" + keyword + "'");
}

std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::shared_ptr<Machine> Parser::Run(const char* text, size_t size, std::string& error)
{
    const char* cursor = text;
    const char* end = text + size;
    if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        cursor += 3;
    std::vector<Token> tokens;
    while (cursor < end && error_.empty()) {
        ++line_;
        const char* lineStart = cursor;
        const char* lineEnd = (const char*)memchr(cursor, '\n', end - cursor);
        if (!lineEnd)
            lineEnd = end;
        cursor = lineEnd < end ? lineEnd + 1 : end;
        const char* contentEnd = lineEnd;
        if (contentEnd > lineStart && contentEnd[-1] == '\r')
            --contentEnd;
        if (std::find(lineStart, contentEnd, '\0') != contentEnd) {
            Fail("a NUL byte in the text");
            break;
        }
        const char* content = lineStart;
        while (content < contentEnd && (*content == ' ' || *content == '\t'))
            ++content;
        if (content == contentEnd || *content == '#')
            continue;
        if (std::find(lineStart, content, '\t') != content) {
            Fail("indent with spaces, not tabs");
            break;
        }
        if (!Tokenize(content, contentEnd, tokens) || tokens.empty())
            continue;
        HandleLine((int)(content - lineStart), tokens);
    }
    if (error_.empty())
        error_ = machine_->Index(line_);
    if (!error_.empty()) {
        error = Narrow(machine_->path);
        if (line_ > 0)
            error += "(" + std::to_string(line_) + ")";
        error += ": " + error_;
        return nullptr;
    }
    return machine_;
}

} // namespace

std::shared_ptr<Machine> ParseMachine(const char* text, size_t size, const std::wstring& path, std::string& error)
{
    error.clear();
    Parser parser(path);
    return parser.Run(text, size, error);
}
