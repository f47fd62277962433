#include "snapshot/SnapshotWriter.h"

#include "properties/PropertyKeyNames.h"
#include "properties/PropertyList.h"
#include "services/Base64.h"
#include "snapshot/ValueForm.h"

#include <stdio.h>

namespace {

class Json {
public:
    explicit Json(std::string& out) : out_(out) {}

    void Raw(const char* text) { out_ += text; }
    void Line(int indent) { out_ += '\n'; out_.append((size_t)indent * 2, ' '); }
    void Key(const char* name)
    {
        out_ += '"';
        out_ += name;
        out_ += "\": ";
    }
    void Next(bool& first)
    {
        if (!first)
            out_ += ", ";
        first = false;
    }
    void Number(unsigned long long number)
    {
        char text[24];
        snprintf(text, sizeof text, "%llu", number);
        out_ += text;
    }
    void Ascii(const std::string& text)
    {
        out_ += '"';
        out_ += text;
        out_ += '"';
    }
    // A JSON string of well-formed UTF-16.
    void String(const wchar_t* text, size_t length)
    {
        out_ += '"';
        for (size_t i = 0; i < length; ++i) {
            unsigned code = text[i];
            if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length)
                code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
            Character(code);
        }
        out_ += '"';
    }
    void String(const std::wstring& text) { String(text.c_str(), text.size()); }
    // A name or ID: a string where it is well-formed UTF-16, else its code
    // units in Base64, which no JSON string can carry.
    void Text(const std::wstring& text)
    {
        if (IsWellFormedUtf16(text.c_str(), text.size())) {
            String(text);
            return;
        }
        out_ += "{\"utf16\": ";
        Base64(text.c_str(), text.size() * sizeof(wchar_t));
        out_ += '}';
    }
    void Base64(const void* data, size_t size)
    {
        WideString encoded;
        EncodeBase64(data, size, encoded);
        out_ += '"';
        for (int i = 0; i < encoded.Length(); ++i)
            out_ += (char)encoded.At(i);
        out_ += '"';
    }

private:
    void Character(unsigned code)
    {
        if (code == '"' || code == '\\') {
            out_ += '\\';
            out_ += (char)code;
        } else if (code < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04X", code);
            out_ += escaped;
        } else if (code < 0x80) {
            out_ += (char)code;
        } else if (code < 0x800) {
            out_ += (char)(0xC0 | (code >> 6));
            out_ += (char)(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out_ += (char)(0xE0 | (code >> 12));
            out_ += (char)(0x80 | ((code >> 6) & 0x3F));
            out_ += (char)(0x80 | (code & 0x3F));
        } else {
            out_ += (char)(0xF0 | (code >> 18));
            out_ += (char)(0x80 | ((code >> 12) & 0x3F));
            out_ += (char)(0x80 | ((code >> 6) & 0x3F));
            out_ += (char)(0x80 | (code & 0x3F));
        }
    }

    std::string& out_;
};

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; text && *text; ++text)
        narrow += (char)*text;
    return narrow;
}

const wchar_t* RegistryPropertyText(ULONG code)
{
    const RegistryPropertyName* names = PropertyList::RegistryProperties();
    for (int i = 0; i < PropertyList::RegistryPropertyCount; ++i)
        if (names[i].code == code)
            return names[i].name;
    return nullptr;
}

