#include "snapshot/SnapshotReader.h"

#include "services/Base64.h"
#include "snapshot/IconFile.h"
#include "snapshot/ValueForm.h"

// The product runs without exceptions: the library then ends the process
// where it would throw, and its SAX parser reports every error of the input
// to the handler instead, which is the only way it is used here.
#ifndef JSON_NOEXCEPTION
#define JSON_NOEXCEPTION
#endif
#include <nlohmann/json.hpp>

#include <string.h>

#include <utility>

namespace {

const int DeepestNesting = 32;

enum class Frame {
    Top,
    Windows,
    Processor,
    Classes,
    Class,
    PropertyKeys,
    PropertyKey,
    Values,
    NamedValue,
    Devices,
    Device,
    RegistryProperties,
    RegistryProperty,
    Properties,
    Property,
    TextObject,
    Texts,
    Skip,
};

enum Member {
    NoMember,
    Unknown,
    // the top
    Format,
    FormatVersion,
    Computer,
    WindowsMember,
    ProcessorMember,
    Taken,
    Quillmere,
    ClassesMember,
    DevicesMember,
    // header objects
    WindowsName,
    WindowsVersion,
    Build,
    Revision,
    Architecture,
    ProcessorName,
    Count,
    // a class
    ClassGuid,
    ClassName,
    Icon,
    InstallerPropertyKeys,
    InterfacePropertyKeys,
    InstallerKey,
    InterfaceKey,
    // a property key, also of a property
    Fmtid,
    Pid,
    InformativeName,
    // a device
    Handle,
    Parent,
    InstanceId,
    DeviceClass,
    Status,
    ProblemMember,
    RegistryPropertiesMember,
    PropertiesMember,
    HardwareKey,
    SoftwareKey,
    // a value
    ValueName,
    Code,
    Type,
    TextMember,
    TextsMember,
    NumberMember,
    BooleanMember,
    GuidMember,
    TimeMember,
    Base64Member,
    Size,
    // a text of code units
    Utf16,
};

struct MemberName {
    const char* name;
    Member member;
};

const MemberName TopMembers[] = {
    {"format", Format},         {"version", FormatVersion}, {"computer", Computer},
    {"windows", WindowsMember}, {"processor", ProcessorMember}, {"taken", Taken},
    {"quillmere", Quillmere},   {"classes", ClassesMember}, {"devices", DevicesMember},
};
const MemberName WindowsMembers[] = {
    {"name", WindowsName}, {"version", WindowsVersion}, {"build", Build}, {"revision", Revision}};
const MemberName ProcessorMembers[] = {
    {"architecture", Architecture}, {"name", ProcessorName}, {"count", Count}};
const MemberName ClassMembers[] = {
    {"guid", ClassGuid},
    {"name", ClassName},
    {"icon", Icon},
    {"installerPropertyKeys", InstallerPropertyKeys},
    {"interfacePropertyKeys", InterfacePropertyKeys},
    {"installerKey", InstallerKey},
    {"interfaceKey", InterfaceKey},
};
const MemberName PropertyKeyMembers[] = {{"fmtid", Fmtid}, {"pid", Pid}, {"name", InformativeName}};
const MemberName DeviceMembers[] = {
    {"handle", Handle},
    {"parent", Parent},
    {"instanceId", InstanceId},
    {"class", DeviceClass},
    {"status", Status},
    {"problem", ProblemMember},
    {"registryProperties", RegistryPropertiesMember},
    {"properties", PropertiesMember},
    {"hardwareKey", HardwareKey},
    {"softwareKey", SoftwareKey},
};
// The data members shared by every kind of value.
#define VALUE_MEMBERS                                                                       \
    {"type", Type}, {"text", TextMember}, {"texts", TextsMember}, {"number", NumberMember}, \
        {"boolean", BooleanMember}, {"guid", GuidMember}, {"time", TimeMember},             \
        {"base64", Base64Member}, {"size", Size}
const MemberName NamedValueMembers[] = {{"name", ValueName}, VALUE_MEMBERS};
const MemberName RegistryPropertyMembers[] = {{"code", Code}, {"name", InformativeName}, VALUE_MEMBERS};
const MemberName PropertyMembers[] = {
    {"fmtid", Fmtid}, {"pid", Pid}, {"name", InformativeName}, VALUE_MEMBERS};
#undef VALUE_MEMBERS
const MemberName TextObjectMembers[] = {{"utf16", Utf16}};

template <int N> Member Find(const MemberName (&table)[N], const std::string& name)
{
    for (const MemberName& entry : table)
        if (name == entry.name)
            return entry.member;
    return Unknown;
}

Member FindMember(Frame frame, const std::string& name)
{
    switch (frame) {
    case Frame::Top:
        return Find(TopMembers, name);
    case Frame::Windows:
        return Find(WindowsMembers, name);
    case Frame::Processor:
        return Find(ProcessorMembers, name);
    case Frame::Class:
        return Find(ClassMembers, name);
    case Frame::PropertyKey:
        return Find(PropertyKeyMembers, name);
    case Frame::Device:
        return Find(DeviceMembers, name);
    case Frame::NamedValue:
        return Find(NamedValueMembers, name);
    case Frame::RegistryProperty:
        return Find(RegistryPropertyMembers, name);
    case Frame::Property:
        return Find(PropertyMembers, name);
    case Frame::TextObject:
        return Find(TextObjectMembers, name);
    default:
        return Unknown;
    }
}

// Well-formed UTF-8, as the parser has checked it, to UTF-16.
std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    wide.reserve(text.size());
    const unsigned char* p = (const unsigned char*)text.data();
    const unsigned char* end = p + text.size();
    while (p < end) {
        unsigned code = *p++;
        int more = code >= 0xF0 ? 3 : code >= 0xE0 ? 2 : code >= 0xC0 ? 1 : 0;
        code &= more == 3 ? 0x07 : more == 2 ? 0x0F : more == 1 ? 0x1F : 0x7F;
        for (; more > 0 && p < end; --more)
            code = (code << 6) | (*p++ & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            wide += (wchar_t)(0xD800 + (code >> 10));
            wide += (wchar_t)(0xDC00 + (code & 0x3FF));
        } else {
            wide += (wchar_t)code;
        }
    }
    return wide;
}

