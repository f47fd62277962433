// The format keeps every value exactly: what is written is read back the
// same, byte for byte, whatever form each value takes in the text.

#include <gtest/gtest.h>

#include "SnapshotSample.h"
#include "snapshot/SnapshotReader.h"
#include "snapshot/SnapshotWriter.h"
#include "snapshot/ValueForm.h"

namespace {

void ExpectSameKey(const SnapshotKey& a, const SnapshotKey& b)
{
    ASSERT_EQ(a.present, b.present);
    ASSERT_EQ(a.values.size(), b.values.size());
    for (size_t i = 0; i < a.values.size(); ++i) {
        EXPECT_EQ(a.values[i].name, b.values[i].name);
        EXPECT_TRUE(a.values[i].value == b.values[i].value) << "value " << i;
    }
}

} // namespace

TEST(SnapshotFormat, EveryValueReadsBackAsWritten)
{
    Snapshot written = SampleSnapshot();
    std::string text = SampleText();
    Snapshot read;
    SnapshotProblem problem;
    ASSERT_EQ(1, SnapshotReader::Read(text.data(), text.size(), read, problem)) << problem.kind;

    EXPECT_EQ(written.header.computer, read.header.computer);
    EXPECT_EQ(written.header.taken, read.header.taken);
    ASSERT_EQ(written.classes.size(), read.classes.size());
    for (size_t i = 0; i < written.classes.size(); ++i) {
        const SnapshotClass &a = written.classes[i], &b = read.classes[i];
        EXPECT_TRUE(IsEqualGUID(a.guid, b.guid));
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.icon, b.icon);
        EXPECT_EQ(a.hasInstallerPropertyKeys, b.hasInstallerPropertyKeys);
        EXPECT_EQ(a.installerPropertyKeys.size(), b.installerPropertyKeys.size());
        ExpectSameKey(a.installerKey, b.installerKey);
    }
    ASSERT_EQ(written.devices.size(), read.devices.size());
    for (size_t i = 0; i < written.devices.size(); ++i) {
        const SnapshotDevice &a = written.devices[i], &b = read.devices[i];
        EXPECT_EQ(a.handle, b.handle);
        EXPECT_EQ(a.parent, b.parent);
        EXPECT_EQ(a.instanceId, b.instanceId);
        EXPECT_EQ(a.listed, b.listed);
        EXPECT_EQ(a.hasStatus, b.hasStatus);
        EXPECT_EQ(a.status, b.status);
        ASSERT_EQ(a.registryProperties.size(), b.registryProperties.size());
        for (size_t j = 0; j < a.registryProperties.size(); ++j) {
            EXPECT_EQ(a.registryProperties[j].code, b.registryProperties[j].code);
            EXPECT_TRUE(a.registryProperties[j].value == b.registryProperties[j].value) << i << "/" << j;
        }
        ASSERT_EQ(a.properties.size(), b.properties.size());
        for (size_t j = 0; j < a.properties.size(); ++j) {
            EXPECT_EQ(0, memcmp(&a.properties[j].key, &b.properties[j].key, sizeof(DEVPROPKEY)));
            EXPECT_TRUE(a.properties[j].value == b.properties[j].value) << i << "/" << j;
        }
        ExpectSameKey(a.softwareKey, b.softwareKey);
        ExpectSameKey(a.hardwareKey, b.hardwareKey);
    }
    // And the text it writes again is the same text.
    std::string again;
    EXPECT_EQ(1, SnapshotWriter::Write(read, again));
    EXPECT_EQ(text, again);
}

TEST(SnapshotFormat, ValuesTakeTheFormThatSuitsTypeAndBytes)
{
    struct Case {
        ValueKind kind;
        DWORD type;
        std::vector<BYTE> bytes;
        ValueForm form;
    } cases[] = {
        {ValueKind::Registry, REG_SZ, {'a', 0, 0, 0}, ValueForm::Text},
        {ValueKind::Registry, REG_SZ, {'a', 0}, ValueForm::Base64},           // no terminator
        {ValueKind::Registry, REG_SZ, {'a', 0, 0, 0, 0, 0}, ValueForm::Base64}, // two
        {ValueKind::Registry, REG_SZ, {0x00, 0xD8, 0, 0}, ValueForm::Base64},  // a lone surrogate
        {ValueKind::Registry, REG_MULTI_SZ, {0, 0}, ValueForm::Texts},
        {ValueKind::Registry, REG_MULTI_SZ, {'x', 0, 0, 0}, ValueForm::Base64}, // no list end
        {ValueKind::Registry, REG_DWORD, {1, 0, 0, 0}, ValueForm::Number},
        {ValueKind::Registry, REG_DWORD, {1, 0, 0}, ValueForm::Base64},
        {ValueKind::Registry, REG_BINARY, {}, ValueForm::Empty},
        {ValueKind::Property, DEVPROP_TYPE_BOOLEAN, {1}, ValueForm::Base64},   // neither 0 nor 0xFF
        {ValueKind::Property, DEVPROP_TYPE_INT32, {1, 0, 0, 0}, ValueForm::Base64},
        {ValueKind::Property, DEVPROP_TYPE_STRING, {'a', 0, 0, 0}, ValueForm::Text},
        {ValueKind::Registry, DEVPROP_TYPE_STRING, {'a', 0, 0, 0}, ValueForm::Base64}, // 0x12 is no REG_ string
    };
    for (const Case& c : cases) {
        SnapshotValue value;
        value.type = c.type;
        value.bytes = c.bytes;
        EXPECT_EQ((int)c.form, (int)ChooseForm(c.kind, value)) << "type " << c.type << ", " << c.bytes.size() << " bytes";
    }
}

TEST(SnapshotFormat, TimesAreSpelledAsUtcWithEveryTick)
{
    std::string text;
    ASSERT_EQ(1, TimeString(133485407990000000ull, text));
    EXPECT_EQ("2023-12-31T23:59:59.0000000Z", text);
    ASSERT_EQ(1, TimeString(0, text));
    EXPECT_EQ("1601-01-01T00:00:00.0000000Z", text);
    unsigned long long ticks = 0;
    ASSERT_EQ(1, ParseTimeString("2024-02-29T12:00:00.0000001Z", 28, ticks));
    ASSERT_EQ(1, TimeString(ticks, text));
    EXPECT_EQ("2024-02-29T12:00:00.0000001Z", text);
    EXPECT_EQ(0, ParseTimeString("2023-02-29T12:00:00.0000000Z", 28, ticks)) << "no leap day in 2023";
    EXPECT_EQ(0, TimeString(~0ull, text)) << "a year beyond 9999 has no spelling";
}