// The members of a value after those that name it: its type, its data in
// the form that suits it, and the size the platform reported when that
// differs from the data's.
void WriteValue(Json& json, ValueKind kind, const SnapshotValue& value)
{
    json.Raw(", ");
    json.Key("type");
    json.Number(value.type);
    ValueForm form = ChooseForm(kind, value);
    std::string spelled;
    switch (form) {
    case ValueForm::Empty:
        break;
    case ValueForm::Text:
        json.Raw(", ");
        json.Key("text");
        json.String(TextOf(value.bytes));
        break;
    case ValueForm::Texts: {
        json.Raw(", ");
        json.Key("texts");
        json.Raw("[");
        bool first = true;
        for (const std::wstring& text : TextsOf(value.bytes)) {
            json.Next(first);
            json.String(text);
        }
        json.Raw("]");
        break;
    }
    case ValueForm::Number:
        json.Raw(", ");
        json.Key("number");
        json.Number(NumberOf(value.bytes));
        break;
    case ValueForm::Boolean:
        json.Raw(", ");
        json.Key("boolean");
        json.Raw(value.bytes[0] ? "true" : "false");
        break;
    case ValueForm::Guid: {
        GUID guid;
        memcpy(&guid, value.bytes.data(), sizeof guid);
        json.Raw(", ");
        json.Key("guid");
        json.Ascii(GuidString(guid));
        break;
    }
    case ValueForm::Time:
        // Chosen only for a time that has a spelling.
        if (TimeString(NumberOf(value.bytes), spelled)) {
            json.Raw(", ");
            json.Key("time");
            json.Ascii(spelled);
        }
        break;
    case ValueForm::Base64:
        json.Raw(", ");
        json.Key("base64");
        json.Base64(value.bytes.data(), value.bytes.size());
        break;
    }
    if (value.sizeDiffers) {
        json.Raw(", ");
        json.Key("size");
        json.Number(value.reportedSize);
    }
}

void WritePropertyKey(Json& json, const DEVPROPKEY& key)
{
    json.Key("fmtid");
    json.Ascii(GuidString(key.fmtid));
    json.Raw(", ");
    json.Key("pid");
    json.Number(key.pid);
    if (const wchar_t* name = PropertyKeyNames::Find(key)) {
        json.Raw(", ");
        json.Key("name");
        json.Ascii(Narrow(name));
    }
}

// `"member": [` and one line per item, or nothing for an absent list.
template <class Item, class WriteItem>
void WriteList(Json& json, const char* member, const std::vector<Item>& items, int indent,
               WriteItem write)
{
    json.Raw(",");
    json.Line(indent);
    json.Key(member);
    json.Raw("[");
    bool first = true;
    for (const Item& item : items) {
        if (!first)
            json.Raw(",");
        first = false;
        json.Line(indent + 1);
        json.Raw("{");
        write(item);
        json.Raw("}");
    }
    if (!items.empty())
        json.Line(indent);
    json.Raw("]");
}

void WriteKey(Json& json, const char* member, const SnapshotKey& key, int indent)
{
    if (!key.present)
        return;
    WriteList(json, member, key.values, indent, [&](const SnapshotNamedValue& value) {
        json.Key("name");
        json.Text(value.name);
        WriteValue(json, ValueKind::Registry, value.value);
    });
}

void WritePropertyKeys(Json& json, const char* member, bool present,
                       const std::vector<DEVPROPKEY>& keys, int indent)
{
    if (present)
        WriteList(json, member, keys, indent, [&](const DEVPROPKEY& key) { WritePropertyKey(json, key); });
}

void WriteHeader(Json& json, const SnapshotHeader& header)
{
    json.Key("format");
    json.Ascii(Snapshot::FormatName);
    json.Raw(",");
    json.Line(1);
    json.Key("version");
    json.Number(Snapshot::FormatVersion);
    json.Raw(",");
    json.Line(1);
    json.Key("computer");
    json.Text(header.computer);
    json.Raw(",");
    json.Line(1);
    json.Key("windows");
    json.Raw("{");
    json.Key("name");
    json.Text(header.windows);
    json.Raw(", ");
    json.Key("version");
    json.Text(header.windowsVersion);
    json.Raw(", ");
    json.Key("build");
    json.Number(header.windowsBuild);
    json.Raw(", ");
    json.Key("revision");
    json.Number(header.windowsRevision);
    json.Raw("},");
    json.Line(1);
    json.Key("processor");
    json.Raw("{");
    json.Key("architecture");
    json.Text(header.architecture);
    json.Raw(", ");
    json.Key("name");
    json.Text(header.processor);
    json.Raw(", ");
    json.Key("count");
    json.Number(header.processorCount);
    json.Raw("},");
    json.Line(1);
    json.Key("taken");
    json.Text(header.taken);
    json.Raw(",");
    json.Line(1);
    json.Key("quillmere");
    json.Text(header.quillmere);
}