std::wstring WidenAscii(const char* text)
{
    std::wstring wide;
    for (; *text; ++text)
        wide += (wchar_t)(unsigned char)*text;
    return wide;
}

// The value of a value object, gathered member by member (in any order) and
// turned into bytes when the object ends.
struct PendingValue {
    bool hasType = false;
    DWORD type = 0;
    int forms = 0;
    ValueForm form = ValueForm::Empty;
    std::wstring text;
    std::vector<std::wstring> texts;
    unsigned long long number = 0;
    GUID guid = {};
    std::vector<BYTE> bytes;
    bool hasSize = false;
    DWORD size = 0;
};

class Handler {
public:
    explicit Handler(Snapshot& snapshot) : snapshot_(snapshot) {}

    SnapshotProblem problem;
    bool sawFormat = false;
    bool sawVersion = false;

    // The SAX interface.
    bool null() { return Scalar(JsonNull); }
    bool boolean(bool value)
    {
        boolean_ = value;
        return Scalar(JsonBoolean);
    }
    bool number_integer(long long value)
    {
        // Negative: no member of the format takes one.
        (void)value;
        return Scalar(JsonNegative);
    }
    bool number_unsigned(unsigned long long value)
    {
        number_ = value;
        return Scalar(JsonNumber);
    }
    bool number_float(double, const std::string&) { return Scalar(JsonFloat); }
    bool string(std::string& value)
    {
        string_ = &value;
        return Scalar(JsonString);
    }
    bool binary(std::vector<std::uint8_t>&) { return Scalar(JsonFloat); }
    bool start_object(std::size_t);
    bool end_object();
    bool EndObject();
    bool start_array(std::size_t);
    bool end_array();
    bool key(std::string& name);
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error);

    // After a parse that ran to its end.
    bool Finish();
    bool Failed() const { return problem.kind != SnapshotProblem::None; }
    void SetTextSize(size_t size) { size_ = size; }

private:
    enum JsonKind { JsonNull, JsonBoolean, JsonNegative, JsonNumber, JsonFloat, JsonString, JsonObject, JsonArray };

    struct State {
        Frame frame;
        Member member; // the member whose value comes next
        unsigned long long seen;
        int items;
        const char* label; // the member this frame is the value of
        Member owner;      // the same as a member id
    };

    bool Scalar(JsonKind kind);
    bool Start(JsonKind kind);
    bool Begin(JsonKind kind);
    bool Push(Frame frame, const char* label);
    bool ScanScalar(JsonKind kind);
    bool Fail(SnapshotProblem::Kind kind, const std::wstring& where = std::wstring(),
              unsigned long long number = 0);
    bool WrongType() { return Fail(SnapshotProblem::WrongType, Where(true)); }
    std::wstring Where(bool withMember) const;
    static const char* MemberLabel(Frame frame, Member member);

    bool TopScalar(Member member, JsonKind kind);
    bool HeaderScalar(Member member, JsonKind kind);
    bool ClassScalar(Member member, JsonKind kind);
    bool PropertyKeyScalar(Member member, JsonKind kind);
    bool DeviceScalar(Member member, JsonKind kind);
    bool ValueScalar(Member member, JsonKind kind);
    bool TextScalar(Member member, JsonKind kind);
    bool DeliverText(Member member, std::wstring&& text);
    bool ReadNumber32(JsonKind kind, DWORD& target);
    bool ReadGuid(JsonKind kind, GUID& guid);
    bool SetForm(ValueForm form);
    bool FinishValue(ValueKind kind, SnapshotValue& value);
    bool Required(unsigned long long seen, Member member);
    SnapshotKey* KeyOf(Member member);
    std::vector<DEVPROPKEY>* PropertyKeysOf(Member member);

    Snapshot& snapshot_;
    std::vector<State> stack_;
    // The scalar just read.
    bool boolean_ = false;
    unsigned long long number_ = 0;
    std::string* string_ = nullptr;
    PendingValue pending_;
    DEVPROPKEY key_ = {};
    ULONG code_ = 0;
    bool hasName_ = false;
    std::wstring name_;
    // After a problem found before the format and its version were seen:
    // only they are looked for still, since a file of another format or
    // version is better told as such.
    bool scanning_ = false;
    int scanDepth_ = 0;
    Member scanMember_ = NoMember;
    SnapshotProblem held_;
    size_t size_ = 0;
};

