// Ten thousand damaged snapshots: cut short, bytes changed, values of one
// type given as another, nested without end, lines doubled or dropped.
// Every one is refused with a reason or read into a sound snapshot, which is
// then served and shown; none crashes or hangs the reader.

#include <gtest/gtest.h>

#include "SnapshotSample.h"
#include "common/RecordingListSink.h"
#include "common/RecordingTreeSink.h"
#include "devices/DeviceTree.h"
#include "snapshot/SnapshotBinding.h"
#include "snapshot/SnapshotReader.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const int Mutations = 10000;
// Sound results are shown by the model too, at most this many (each needs
// a private hive of its own).
const int MostShown = 40;

// A token to swap in for a scalar: each of the JSON types and some of the
// values at the edges of what the format takes.
const char* const Scalars[] = {
    "null", "true", "false", "0", "-1", "4294967296", "18446744073709551615", "1e308", "0.5",
    "\"\"", "\"x\"", "\"{4D36E972-E325-11CE-BFC1-08002BE10318}\"", "\"AAAA\"", "[]", "{}",
    "{\"utf16\": \"AADY\"}", "\"2023-12-31T23:59:59.0000000Z\"",
};

std::string Mutate(const std::string& sample, std::mt19937& random)
{
    std::string text = sample;
    auto at = [&](size_t size) { return size ? random() % size : 0; };
    switch (random() % 7) {
    case 0: // cut short
        text.resize(at(text.size()));
        break;
    case 1: // a few bytes changed, any value
        for (int i = 0, n = 1 + (int)(random() % 4); i < n && !text.empty(); ++i)
            text[at(text.size())] = (char)(random() & 0xFF);
        break;
    case 2: { // a scalar swapped for one of another type
        size_t colon = text.find(": ", at(text.size()));
        if (colon == std::string::npos)
            break;
        size_t end = text.find_first_of(",}]\n", colon + 2);
        if (end == std::string::npos)
            break;
        text.replace(colon + 2, end - colon - 2, Scalars[random() % (sizeof Scalars / sizeof Scalars[0])]);
        break;
    }
    case 3: { // deep nesting where a value goes
        size_t colon = text.find(": ", at(text.size()));
        if (colon == std::string::npos)
            break;
        size_t depth = 1 + random() % 3000;
        text.insert(colon + 2, std::string(depth, '[') + std::string(random() % 2 ? depth : 0, ']') + ",");
        break;
    }
    case 4: { // a line doubled
        size_t start = text.rfind('\n', at(text.size()));
        size_t end = text.find('\n', start == std::string::npos ? 0 : start + 1);
        if (start != std::string::npos && end != std::string::npos)
            text.insert(end, text.substr(start, end - start));
        break;
    }
    case 5: { // a line dropped
        size_t start = text.rfind('\n', at(text.size()));
        size_t end = text.find('\n', start == std::string::npos ? 0 : start + 1);
        if (start != std::string::npos && end != std::string::npos)
            text.erase(start, end - start);
        break;
    }
    default: { // digits of a number changed: handles, parents, types, sizes
        size_t digit = text.find_first_of("0123456789", at(text.size()));
        if (digit != std::string::npos)
            text[digit] = (char)('0' + random() % 10);
        break;
    }
    }
    return text;
}

void Show(const std::shared_ptr<Snapshot>& snapshot)
{
    SnapshotBinding binding;
    DWORD error = 0;
    ASSERT_EQ(1, binding.Serve(snapshot, &error)) << error;
    DeviceTree model;
    model.Api().UseBinding(&binding);
    model.Start();
    RecordingTreeSink tree;
    model.RebuildTree(tree, nullptr);
    EXPECT_EQ((int)snapshot->devices.size(), tree.ItemCount());
    // The property list of each device down one line of descent.
    for (DeviceNode* node = model.TopLevel().First(); node; node = node->children.First()) {
        RecordingListSink list;
        model.FillPropertyList(list, node);
        EXPECT_FALSE(list.rows.empty());
    }
    model.Stop();
    EXPECT_EQ(0, binding.OpenSets());
}

} // namespace

TEST(SnapshotMutations, TenThousandDamagedFilesAreReadOrRefused)
{
    const std::string sample = SampleText();
    std::mt19937 random(20261209);
    int refused = 0, read = 0, shown = 0;
    for (int i = 0; i < Mutations; ++i) {
        std::string text = Mutate(sample, random);
        auto snapshot = std::make_shared<Snapshot>();
        SnapshotProblem problem;
        if (!SnapshotReader::Read(text.data(), text.size(), *snapshot, problem)) {
            ++refused;
            ASSERT_NE(SnapshotProblem::None, problem.kind) << "mutation " << i << " refused without a reason";
            continue;
        }
        ++read;
        ASSERT_GE(snapshot->Root(), 0) << "mutation " << i;
        if (shown < MostShown && i % 7 == 0) {
            ++shown;
            Show(snapshot);
        }
    }
    // Both outcomes happen, so the run tells something about each.
    EXPECT_GT(refused, Mutations / 2);
    EXPECT_GT(read, 100);
    EXPECT_GT(shown, 10);
}