void WriteClass(Json& json, const SnapshotClass& setupClass)
{
    json.Key("guid");
    json.Ascii(GuidString(setupClass.guid));
    if (setupClass.hasName) {
        json.Raw(",");
        json.Line(3);
        json.Key("name");
        json.Text(setupClass.name);
    }
    if (!setupClass.icon.empty()) {
        json.Raw(",");
        json.Line(3);
        json.Key("icon");
        json.Base64(setupClass.icon.data(), setupClass.icon.size());
    }
    WritePropertyKeys(json, "installerPropertyKeys", setupClass.hasInstallerPropertyKeys,
                      setupClass.installerPropertyKeys, 3);
    WritePropertyKeys(json, "interfacePropertyKeys", setupClass.hasInterfacePropertyKeys,
                      setupClass.interfacePropertyKeys, 3);
    WriteKey(json, "installerKey", setupClass.installerKey, 3);
    WriteKey(json, "interfaceKey", setupClass.interfaceKey, 3);
}

void WriteDevice(Json& json, const SnapshotDevice& device)
{
    json.Key("handle");
    json.Number(device.handle);
    if (device.hasParent) {
        json.Raw(", ");
        json.Key("parent");
        json.Number(device.parentHandle);
    }
    if (device.hasInstanceId) {
        json.Raw(",");
        json.Line(3);
        json.Key("instanceId");
        json.Text(device.instanceId);
    }
    if (device.listed) {
        json.Raw(",");
        json.Line(3);
        json.Key("class");
        json.Ascii(GuidString(device.setupClass));
    }
    if (device.hasStatus) {
        json.Raw(",");
        json.Line(3);
        json.Key("status");
        json.Number(device.status);
        json.Raw(", ");
        json.Key("problem");
        json.Number(device.problem);
    }
    WriteList(json, "registryProperties", device.registryProperties, 3,
              [&](const SnapshotRegistryProperty& property) {
                  json.Key("code");
                  json.Number(property.code);
                  if (const wchar_t* name = RegistryPropertyText(property.code)) {
                      json.Raw(", ");
                      json.Key("name");
                      json.Ascii(Narrow(name));
                  }
                  WriteValue(json, ValueKind::Registry, property.value);
              });
    WriteList(json, "properties", device.properties, 3, [&](const SnapshotProperty& property) {
        WritePropertyKey(json, property.key);
        WriteValue(json, ValueKind::Property, property.value);
    });
    WriteKey(json, "hardwareKey", device.hardwareKey, 3);
    WriteKey(json, "softwareKey", device.softwareKey, 3);
}

template <class Item, class WriteItem>
void WriteObjects(Json& json, const char* member, const std::vector<Item>& items, WriteItem write)
{
    json.Raw(",");
    json.Line(1);
    json.Key(member);
    json.Raw("[");
    bool first = true;
    for (const Item& item : items) {
        json.Raw(first ? "" : ",");
        first = false;
        json.Line(2);
        json.Raw("{");
        write(item);
        json.Raw("}");
    }
    json.Line(1);
    json.Raw("]");
}

} // namespace

int SnapshotWriter::Write(const Snapshot& snapshot, std::string& out)
{
    out.clear();
    // About a kilobyte a device, reserved once.
    out.reserve(4096 + snapshot.devices.size() * 1024);
    Json json(out);
    json.Raw("{");
    json.Line(1);
    WriteHeader(json, snapshot.header);
    WriteObjects(json, "classes", snapshot.classes,
                 [&](const SnapshotClass& setupClass) { WriteClass(json, setupClass); });
    WriteObjects(json, "devices", snapshot.devices,
                 [&](const SnapshotDevice& device) { WriteDevice(json, device); });
    json.Line(0);
    json.Raw("}");
    json.Line(0);
    return 1;
}