bool Handler::Fail(SnapshotProblem::Kind kind, const std::wstring& where, unsigned long long number)
{
    SnapshotProblem found;
    found.kind = kind;
    found.where = where;
    found.number = number;
    if (sawFormat && sawVersion) {
        problem = found;
        return false;
    }
    // Go on looking for the format and its version: from here only the
    // depth is followed.
    held_ = found;
    scanning_ = true;
    scanDepth_ = (int)stack_.size();
    scanMember_ = NoMember;
    return true;
}

const char* Handler::MemberLabel(Frame frame, Member member)
{
    const MemberName* tables[] = {TopMembers, WindowsMembers, ProcessorMembers, ClassMembers,
                                  PropertyKeyMembers, DeviceMembers, NamedValueMembers,
                                  RegistryPropertyMembers, PropertyMembers, TextObjectMembers};
    const size_t sizes[] = {sizeof TopMembers, sizeof WindowsMembers, sizeof ProcessorMembers,
                            sizeof ClassMembers, sizeof PropertyKeyMembers, sizeof DeviceMembers,
                            sizeof NamedValueMembers, sizeof RegistryPropertyMembers,
                            sizeof PropertyMembers, sizeof TextObjectMembers};
    (void)frame;
    for (size_t t = 0; t < sizeof tables / sizeof tables[0]; ++t)
        for (size_t i = 0; i < sizes[t] / sizeof(MemberName); ++i)
            if (tables[t][i].member == member)
                return tables[t][i].name;
    return "";
}

std::wstring Handler::Where(bool withMember) const
{
    std::wstring where;
    for (size_t i = 0; i < stack_.size(); ++i) {
        const State& state = stack_[i];
        if (state.label && *state.label) {
            if (!where.empty())
                where += L'.';
            where += WidenAscii(state.label);
        }
        bool array = state.frame == Frame::Classes || state.frame == Frame::Devices ||
                     state.frame == Frame::Values || state.frame == Frame::PropertyKeys ||
                     state.frame == Frame::RegistryProperties || state.frame == Frame::Properties ||
                     state.frame == Frame::Texts;
        if (array && state.items > 0)
            where += L"[" + std::to_wstring(state.items - 1) + L"]";
    }
    if (withMember && !stack_.empty()) {
        const State& top = stack_.back();
        const char* label = MemberLabel(top.frame, top.member);
        if (*label) {
            if (!where.empty())
                where += L'.';
            where += WidenAscii(label);
        }
    }
    return where;
}

bool Handler::Push(Frame frame, const char* label)
{
    if ((int)stack_.size() >= DeepestNesting)
        return Fail(SnapshotProblem::BeyondLimit, L"nesting", DeepestNesting);
    Member owner = NoMember;
    if (!stack_.empty()) {
        ++stack_.back().items;
        owner = stack_.back().member;
    }
    stack_.push_back(State{frame, NoMember, 0, 0, label, owner});
    return true;
}

bool Handler::ScanScalar(JsonKind kind)
{
    if (scanDepth_ != 1 || scanMember_ == NoMember)
        return true;
    if (scanMember_ == Format) {
        sawFormat = true;
        if (kind != JsonString || *string_ != Snapshot::FormatName) {
            problem.kind = SnapshotProblem::OtherFormat;
            return false;
        }
    } else if (scanMember_ == FormatVersion) {
        sawVersion = true;
        if (kind == JsonNumber && number_ > (unsigned long long)Snapshot::FormatVersion) {
            problem.kind = SnapshotProblem::NewerVersion;
            problem.number = number_;
            return false;
        }
    }
    scanMember_ = NoMember;
    return true;
}

bool Handler::key(std::string& name)
{
    if (scanning_) {
        scanMember_ = scanDepth_ == 1 ? (name == "format" ? Format : name == "version" ? FormatVersion : NoMember)
                                      : NoMember;
        return true;
    }
    State& state = stack_.back();
    if (state.frame == Frame::Skip)
        return true;
    Member member = FindMember(state.frame, name);
    state.member = member;
    if (member == Unknown)
        return true; // members of later versions of this format are left alone
    unsigned long long bit = 1ull << member % 64;
    if (state.seen & bit)
        return Fail(SnapshotProblem::Duplicate, Where(true));
    state.seen |= bit;
    return true;
}

bool Handler::start_object(std::size_t)
{
    return Start(JsonObject);
}

