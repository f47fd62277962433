// Comparisons: two moments of the generated 20,000-devnode machine (the
// snapshot of it, and a later one in which devices were added, removed,
// moved and changed) compared, and the union shown in a tree control with
// its marks, as the main window does; beside it the floor of the same run,
// the model showing the later moment alone in the same tree. The closing
// line says PASS or MISS for the goal.
//
//   bench_compare.exe [MACHINE FILE]   (default: machine_20000.txt)

#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ControlRecording.h"
#include "compare/ComparedMachines.h"
#include "compare/MarkedTreeSink.h"
#include "devices/DeviceTree.h"
#include "resources/resource.h"
#include "snapshot/SnapshotBinding.h"
#include "snapshot/SnapshotCapture.h"
#include "ui/TreeViewControl.h"

namespace {

const int Rounds = 5;
const double Goal = 2000;
const int MarkIcons[DeviceComparison::ChangeCount] = {0, IDI_MARK_ADDED, IDI_MARK_REMOVED, IDI_MARK_CHANGED};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

std::wstring BesideExe(const wchar_t* file)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

// A later moment of `earlier`: every 97th device without children gone,
// every 89th one moved under the root, every 41st with another status and
// every 53rd with another description, and 200 new devices under the root.
std::shared_ptr<Snapshot> LaterMoment(const Snapshot& earlier)
{
    auto later = std::make_shared<Snapshot>();
    later->header = earlier.header;
    later->header.taken = L"2026-12-09T12:00:00Z";
    later->classes = earlier.classes;
    DEVINST highest = 0;
    const DEVINST root = earlier.devices[earlier.Root()].handle;
    for (int i = 0; i < (int)earlier.devices.size(); ++i) {
        const SnapshotDevice& device = earlier.devices[i];
        highest = std::max(highest, device.handle);
        bool leaf = device.firstChild < 0 && device.hasParent;
        if (leaf && i % 97 == 0)
            continue;
        SnapshotDevice copy = device;
        if (leaf && i % 89 == 0)
            copy.parentHandle = root;
        if (i % 41 == 0)
            copy.status ^= 0x400;
        if (i % 53 == 0)
            for (SnapshotRegistryProperty& property : copy.registryProperties)
                if (property.code == CM_DRP_DEVICEDESC)
                    property.value.bytes.insert(property.value.bytes.begin(), {'*', 0});
        later->devices.push_back(std::move(copy));
    }
    for (int i = 0; i < 200; ++i) {
        SnapshotDevice added = earlier.devices[earlier.Root()];
        added.handle = ++highest;
        added.hasParent = true;
        added.parentHandle = root;
        added.instanceId = L"ROOT\\BENCH\\" + std::to_wstring(i);
        later->devices.push_back(std::move(added));
    }
    if (later->Index() != Snapshot::Sound)
        printf("the later moment forms no tree\n");
    return later;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const wchar_t* machine = argc > 1 ? argv[1] : L"machine_20000.txt";
    INITCOMMONCONTROLSEX common = {sizeof(common), ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&common);
    HWND frame = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600, 700,
                                 nullptr, nullptr, nullptr, nullptr);
    HWND treeWindow = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | 0x27, 0, 0, 580, 650, frame,
                                      (HMENU)1004, nullptr, nullptr);
    TreeViewControl tree;
    tree.Init(treeWindow, GetModuleHandleW(nullptr), TreeViewControl::KeepChildrenOnCollapse);
    MarkedTreeSink marked(tree, MarkIcons);

    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", BesideExe(machine).c_str());
    auto earlier = std::make_shared<Snapshot>();
    {
        DeviceTree live;
        live.Start();
        SnapshotHeader header;
        header.computer = L"BENCH";
        header.taken = L"2026-12-01T10:00:00Z";
        double start = NowMs();
        if (!SnapshotCapture::Capture(live.Api(), header, *earlier)) {
            printf("%ls: no device tree\n", machine);
            return 1;
        }
        printf("Quillmere comparison benchmark: medians of %d rounds\n\n"
               "%ls: %zu devnodes (captured in %.0f ms, untimed below)\n",
               Rounds, machine, earlier->devices.size(), NowMs() - start);
    }
    std::shared_ptr<Snapshot> later = LaterMoment(*earlier);

    std::vector<double> compare, shown, total, floor, rows;
    int counts[DeviceComparison::ChangeCount] = {};
    for (int round = 0; round < Rounds; ++round) {
        // The floor: the later moment alone, served and shown in the tree.
        {
            SnapshotBinding binding;
            DWORD error = 0;
            double start = NowMs();
            if (!binding.Serve(later, &error))
                printf("no private hive (%lu)\n", error);
            DeviceTree model;
            model.Api().UseBinding(&binding);
            model.Start();
            model.RebuildTree(tree, nullptr);
            floor.push_back(NowMs() - start);
            tree.DeleteAllItems();
        }
        ComparedMachines machines;
        DWORD error = 0;
        double start = NowMs();
        if (!machines.Start(earlier, later, &error))
            printf("the comparison failed (%lu)\n", error);
        double compared = NowMs();
        DeviceTree model;
        model.Api().UseBinding(machines.Binding());
        model.Start();
        marked.Show(&machines.Comparison());
        model.RebuildTree(marked, nullptr);
        double done = NowMs();
        compare.push_back(compared - start);
        shown.push_back(done - compared);
        total.push_back(done - start);
        for (int change = 0; change < DeviceComparison::ChangeCount; ++change)
            counts[change] = machines.Comparison().Count((DeviceComparison::Change)change);

        // The rows of a changed device before and now, as a selection shows them.
        DeviceNode* root = model.Enumerate(true);
        DeviceNode* changed = root ? root->children.First() : nullptr;
        while (changed && machines.ChangeOf(changed) != DeviceComparison::Changed)
            changed = changed->next;
        std::vector<ComparedRow> compared_rows;
        start = NowMs();
        machines.Rows(model, changed ? changed : root, compared_rows);
        rows.push_back(NowMs() - start);

        marked.Show(nullptr);
        tree.DeleteAllItems();
        model.Stop();
        machines.Stop();
    }
    printf("  %d new, %d removed, %d changed, %d unchanged\n", counts[DeviceComparison::Added],
           counts[DeviceComparison::Removed], counts[DeviceComparison::Changed],
           counts[DeviceComparison::Unchanged]);
    printf("  compared and shown %.0f ms: the union and each device's change, both moments served %.0f ms, "
           "the union shown in the tree with its marks %.0f ms\n",
           Median(total), Median(compare), Median(shown));
    printf("  floor: the later moment alone served and shown in the same tree %.0f ms (ratio %.2f)\n",
           Median(floor), Median(floor) > 0 ? Median(total) / Median(floor) : 0.0);
    printf("  a changed device's rows before and now %.0f ms\n", Median(rows));
    printf("\nGoals:\n%s  comparing two %zu-devnode snapshots and showing the union %.0f ms (< %.0f ms)\n",
           Median(total) < Goal ? "PASS" : "MISS", earlier->devices.size(), Median(total), Goal);
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
    DestroyWindow(frame);
    return 0;
}
