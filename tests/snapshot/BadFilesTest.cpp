// Files that are no sound snapshot: each kind gets its own answer, and the
// answer names the place where it can.

#include <gtest/gtest.h>

#include "SnapshotSample.h"
#include "common/ScratchFile.h"
#include "snapshot/SnapshotReader.h"

#include <functional>
#include <string>

namespace {

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    size_t at = text.find(what);
    EXPECT_NE(std::string::npos, at) << what;
    if (at != std::string::npos)
        text.replace(at, what.size(), with);
    return text;
}

// The sample with its devices replaced by `devices` (a JSON array's items).
std::string WithDevices(const std::string& devices)
{
    std::string text = SampleText();
    size_t at = text.find("\"devices\": [");
    return text.substr(0, at) + "\"devices\": [" + devices + "]\n}\n";
}

std::string Device(const char* handle, const char* parent, const char* id)
{
    std::string device = std::string("{\"handle\": ") + handle;
    if (parent)
        device += std::string(", \"parent\": ") + parent;
    return device + ", \"instanceId\": \"" + id + "\"}";
}

SnapshotProblem Problem(const std::string& text)
{
    Snapshot snapshot;
    SnapshotProblem problem;
    EXPECT_EQ(0, SnapshotReader::Read(text.data(), text.size(), snapshot, problem));
    EXPECT_TRUE(snapshot.devices.empty()) << "nothing of a bad file is kept";
    return problem;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

struct Case {
    const char* name;
    std::function<std::string()> text;
    SnapshotProblem::Kind kind;
    const char* where; // nullptr: not looked at
};

} // namespace