bool Handler::start_array(std::size_t)
{
    return Start(JsonArray);
}

bool Handler::Start(JsonKind kind)
{
    if (scanning_) {
        ++scanDepth_;
        scanMember_ = NoMember;
        return true;
    }
    bool going = Begin(kind);
    // A container refused is entered all the same.
    if (scanning_)
        ++scanDepth_;
    return going;
}

bool Handler::Begin(JsonKind kind)
{
    if (stack_.empty()) {
        if (kind != JsonObject)
            return Fail(SnapshotProblem::OtherFormat);
        return Push(Frame::Top, "");
    }
    State& state = stack_.back();
    if (state.frame == Frame::Skip || state.member == Unknown)
        return Push(Frame::Skip, "");
    const char* label = MemberLabel(state.frame, state.member);
    bool object = kind == JsonObject;
    switch (state.frame) {
    case Frame::Top:
        if (state.member == WindowsMember && object)
            return Push(Frame::Windows, label);
        if (state.member == ProcessorMember && object)
            return Push(Frame::Processor, label);
        if (state.member == ClassesMember && !object)
            return Push(Frame::Classes, label);
        if (state.member == DevicesMember && !object)
            return Push(Frame::Devices, label);
        if (state.member == Computer && object)
            return Push(Frame::TextObject, label);
        break;
    case Frame::Windows:
    case Frame::Processor:
        if (object && (state.member == WindowsName || state.member == WindowsVersion ||
                       state.member == Architecture || state.member == ProcessorName))
            return Push(Frame::TextObject, label);
        break;
    case Frame::Classes:
        if (object) {
            snapshot_.classes.emplace_back();
            return Push(Frame::Class, "");
        }
        break;
    case Frame::Class:
        if (object && state.member == ClassName)
            return Push(Frame::TextObject, label);
        if (!object && (state.member == InstallerPropertyKeys || state.member == InterfacePropertyKeys)) {
            SnapshotClass& setupClass = snapshot_.classes.back();
            (state.member == InstallerPropertyKeys ? setupClass.hasInstallerPropertyKeys
                                                   : setupClass.hasInterfacePropertyKeys) = true;
            return Push(Frame::PropertyKeys, label);
        }
        if (!object && (state.member == InstallerKey || state.member == InterfaceKey)) {
            KeyOf(state.member)->present = true;
            return Push(Frame::Values, label);
        }
        break;
    case Frame::PropertyKeys:
        if (object) {
            key_ = DEVPROPKEY{};
            return Push(Frame::PropertyKey, "");
        }
        break;
    case Frame::Devices:
        if (object) {
            if ((int)snapshot_.devices.size() >= Snapshot::LargestDeviceCount)
                return Fail(SnapshotProblem::BeyondLimit, L"devices", Snapshot::LargestDeviceCount);
            snapshot_.devices.emplace_back();
            return Push(Frame::Device, "");
        }
        break;
    case Frame::Device:
        if (object && state.member == InstanceId)
            return Push(Frame::TextObject, label);
        if (!object && state.member == RegistryPropertiesMember)
            return Push(Frame::RegistryProperties, label);
        if (!object && state.member == PropertiesMember)
            return Push(Frame::Properties, label);
        if (!object && (state.member == HardwareKey || state.member == SoftwareKey)) {
            KeyOf(state.member)->present = true;
            return Push(Frame::Values, label);
        }
        break;
    case Frame::Values:
    case Frame::RegistryProperties:
    case Frame::Properties:
        if (object) {
            pending_ = PendingValue();
            key_ = DEVPROPKEY{};
            hasName_ = false;
            name_.clear();
            code_ = 0;
            Frame frame = state.frame == Frame::Values ? Frame::NamedValue
                          : state.frame == Frame::Properties ? Frame::Property
                                                             : Frame::RegistryProperty;
            return Push(frame, "");
        }
        break;
    case Frame::NamedValue:
    case Frame::RegistryProperty:
    case Frame::Property:
        if (object && state.member == ValueName)
            return Push(Frame::TextObject, label);
        if (!object && state.member == TextsMember) {
            if (!SetForm(ValueForm::Texts))
                return false;
            return Push(Frame::Texts, label);
        }
        break;
    default:
        break;
    }
    return WrongType();
}

bool Handler::end_array()
{
    if (scanning_) {
        --scanDepth_;
        return true;
    }
    stack_.pop_back();
    return true;
}

bool Handler::Required(unsigned long long seen, Member member)
{
    if (seen & (1ull << member % 64))
        return true;
    State& state = stack_.back();
    state.member = member;
    return Fail(SnapshotProblem::Missing, Where(true));
}

bool Handler::end_object()
{
    if (scanning_) {
        --scanDepth_;
        return true;
    }
    bool going = EndObject();
    // A container refused at its end is left all the same.
    if (scanning_)
        --scanDepth_;
    return going;
}

bool Handler::EndObject()
{
    State state = stack_.back();
    switch (state.frame) {
    case Frame::Top:
        if (!Required(state.seen, Format) || !Required(state.seen, FormatVersion) ||
            !Required(state.seen, DevicesMember))
            return false;
        break;
    case Frame::Class:
        if (!Required(state.seen, ClassGuid))
            return false;
        break;
    case Frame::PropertyKey:
        if (!Required(state.seen, Fmtid) || !Required(state.seen, Pid))
            return false;
        stack_.pop_back();
        PropertyKeysOf(stack_.back().owner)->push_back(key_);
        return true;
    case Frame::Device: {
        if (!Required(state.seen, Handle))
            return false;
        bool status = (state.seen >> Status) & 1, problemSeen = (state.seen >> ProblemMember) & 1;
        if (status != problemSeen && !Required(state.seen, status ? ProblemMember : Status))
            return false;
        snapshot_.devices.back().hasStatus = status;
        break;
    }
    case Frame::NamedValue: {
        if (!Required(state.seen, ValueName) || !Required(state.seen, Type))
            return false;
        SnapshotNamedValue value;
        value.name = std::move(name_);
        if (!FinishValue(ValueKind::Registry, value.value))
            return false;
        stack_.pop_back();
        KeyOf(stack_.back().owner)->values.push_back(std::move(value));
        return true;
    }
    case Frame::RegistryProperty: {
        if (!Required(state.seen, Code) || !Required(state.seen, Type))
            return false;
        SnapshotRegistryProperty property;
        property.code = code_;
        if (!FinishValue(ValueKind::Registry, property.value))
            return false;
        stack_.pop_back();
        snapshot_.devices.back().registryProperties.push_back(std::move(property));
        return true;
    }
    case Frame::Property: {
        if (!Required(state.seen, Fmtid) || !Required(state.seen, Pid) || !Required(state.seen, Type))
            return false;
        SnapshotProperty property;
        property.key = key_;
        if (!FinishValue(ValueKind::Property, property.value))
            return false;
        stack_.pop_back();
        snapshot_.devices.back().properties.push_back(std::move(property));
        return true;
    }
    case Frame::TextObject: {
        if (!Required(state.seen, Utf16))
            return false;
        stack_.pop_back();
        std::wstring text = std::move(name_);
        return DeliverText(stack_.back().member, std::move(text));
    }
    default:
        break;
    }
    stack_.pop_back();
    return true;
}

bool Handler::Scalar(JsonKind kind)
{
    if (scanning_)
        return ScanScalar(kind);
    if (stack_.empty())
        return Fail(SnapshotProblem::OtherFormat);
    State& state = stack_.back();
    if (state.frame == Frame::Skip || state.member == Unknown)
        return true;
    switch (state.frame) {
    case Frame::Top:
        return TopScalar(state.member, kind);
    case Frame::Windows:
    case Frame::Processor:
        return HeaderScalar(state.member, kind);
    case Frame::Class:
        return ClassScalar(state.member, kind);
    case Frame::PropertyKey:
        return PropertyKeyScalar(state.member, kind);
    case Frame::Device:
        return DeviceScalar(state.member, kind);
    case Frame::NamedValue:
    case Frame::RegistryProperty:
    case Frame::Property:
        return ValueScalar(state.member, kind);
    case Frame::TextObject: {
        // Code units that are no well-formed UTF-16, in Base64.
        if (kind != JsonString)
            return WrongType();
        size_t limit = (size_t)Snapshot::LongestText * sizeof(wchar_t);
        std::vector<BYTE> units(limit);
        size_t size = 0;
        WideString encoded;
        if (!encoded.FromMultiByte(string_->c_str(), (int)string_->size(), CP_UTF8) ||
            !DecodeBase64(encoded.Text(), units.data(), units.size(), &size) || size % 2)
            return Fail(SnapshotProblem::BadValue, Where(true));
        name_.assign((const wchar_t*)units.data(), size / 2);
        return true;
    }
    case Frame::Texts: {
        ++state.items;
        if (kind != JsonString)
            return WrongType();
        std::wstring text = Widen(*string_);
        if (text.find(L'\0') != std::wstring::npos)
            return Fail(SnapshotProblem::BadValue, Where(false));
        pending_.texts.push_back(std::move(text));
        return true;
    }
    default:
        // An array of objects holds no scalars.
        ++state.items;
        return Fail(SnapshotProblem::WrongType, Where(false));
    }
}

bool Handler::TextScalar(Member member, JsonKind kind)
{
    if (kind != JsonString)
        return WrongType();
    return DeliverText(member, Widen(*string_));
}