TEST(SnapshotBadFiles, EachKindIsToldApart)
{
    const std::string sample = SampleText();
    const std::string nested = std::string(100000, '[') + std::string(100000, ']');
    const Case cases[] = {
        {"empty", [] { return std::string(); }, SnapshotProblem::NotJson, nullptr},
        {"text", [] { return std::string("device HTREE\\ROOT\\0\n"); }, SnapshotProblem::NotJson, nullptr},
        {"trailing garbage", [&] { return sample + "x"; }, SnapshotProblem::NotJson, nullptr},
        {"truncated", [&] { return sample.substr(0, sample.size() / 2); }, SnapshotProblem::Truncated, nullptr},
        {"ill-formed UTF-8", [&] { return Replace(sample, "SAMPLE", "SAM\xC3\x28PLE"); }, SnapshotProblem::InvalidUtf8, nullptr},
        {"escaped lone surrogate", [&] { return Replace(sample, "SAMPLE", "SAM\\uD800PLE"); }, SnapshotProblem::InvalidUtf8, nullptr},
        {"an array", [] { return std::string("[1, 2]"); }, SnapshotProblem::OtherFormat, nullptr},
        {"another format", [&] { return Replace(sample, "Quillmere snapshot", "Something else"); }, SnapshotProblem::OtherFormat, nullptr},
        {"no format", [] { return std::string("{\"devices\": []}"); }, SnapshotProblem::OtherFormat, nullptr},
        {"newer version", [&] { return Replace(sample, "\"version\": 1", "\"version\": 2"); }, SnapshotProblem::NewerVersion, nullptr},
        {"newer version, other members",
         [] { return std::string("{\"devices\": {\"v2\": true}, \"format\": \"Quillmere snapshot\", \"version\": 7}"); },
         SnapshotProblem::NewerVersion, nullptr},
        {"version zero", [&] { return Replace(sample, "\"version\": 1", "\"version\": 0"); }, SnapshotProblem::WrongType, "version"},
        {"no devices member", [] { return std::string("{\"format\": \"Quillmere snapshot\", \"version\": 1}"); }, SnapshotProblem::Missing, "devices"},
        {"handle as text", [&] { return Replace(sample, "\"handle\": 1,", "\"handle\": \"1\","); }, SnapshotProblem::WrongType, "devices[0].handle"},
        {"negative status", [&] { return Replace(sample, "\"status\": 25174026", "\"status\": -1"); }, SnapshotProblem::WrongType, "devices[0].status"},
        {"fractional pid", [&] { return Replace(sample, "\"pid\": 10", "\"pid\": 10.5"); }, SnapshotProblem::WrongType, nullptr},
        {"devices as object", [] { return std::string("{\"format\": \"Quillmere snapshot\", \"version\": 1, \"devices\": {}}"); }, SnapshotProblem::WrongType, "devices"},
        {"member twice", [&] { return Replace(sample, "\"handle\": 1,", "\"handle\": 1, \"handle\": 1,"); }, SnapshotProblem::Duplicate, "devices[0].handle"},
        {"no handle", [] { return WithDevices("{\"instanceId\": \"X\"}"); }, SnapshotProblem::Missing, "devices[0].handle"},
        {"number for a string type", [&] { return Replace(sample, "\"type\": 1, \"text\": \"ACPI x64-based PC\"", "\"type\": 1, \"number\": 5"); }, SnapshotProblem::BadValue, nullptr},
        {"two forms", [&] { return Replace(sample, "\"type\": 4, \"number\": 31", "\"type\": 4, \"number\": 31, \"base64\": \"AAAAAA==\""); }, SnapshotProblem::BadValue, nullptr},
        {"number too wide", [&] { return Replace(sample, "\"number\": 7", "\"number\": 256"); }, SnapshotProblem::BadValue, nullptr},
        {"broken Base64", [&] { return Replace(sample, "\"base64\": \"AQID\"", "\"base64\": \"AQI*\""); }, SnapshotProblem::BadValue, nullptr},
        {"broken GUID", [&] { return Replace(sample, "\"guid\": \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"", "\"guid\": \"{4D36E972-E325-11CE-BFC1-08002BE1031}\""); }, SnapshotProblem::BadValue, "classes[0].guid"},
        {"broken time", [&] { return Replace(sample, "2023-12-31T23:59:59.0000000Z", "2023-13-31T23:59:59.0000000Z"); }, SnapshotProblem::BadValue, nullptr},
        {"broken icon", [&] { return Replace(sample, "\"icon\": \"AAAB", "\"icon\": \"AAAC"); }, SnapshotProblem::BadValue, "classes[0].icon"},
        {"NUL in a name", [&] { return Replace(sample, "SAMPLE", "SAM\\u0000PLE"); }, SnapshotProblem::BadValue, "computer"},
        {"deep nesting", [&] { return Replace(sample, "\"computer\"", "\"later\": " + nested + ", \"computer\""); }, SnapshotProblem::BeyondLimit, "nesting"},
        {"long instance ID", [] { return WithDevices(Device("1", nullptr, std::string(40000, 'A').c_str())); }, SnapshotProblem::BeyondLimit, "devices[0].instanceId"},
        {"no root", [] { return WithDevices(Device("1", "1", "A")); }, SnapshotProblem::NoRoot, nullptr},
        {"two roots", [] { return WithDevices(Device("1", nullptr, "A") + "," + Device("2", nullptr, "B")); }, SnapshotProblem::SecondRoot, "devices[1] (B)"},
        {"handle twice", [] { return WithDevices(Device("1", nullptr, "A") + "," + Device("1", "1", "B")); }, SnapshotProblem::DuplicateHandle, "devices[1] (B)"},
        {"instance ID twice", [] { return WithDevices(Device("1", nullptr, "ROOT\\\\A") + "," + Device("2", "1", "root\\\\a")); }, SnapshotProblem::DuplicateId, "devices[1] (root\\a)"},
        {"orphan", [] { return WithDevices(Device("1", nullptr, "A") + "," + Device("2", "9", "B")); }, SnapshotProblem::UnknownParent, "devices[1] (B)"},
        {"cycle", [] { return WithDevices(Device("1", nullptr, "A") + "," + Device("2", "3", "B") + "," + Device("3", "2", "C")); }, SnapshotProblem::Cycle, "devices[1] (B)"},
        {"own parent", [] { return WithDevices(Device("1", nullptr, "A") + "," + Device("2", "2", "B")); }, SnapshotProblem::Cycle, "devices[1] (B)"},
        {"no devices", [] { return WithDevices(""); }, SnapshotProblem::NoDevices, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SnapshotProblem problem = Problem(c.text());
        EXPECT_EQ(c.kind, problem.kind);
        if (c.where) {
            EXPECT_EQ(c.where, Narrow(problem.where));
        }
    }
    EXPECT_EQ(2u, Problem(Replace(SampleText(), "\"version\": 1", "\"version\": 2")).number);
}

TEST(SnapshotBadFiles, LimitsOfCountAndDepth)
{
    // A chain deeper than the viewer's tree may be, and more devices than a
    // snapshot may hold.
    std::string chain = "{\"handle\": 1}";
    for (int i = 2; i <= Snapshot::DeepestTree + 2; ++i)
        chain += ",{\"handle\": " + std::to_string(i) + ", \"parent\": " + std::to_string(i - 1) + "}";
    SnapshotProblem deep = Problem(WithDevices(chain));
    EXPECT_EQ(SnapshotProblem::TooDeep, deep.kind);
    EXPECT_EQ((unsigned long long)Snapshot::DeepestTree, deep.number);

    std::string many = "{\"handle\": 1}";
    many.reserve(Snapshot::LargestDeviceCount * 30u);
    for (int i = 2; i <= Snapshot::LargestDeviceCount + 1; ++i)
        many += ",{\"handle\": " + std::to_string(i) + ", \"parent\": 1}";
    SnapshotProblem crowded = Problem(WithDevices(many));
    EXPECT_EQ(SnapshotProblem::BeyondLimit, crowded.kind);
    EXPECT_EQ(L"devices", crowded.where);
}

TEST(SnapshotBadFiles, FilesTooLargeOrMissingAreNotRead)
{
    Snapshot snapshot;
    SnapshotProblem problem;
    ScratchFile large(L".quillmere.json");
    HANDLE file = CreateFileW(large.Path(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER size;
    size.QuadPart = (LONGLONG)Snapshot::LargestFile + 1;
    EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
    CloseHandle(file);
    EXPECT_EQ(0, SnapshotReader::ReadFile(large.Path(), snapshot, problem));
    EXPECT_EQ(SnapshotProblem::TooLarge, problem.kind);

    ScratchFile missing(L".quillmere.json");
    EXPECT_EQ(0, SnapshotReader::ReadFile(missing.Path(), snapshot, problem));
    EXPECT_EQ(SnapshotProblem::CannotRead, problem.kind);
    EXPECT_EQ((unsigned long long)ERROR_FILE_NOT_FOUND, problem.number);

    // And the positive control: the same way, a sound file reads.
    ASSERT_TRUE(missing.Write(SampleText()));
    EXPECT_EQ(1, SnapshotReader::ReadFile(missing.Path(), snapshot, problem)) << problem.kind;
}