bool Handler::DeliverText(Member member, std::wstring&& text)
{
    int longest = member == ValueName ? Snapshot::LongestValueName : Snapshot::LongestText;
    if ((int)text.size() > longest)
        return Fail(SnapshotProblem::BeyondLimit, Where(true), (unsigned long long)longest);
    if (text.find(L'\0') != std::wstring::npos)
        return Fail(SnapshotProblem::BadValue, Where(true));
    SnapshotHeader& header = snapshot_.header;
    switch (member) {
    case Computer:
        header.computer = std::move(text);
        break;
    case WindowsName:
        header.windows = std::move(text);
        break;
    case WindowsVersion:
        header.windowsVersion = std::move(text);
        break;
    case Architecture:
        header.architecture = std::move(text);
        break;
    case ProcessorName:
        header.processor = std::move(text);
        break;
    case Taken:
        header.taken = std::move(text);
        break;
    case Quillmere:
        header.quillmere = std::move(text);
        break;
    case ClassName:
        snapshot_.classes.back().hasName = true;
        snapshot_.classes.back().name = std::move(text);
        break;
    case InstanceId:
        snapshot_.devices.back().hasInstanceId = true;
        snapshot_.devices.back().instanceId = std::move(text);
        break;
    case ValueName:
        hasName_ = true;
        name_ = std::move(text);
        break;
    default:
        return WrongType();
    }
    return true;
}

bool Handler::TopScalar(Member member, JsonKind kind)
{
    switch (member) {
    case Format:
        sawFormat = true;
        if (kind != JsonString || *string_ != Snapshot::FormatName) {
            problem.kind = SnapshotProblem::OtherFormat;
            return false;
        }
        return true;
    case FormatVersion:
        sawVersion = true;
        if (kind != JsonNumber || number_ == 0)
            return WrongType();
        if (number_ > (unsigned long long)Snapshot::FormatVersion) {
            problem.kind = SnapshotProblem::NewerVersion;
            problem.number = number_;
            return false;
        }
        if (held_.kind != SnapshotProblem::None && sawFormat) {
            problem = held_;
            return false;
        }
        return true;
    case Computer:
    case Taken:
    case Quillmere:
        return TextScalar(member, kind);
    case ClassesMember:
        return kind == JsonNull ? true : WrongType();
    default:
        return WrongType();
    }
}

bool Handler::HeaderScalar(Member member, JsonKind kind)
{
    SnapshotHeader& header = snapshot_.header;
    switch (member) {
    case Build:
        return ReadNumber32(kind, header.windowsBuild);
    case Revision:
        return ReadNumber32(kind, header.windowsRevision);
    case Count:
        return ReadNumber32(kind, header.processorCount);
    default:
        return TextScalar(member, kind);
    }
}

bool Handler::ReadNumber32(JsonKind kind, DWORD& target)
{
    if (kind != JsonNumber || number_ > 0xFFFFFFFFull)
        return WrongType();
    target = (DWORD)number_;
    return true;
}

bool Handler::ReadGuid(JsonKind kind, GUID& guid)
{
    if (kind != JsonString)
        return WrongType();
    if (!ParseGuidString(string_->c_str(), string_->size(), guid))
        return Fail(SnapshotProblem::BadValue, Where(true));
    return true;
}

bool Handler::ClassScalar(Member member, JsonKind kind)
{
    SnapshotClass& setupClass = snapshot_.classes.back();
    switch (member) {
    case ClassGuid:
        return ReadGuid(kind, setupClass.guid);
    case ClassName:
        return TextScalar(member, kind);
    case Icon: {
        if (kind != JsonString)
            return WrongType();
        size_t size = 0;
        WideString encoded;
        setupClass.icon.resize(string_->size() / 4 * 3 + 3);
        if (!encoded.FromMultiByte(string_->c_str(), (int)string_->size(), CP_UTF8) ||
            !DecodeBase64(encoded.Text(), setupClass.icon.data(), setupClass.icon.size(), &size))
            return Fail(SnapshotProblem::BadValue, Where(true));
        setupClass.icon.resize(size);
        if (!IconFile::IsWellFormed(setupClass.icon))
            return Fail(SnapshotProblem::BadValue, Where(true));
        return true;
    }
    case InstallerPropertyKeys:
    case InterfacePropertyKeys:
    case InstallerKey:
    case InterfaceKey:
        // null: the same as leaving the member out.
        return kind == JsonNull ? true : WrongType();
    default:
        return WrongType();
    }
}

bool Handler::PropertyKeyScalar(Member member, JsonKind kind)
{
    switch (member) {
    case Fmtid:
        return ReadGuid(kind, key_.fmtid);
    case Pid:
        return ReadNumber32(kind, key_.pid);
    case InformativeName:
        return kind == JsonString ? true : WrongType();
    default:
        return WrongType();
    }
}

bool Handler::DeviceScalar(Member member, JsonKind kind)
{
    SnapshotDevice& device = snapshot_.devices.back();
    switch (member) {
    case Handle:
        return ReadNumber32(kind, device.handle);
    case Parent:
        if (kind == JsonNull)
            return true;
        device.hasParent = true;
        return ReadNumber32(kind, device.parentHandle);
    case InstanceId:
        return TextScalar(member, kind);
    case DeviceClass:
        if (kind == JsonNull)
            return true;
        device.listed = true;
        return ReadGuid(kind, device.setupClass);
    case Status:
        return ReadNumber32(kind, device.status);
    case ProblemMember:
        return ReadNumber32(kind, device.problem);
    case RegistryPropertiesMember:
    case PropertiesMember:
    case HardwareKey:
    case SoftwareKey:
        return kind == JsonNull ? true : WrongType();
    default:
        return WrongType();
    }
}

bool Handler::SetForm(ValueForm form)
{
    if (++pending_.forms > 1)
        return Fail(SnapshotProblem::BadValue, Where(true));
    pending_.form = form;
    return true;
}

bool Handler::ValueScalar(Member member, JsonKind kind)
{
    DWORD number32 = 0;
    switch (member) {
    case ValueName:
        return TextScalar(member, kind);
    case Code:
        if (!ReadNumber32(kind, number32))
            return false;
        if (number32 < 1 || number32 > Snapshot::LastRegistryProperty)
            return Fail(SnapshotProblem::BadValue, Where(true));
        code_ = number32;
        return true;
    case Fmtid:
        return ReadGuid(kind, key_.fmtid);
    case Pid:
        return ReadNumber32(kind, key_.pid);
    case InformativeName:
        return kind == JsonString ? true : WrongType();
    case Type:
        pending_.hasType = true;
        return ReadNumber32(kind, pending_.type);
    case Size:
        pending_.hasSize = true;
        return ReadNumber32(kind, pending_.size);
    case TextMember:
        if (kind != JsonString)
            return WrongType();
        if (string_->size() > Snapshot::LargestValue)
            return Fail(SnapshotProblem::BeyondLimit, Where(true), Snapshot::LargestValue);
        pending_.text = Widen(*string_);
        if (pending_.text.find(L'\0') != std::wstring::npos)
            return Fail(SnapshotProblem::BadValue, Where(true));
        return SetForm(ValueForm::Text);
    case NumberMember:
        if (kind != JsonNumber)
            return WrongType();
        pending_.number = number_;
        return SetForm(ValueForm::Number);
    case BooleanMember:
        if (kind != JsonBoolean)
            return WrongType();
        pending_.number = boolean_ ? 0xFF : 0;
        return SetForm(ValueForm::Boolean);
    case GuidMember:
        if (!ReadGuid(kind, pending_.guid))
            return false;
        return SetForm(ValueForm::Guid);
    case TimeMember:
        if (kind != JsonString)
            return WrongType();
        if (!ParseTimeString(string_->c_str(), string_->size(), pending_.number))
            return Fail(SnapshotProblem::BadValue, Where(true));
        return SetForm(ValueForm::Time);
    case Base64Member: {
        if (kind != JsonString)
            return WrongType();
        if (string_->size() / 4 * 3 > Snapshot::LargestValue)
            return Fail(SnapshotProblem::BeyondLimit, Where(true), Snapshot::LargestValue);
        size_t size = 0;
        WideString encoded;
        pending_.bytes.resize(string_->size() / 4 * 3 + 3);
        if (!encoded.FromMultiByte(string_->c_str(), (int)string_->size(), CP_UTF8) ||
            !DecodeBase64(encoded.Text(), pending_.bytes.data(), pending_.bytes.size(), &size))
            return Fail(SnapshotProblem::BadValue, Where(true));
        pending_.bytes.resize(size);
        return SetForm(ValueForm::Base64);
    }
    default:
        return WrongType();
    }
}

bool Handler::FinishValue(ValueKind kind, SnapshotValue& value)
{
    value.type = pending_.type;
    if (!FormSuitsType(kind, value.type, pending_.form))
        return Fail(SnapshotProblem::BadValue, Where(false));
    int width = NumberWidth(kind, value.type);
    switch (pending_.form) {
    case ValueForm::Empty:
        break;
    case ValueForm::Text:
        AppendTextBytes(value.bytes, pending_.text);
        break;
    case ValueForm::Texts:
        value.bytes = TextsBytes(pending_.texts);
        break;
    case ValueForm::Number:
        if (width < 8 && (pending_.number >> (8 * width)) != 0)
            return Fail(SnapshotProblem::BadValue, Where(false));
        value.bytes = NumberBytes(pending_.number, width);
        break;
    case ValueForm::Boolean:
        value.bytes.assign(1, (BYTE)pending_.number);
        break;
    case ValueForm::Guid:
        value.bytes.assign((const BYTE*)&pending_.guid, (const BYTE*)&pending_.guid + sizeof(GUID));
        break;
    case ValueForm::Time:
        value.bytes = NumberBytes(pending_.number, 8);
        break;
    case ValueForm::Base64:
        value.bytes = std::move(pending_.bytes);
        break;
    }
    if (value.bytes.size() > Snapshot::LargestValue)
        return Fail(SnapshotProblem::BeyondLimit, Where(false), Snapshot::LargestValue);
    if (pending_.hasSize && pending_.size != value.bytes.size()) {
        value.sizeDiffers = true;
        value.reportedSize = pending_.size;
    }
    return true;
}

SnapshotKey* Handler::KeyOf(Member member)
{
    switch (member) {
    case InstallerKey:
        return &snapshot_.classes.back().installerKey;
    case InterfaceKey:
        return &snapshot_.classes.back().interfaceKey;
    case HardwareKey:
        return &snapshot_.devices.back().hardwareKey;
    default:
        return &snapshot_.devices.back().softwareKey;
    }
}

std::vector<DEVPROPKEY>* Handler::PropertyKeysOf(Member member)
{
    SnapshotClass& setupClass = snapshot_.classes.back();
    return member == InstallerPropertyKeys ? &setupClass.installerPropertyKeys
                                           : &setupClass.interfacePropertyKeys;
}

bool Handler::parse_error(std::size_t position, const std::string&,
                          const nlohmann::detail::exception& error)
{
    if (problem.kind != SnapshotProblem::None)
        return false;
    if (strstr(error.what(), "UTF-8") || strstr(error.what(), "surrogate")) {
        problem.kind = SnapshotProblem::InvalidUtf8;
        problem.number = position;
    } else if (size_ > 0 && position > size_) {
        // The parser read past the last byte: the text stops in mid-value.
        problem.kind = SnapshotProblem::Truncated;
    } else {
        problem.kind = SnapshotProblem::NotJson;
        problem.number = position;
    }
    return false;
}

bool Handler::Finish()
{
    if (!scanning_)
        return true;
    if (!sawFormat)
        problem.kind = SnapshotProblem::OtherFormat;
    else if (!sawVersion)
        problem.kind = SnapshotProblem::Missing, problem.where = L"version";
    else
        problem = held_;
    return false;
}

std::wstring DeviceWhere(const Snapshot& snapshot, int device)
{
    std::wstring where = L"devices[" + std::to_wstring(device) + L"]";
    if (device >= 0 && device < (int)snapshot.devices.size() &&
        snapshot.devices[device].hasInstanceId)
        where += L" (" + snapshot.devices[device].instanceId + L")";
    return where;
}

SnapshotProblem::Kind KindOf(Snapshot::Problem found)
{
    switch (found) {
    case Snapshot::NoDevices:
        return SnapshotProblem::NoDevices;
    case Snapshot::NoRoot:
        return SnapshotProblem::NoRoot;
    case Snapshot::SecondRoot:
        return SnapshotProblem::SecondRoot;
    case Snapshot::DuplicateHandle:
        return SnapshotProblem::DuplicateHandle;
    case Snapshot::DuplicateInstanceId:
        return SnapshotProblem::DuplicateId;
    case Snapshot::UnknownParent:
        return SnapshotProblem::UnknownParent;
    case Snapshot::Cycle:
        return SnapshotProblem::Cycle;
    case Snapshot::TooDeep:
        return SnapshotProblem::TooDeep;
    case Snapshot::DuplicateClass:
        return SnapshotProblem::DuplicateClass;
    default:
        return SnapshotProblem::None;
    }
}

} // namespace

int SnapshotReader::Read(const char* text, size_t size, Snapshot& snapshot, SnapshotProblem& problem)
{
    snapshot = Snapshot();
    problem = SnapshotProblem();
    Handler handler(snapshot);
    handler.SetTextSize(size);
    bool parsed = nlohmann::json::sax_parse(text, text + size, &handler,
                                            nlohmann::json::input_format_t::json, true, false);
    if (!parsed || handler.Failed() || !handler.Finish()) {
        problem = handler.problem;
        if (problem.kind == SnapshotProblem::None)
            problem.kind = SnapshotProblem::NotJson;
        snapshot = Snapshot();
        return 0;
    }
    int device = -1;
    Snapshot::Problem found = snapshot.Index(&device);
    if (found != Snapshot::Sound) {
        problem.kind = KindOf(found);
        if (device >= 0)
            problem.where = DeviceWhere(snapshot, device);
        if (found == Snapshot::TooDeep)
            problem.number = Snapshot::DeepestTree;
        snapshot = Snapshot();
        return 0;
    }
    return 1;
}

int SnapshotReader::ReadFile(const wchar_t* path, Snapshot& snapshot, SnapshotProblem& problem)
{
    problem = SnapshotProblem();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem.kind = SnapshotProblem::CannotRead;
        problem.number = GetLastError();
        return 0;
    }
    LARGE_INTEGER size = {};
    std::string content;
    bool read = GetFileSizeEx(file, &size) != 0;
    if (read && (unsigned long long)size.QuadPart > Snapshot::LargestFile) {
        CloseHandle(file);
        problem.kind = SnapshotProblem::TooLarge;
        problem.number = Snapshot::LargestFile;
        return 0;
    }
    if (read) {
        content.resize((size_t)size.QuadPart);
        DWORD got = 0;
        read = content.empty() ||
               (::ReadFile(file, &content[0], (DWORD)content.size(), &got, nullptr) &&
                got == content.size());
    }
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!read) {
        problem.kind = SnapshotProblem::CannotRead;
        problem.number = error ? error : ERROR_READ_FAULT;
        return 0;
    }
    return Read(content.data(), content.size(), snapshot, problem);
}
