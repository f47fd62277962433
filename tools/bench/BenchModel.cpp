// Measures the device model on the simulated machines against exactly the
// control work it causes: every tree and list operation the model issues is
// recorded, and replaying those operations straight into the same controls,
// without the model, is the baseline. Each figure shows the model's total,
// the replay, and the model's own time (the total less the time spent inside
// control calls), as the median of nine rounds. A rebuild that reads the
// machine replays the device calls it made too, so its replay is all the
// platform work the rebuild asked for. Then memory and the
// user-interface objects after repeated rebuilds, where the control time goes
// and what an expansion message per item would cost instead, and the time
// from starting Quillmere.exe to a filled tree. One closing line per goal
// says PASS or MISS.
//
//   bench_model.exe [machine files]   (default: machine_5000.txt and machine_20000.txt)
//
// Run from build/bin with WINEDLLOVERRIDES=setupapi=n,b (./build.sh bench).

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <math.h>
#include <stdio.h>
#include <wchar.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ControlRecording.h"
#include "DeviceCallRecording.h"
#include "app/MainWindow.h"
#include "devices/DeviceTree.h"
#include "services/ProgramLaunch.h"
#include "resources/resource.h"
#include "ui/ListViewControl.h"
#include "ui/TreeViewControl.h"

namespace {

const int Rounds = 3;
// The ratio of model to replay is judged on more rounds, each round a pair
// taken back to back, so that one noisy round cannot decide it.
const int RatioRounds = 9;
const int TreeId = 1004; // the main window's tree control

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One figure: the model's total, the replay of what it asked of the
// controls, and the model's own share.
struct Figure {
    std::string label;
    double total = 0;
    double replay = 0;
    double own = 0;
    double control = 0;
    double machine = 0; // of the replay: the device calls made again
    int machineCalls = 0;
    // The median of the rounds' own ratios (model / replay of the same
    // round), with the middle half of them around it.
    double ratio = 0, ratioLow = 0, ratioHigh = 0;
    int rounds = 0;
    ControlTime anatomy; // of the replay rounds, summed
    double Ratio() const { return ratio; }
};

void PrintFigure(const Figure& figure)
{
    printf("  %-46s model %9.1f ms | replay %9.1f ms | ratio %5.2f (%.2f-%.2f) | model's own %8.1f ms\n",
           figure.label.c_str(), figure.total, figure.replay, figure.ratio, figure.ratioLow,
           figure.ratioHigh, figure.own);
    if (figure.machine > 0)
        printf("    of the replay, the %d device calls that read the machine %.1f ms; the model's own "
               "beyond them %.1f ms\n", figure.machineCalls, figure.machine, figure.own - figure.machine);
}

// The value a quarter (or three quarters) of the way up the sorted values.
double Quartile(std::vector<double> values, int quarter)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) * quarter / 4];
}

void PrintAnatomy(const ControlTime& time, int rounds)
{
    printf("    where the control time goes (replay, per round):");
    for (int kind = 0; kind < OperationKinds; ++kind)
        if (time.calls[kind])
            printf(" %s %.1f ms (%d);", OperationName(kind), time.ms[kind] / rounds,
                   time.calls[kind] / rounds);
    printf("\n");
}

// `RatioRounds` rounds of the model and of its replay, each round a pair
// taken back to back so that both see the same machine load; the figure is
// the median of each series and of the rounds' own ratios.
Figure Measure(const std::string& label, const std::function<double(ControlTime&)>& model,
               const std::function<void(ControlTime&)>& replay)
{
    std::vector<double> totals, replays, owns, controls, ratios, machines;
    Figure figure;
    figure.label = label;
    figure.rounds = RatioRounds;
    for (int round = 0; round < RatioRounds; ++round) {
        // Which goes first alternates, so that neither always finds the
        // controls as the other left them.
        double replayed = 0;
        double machineBefore = figure.anatomy.machine;
        if (round % 2) {
            double start = NowMs();
            replay(figure.anatomy);
            replayed = NowMs() - start;
        }
        ControlTime inModel;
        double start = NowMs();
        model(inModel);
        double total = NowMs() - start;
        if (!(round % 2)) {
            start = NowMs();
            replay(figure.anatomy);
            replayed = NowMs() - start;
        }
        totals.push_back(total);
        replays.push_back(replayed);
        machines.push_back(figure.anatomy.machine - machineBefore);
        controls.push_back(inModel.Total());
        owns.push_back(total - inModel.Total());
        if (replayed > 0)
            ratios.push_back(total / replayed);
    }
    figure.total = Median(totals);
    figure.replay = Median(replays);
    figure.machine = Median(machines);
    figure.own = Median(owns);
    figure.control = Median(controls);
    figure.ratio = Median(ratios);
    figure.ratioLow = Quartile(ratios, 1);
    figure.ratioHigh = Quartile(ratios, 3);
    return figure;
}

// How many items a filtered rebuild shows, from the filter's marks.
int ShownCount(DeviceNode* first, int check)
{
    int shown = 0;
    for (DeviceNode* node = first; node; node = node->next) {
        int match = check ? node->match : 0;
        if (match != 2)
            shown += 1 + ShownCount(node->children.First(), match);
    }
    return shown;
}

// The candidate filter whose rebuild shows the share of nodes closest to `share`.
std::wstring FilterShowing(DeviceTree& model, int total, double share)
{
    const wchar_t* candidates[] = {L"USB",     L"HID",     L"Disk",    L"Volume",   L"PCI",
                                   L"Audio",   L"Network", L"Device",  L"Intel",    L"Port",
                                   L"Hub",     L"Keyboard", L"Mouse",  L"Monitor",  L"Storage",
                                   L"e",       L"a"};
    std::wstring best = L"e";
    double bestDistance = 1e9;
    for (const wchar_t* candidate : candidates) {
        DeviceTree::MarkMatches(candidate, model.TopLevel().First());
        int shown = ShownCount(model.TopLevel().First(), 2);
        double distance = fabs((double)shown / total - share);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

DeviceNode* FindByInstanceId(DeviceNode* first, const wchar_t* wanted)
{
    for (DeviceNode* node = first; node; node = node->next) {
        WideString id;
        if (node->InstanceId(id) && id == wanted)
            return node;
        if (DeviceNode* below = FindByInstanceId(node->children.First(), wanted))
            return below;
    }
    return nullptr;
}

// The process's committed private memory: GetProcessMemoryInfo where the
// platform reports it (Wine answers 0), else the committed private regions
// of the address space added up.
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters,
                             sizeof(counters)) &&
        counters.PrivateUsage)
        return counters.PrivateUsage;
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (BYTE* address = nullptr;
         VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = (BYTE*)region.BaseAddress + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
        if ((BYTE*)region.BaseAddress + region.RegionSize < address)
            break;
    }
    return committed;
}

// Bytes allocated and not freed on every heap of the process: unlike the
// committed memory, this does not hide what a rebuild allocates in room
// that an earlier one freed.
SIZE_T HeapBytesInUse()
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T inUse = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                inUse += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return inUse;
}

int SimulatorIconsAlive()
{
    typedef int(WINAPI * IconsAliveProc)();
    HMODULE simulator = GetModuleHandleW(L"setupapi.dll");
    IconsAliveProc icons =
        simulator ? (IconsAliveProc)GetProcAddress(simulator, "SimulatorIconsAlive") : nullptr;
    return icons ? icons() : -1;
}

std::wstring BesideExe(const wchar_t* file)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + file;
}

void UseMachine(const wchar_t* file)
{
    if (!file) {
        SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
        return;
    }
    wchar_t path[MAX_PATH];
    GetFullPathNameW(file, MAX_PATH, path, nullptr);
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", path);
}

struct Controls {
    HWND frame = nullptr;
    HWND treeWindow = nullptr;
    HWND listWindow = nullptr;
    TreeViewControl tree;
    ListViewControl list;
};

void AttachControls(Controls& controls)
{
    controls.tree.Init(controls.treeWindow, GetModuleHandleW(nullptr),
                       TreeViewControl::KeepChildrenOnCollapse);
    controls.list.Init(controls.listWindow, GetModuleHandleW(nullptr), 0x10C, 0, 0, 0, 0);
    const wchar_t* titles[] = {L"Key", L"Key Details", L"Value", L"Value Details"};
    for (int i = 0; i < 4; ++i)
        controls.list.InsertColumn(titles[i], i, 200, 0, 0);
    controls.list.SortBy(0, true);
}

// --- the figures of one machine ------------------------------------------

struct MachineFigures {
    std::wstring file;
    int nodes = 0;
    Figure unfiltered, filteredFew, filteredMost, fill;
    double alone = 0; // the unfiltered rebuild with controls that do nothing
    bool haveFill = false;
    std::vector<TreeOperation> unfilteredOperations; // for the order study
    // Memory and objects (measured on the largest machine only).
    double kbPer1000 = -1, modelKbPer1000 = -1, committedKbPer1000 = -1;
    int classes = 0, iconsAlive = -1;
    DWORD userObjects = 0, gdiObjects = 0, userBefore = 0, gdiBefore = 0;
};

Figure TreeFigure(DeviceTree& model, Controls& controls, const wchar_t* filter, const char* label,
                  std::vector<TreeOperation>* keep, int* shown)
{
    // One sink for the recording and every timed round, as the window has
    // one tree: what the model keeps in the tree between rebuilds (the
    // images) it keeps here too, and the replay does what a rebuild does
    // once the window runs.
    TreeRecorder recording(&controls.tree);
    DeviceCallRecorder machineCalls;
    machineCalls.Attach(model.Api());
    model.RebuildTree(recording, filter); // warms the machine and the tree
    recording.StartRecording();
    machineCalls.StartRecording();
    model.RebuildTree(recording, filter);
    machineCalls.StopRecording();
    recording.StopRecording();
    if (shown)
        *shown = recording.Count(OpInsert);
    const std::vector<TreeOperation>& operations = recording.Operations();
    Figure figure = Measure(
        label,
        [&](ControlTime& inModel) {
            recording.time = ControlTime();
            model.RebuildTree(recording, filter);
            inModel = recording.time;
            return 0.0;
        },
        [&](ControlTime& time) {
            ReplayTree(controls.tree, operations, time);
            if (machineCalls.Calls()) {
                double start = NowMs();
                machineCalls.Replay();
                time.machine += NowMs() - start;
            }
        });
    figure.machineCalls = machineCalls.Calls();
    if (keep)
        *keep = recording.TakeOperations();
    return figure;
}

void MeasureMemoryAndObjects(DeviceTree& model, Controls& controls, MachineFigures& figures)
{
    // The machine stays loaded in the simulator (test tooling, not the
    // product); what a rebuild adds is the model's nodes and the control's items.
    controls.tree.DeleteAllItems();
    controls.tree.RemoveAllImages();
    model.Enumerate(false);
    SIZE_T before = HeapBytesInUse(), committedBefore = PrivateBytes();
    TreeRecorder bare(nullptr);
    model.RebuildTree(bare, nullptr);
    SIZE_T modelOnly = HeapBytesInUse();
    model.RebuildTree(controls.tree, nullptr);
    SIZE_T withControl = HeapBytesInUse(), committedAfter = PrivateBytes();
    double thousands = figures.nodes / 1000.0;
    figures.modelKbPer1000 = ((double)modelOnly - (double)before) / 1024.0 / thousands;
    figures.kbPer1000 = ((double)withControl - (double)before) / 1024.0 / thousands;
    figures.committedKbPer1000 = ((double)committedAfter - (double)committedBefore) / 1024.0 / thousands;

    figures.userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    figures.gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 10; ++i)
        model.RebuildTree(controls.tree, nullptr);
    figures.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    figures.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    figures.iconsAlive = SimulatorIconsAlive();
    figures.classes = model.ClassIconCount();
}

MachineFigures RunMachine(const wchar_t* file, Controls& controls, bool measureMemory)
{
    MachineFigures figures;
    figures.file = file;
    UseMachine(file);
    AttachControls(controls);
    DeviceTree model;
    model.Start();

    int nodes = 0;
    figures.unfiltered = TreeFigure(model, controls, nullptr, "unfiltered rebuild (reads the machine)",
                                    &figures.unfilteredOperations, &nodes);
    figures.nodes = nodes;
    printf("%ls: %d devnodes\n", file, nodes);
    if (!nodes) {
        printf("  the simulator offered no devices\n");
        model.Stop();
        controls.tree.Detach();
        controls.list.Detach();
        return figures;
    }
    PrintFigure(figures.unfiltered);
    PrintAnatomy(figures.unfiltered.anatomy, figures.unfiltered.rounds);
    // For comparison: the same rebuild into a tree that costs nothing, where
    // the control's work cannot crowd the model's data out of the caches.
    std::vector<double> alone;
    for (int round = 0; round < Rounds; ++round) {
        TreeRecorder bare(nullptr);
        double start = NowMs();
        model.RebuildTree(bare, nullptr);
        alone.push_back(NowMs() - start);
    }
    figures.alone = Median(alone);
    printf("    the same rebuild into a tree that does nothing: %.1f ms\n", figures.alone);

    const double shares[] = {0.10, 0.90};
    Figure* targets[] = {&figures.filteredFew, &figures.filteredMost};
    const char* kinds[] = {"filtered rebuild, ~10%", "filtered rebuild, most"};
    for (int i = 0; i < 2; ++i) {
        std::wstring filter = FilterShowing(model, nodes, shares[i]);
        int shown = 0;
        TreeFigure(model, controls, filter.c_str(), "", nullptr, &shown);
        char label[128];
        snprintf(label, sizeof label, "%s (\"%ls\", %d shown)", kinds[i], filter.c_str(), shown);
        *targets[i] = TreeFigure(model, controls, filter.c_str(), label, nullptr, nullptr);
        PrintFigure(*targets[i]);
        printf("    of the model's total, the tree control took %.1f ms\n", targets[i]->control);
        PrintAnatomy(targets[i]->anatomy, targets[i]->rounds);
    }

    DeviceNode* busiest = FindByInstanceId(
        model.TopLevel().First(), L"PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03\\4&2F6A1C3B&0&00E4");
    if (busiest) {
        ListRecorder recording(controls.list);
        recording.StartRecording();
        model.FillPropertyList(recording, busiest);
        recording.StopRecording();
        std::vector<ListOperation> operations = recording.Operations();
        char label[128];
        snprintf(label, sizeof label, "property list fill (%d rows)", recording.Rows());
        figures.fill = Measure(
            label,
            [&](ControlTime& inModel) {
                ListRecorder timing(controls.list);
                model.FillPropertyList(timing, busiest);
                inModel = timing.time;
                return 0.0;
            },
            [&](ControlTime& time) { ReplayList(controls.list, operations, time); });
        figures.haveFill = true;
        PrintFigure(figures.fill);
    }

    if (measureMemory) {
        MeasureMemoryAndObjects(model, controls, figures);
        printf("  memory a rebuild allocates: %.0f KB per 1,000 devnodes, model and tree control (the "
               "model alone %.0f KB); committed private memory grew by %.0f KB per 1,000\n",
               figures.kbPer1000, figures.modelKbPer1000, figures.committedKbPer1000);
        printf("  after ten more rebuilds: %d class icons held by the model, %d handed out by the "
               "simulator and still alive; GetGuiResources: USER %lu (before %lu), GDI %lu (before %lu)%s\n",
               figures.classes, figures.iconsAlive, figures.userObjects, figures.userBefore,
               figures.gdiObjects, figures.gdiBefore,
               figures.userObjects == 0 && figures.gdiObjects == 0 ? " (not reported by this platform)"
                                                                  : "");
    }
    model.Stop();
    controls.tree.Detach();
    controls.list.Detach();
    return figures;
}

// --- where the control time goes, and other orders -------------------------

// The control's tree as text: per item in order its text, image, selected
// image, child flag and, for items with children, whether it is expanded.
std::string TreeState(HWND tree)
{
    std::string state;
    std::vector<HTREEITEM> pending;
    HTREEITEM root = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    std::function<void(HTREEITEM)> walk = [&](HTREEITEM item) {
        for (; item; item = (HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item)) {
            wchar_t text[300] = {};
            TVITEMW info = {};
            info.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN | TVIF_STATE;
            info.hItem = item;
            info.pszText = text;
            info.cchTextMax = 300;
            info.stateMask = TVIS_EXPANDED;
            SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&info);
            char line[64];
            snprintf(line, sizeof line, "|%d|%d|%d|%d\n", info.iImage, info.iSelectedImage,
                     info.cChildren, info.cChildren ? (info.state & TVIS_EXPANDED) != 0 : 0);
            for (wchar_t* p = text; *p; ++p)
                state += (char)(*p & 0x7F);
            state += line;
            walk((HTREEITEM)SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item));
        }
    };
    walk(root);
    return state;
}

// The recorded rebuild done the way a tree is usually filled instead: every
// item inserted collapsed and expanded by a message of its own, either right
// after its subtree or all of them after the last insertion, parents first.
std::vector<TreeOperation> ExpandedByMessage(const std::vector<TreeOperation>& recorded,
                                             bool afterSubtree)
{
    std::vector<TreeOperation> result, expansions;
    std::vector<int> open; // the items whose subtree is still being inserted
    auto expand = [](int item) {
        TreeOperation expansion;
        expansion.kind = OpExpand;
        expansion.value = item;
        expansion.action = TVE_EXPAND;
        return expansion;
    };
    auto closeUntil = [&](int parent) {
        while (!open.empty() && open.back() != parent) {
            result.push_back(expand(open.back()));
            open.pop_back();
        }
    };
    int item = 0;
    for (const TreeOperation& operation : recorded) {
        TreeOperation copy = operation;
        // The copies share the recording's icons, which outlive them.
        if (operation.kind == OpInsert) {
            if (afterSubtree)
                closeUntil(operation.value);
            copy.state = 0;
            result.push_back(copy);
            if (afterSubtree)
                open.push_back(item);
            else
                expansions.push_back(expand(item));
            ++item;
            continue;
        }
        if (operation.kind == OpRedraw && operation.value) {
            // Everything is in: the expansions come before the redraw.
            closeUntil(-1);
            result.insert(result.end(), expansions.begin(), expansions.end());
            expansions.clear();
        }
        result.push_back(copy);
    }
    return result;
}

void StudyOrders(const std::vector<TreeOperation>& recorded, Controls& controls, int nodes)
{
    if (recorded.empty())
        return;
    AttachControls(controls);
    printf("\nThe same rebuild with an expansion message per item instead (%d devnodes, unfiltered), "
           "median of %d:\n", nodes, Rounds);
    std::string reference;
    struct Variant {
        const char* name;
        std::vector<TreeOperation> operations;
    };
    std::vector<Variant> variants = {
        {"as the model issues them (each item inserted expanded)", recorded},
        {"inserted collapsed, each expanded after its subtree", ExpandedByMessage(recorded, true)},
        {"inserted collapsed, all expanded after, parents first", ExpandedByMessage(recorded, false)},
    };
    for (Variant& variant : variants) {
        std::vector<double> times;
        ControlTime time;
        for (int round = 0; round < Rounds; ++round) {
            double start = NowMs();
            ReplayTree(controls.tree, variant.operations, time);
            times.push_back(NowMs() - start);
        }
        std::string state = TreeState(controls.treeWindow);
        if (reference.empty())
            reference = state;
        printf("  %-66s %8.1f ms  %s\n", variant.name, Median(times),
               state == reference ? "same final tree" : "DIFFERENT final tree");
        for (TreeOperation& operation : variant.operations)
            operation.icon = nullptr; // the recording owns them
    }
    for (Variant& variant : variants)
        variant.operations.clear();

    // What an icon per node cost the image list: the old design, measured.
    HICON icon = nullptr;
    for (const TreeOperation& operation : recorded)
        if (operation.kind == OpAddIcon && !icon)
            icon = operation.icon;
    if (icon) {
        const int perNode = 300;
        double start = NowMs();
        for (int i = 0; i < perNode; ++i)
            controls.tree.AddIcon(icon);
        double each = (NowMs() - start) / perNode;
        printf("  adding a class icon to the image list costs %.2f ms (scaled to the list's size); "
               "one per node would cost %.0f ms here, one per class costs %.0f ms\n",
               each, each * nodes, each * std::count_if(recorded.begin(), recorded.end(),
                                                         [](const TreeOperation& o) {
                                                             return o.kind == OpAddIcon;
                                                         }));
        controls.tree.RemoveAllImages();
    }
    controls.tree.Detach();
    controls.list.Detach();
}

// --- start-up ----------------------------------------------------------------

struct LaunchTimes {
    double window = -1; // a visible top-level window of the process
    double filled = -1; // its tree answers with the expected number of items
};

// Starts `command` and polls until its window shows and, when `items` > 0,
// until its tree holds that many items. The tree answers only between
// messages, so the count arrives once the rebuild has ended.
LaunchTimes Launch(const std::wstring& command, int items)
{
    LaunchTimes times;
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION process = {};
    std::wstring line = command;
    double start = NowMs();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return times;
    double deadline = start + 20000;
    HWND found = nullptr;
    while (NowMs() < deadline) {
        if (!found) {
            found = VisibleMainWindowOf(process.dwProcessId);
            if (found)
                times.window = NowMs() - start;
        }
        if (found) {
            if (items <= 0)
                break;
            HWND tree = GetDlgItem(found, TreeId);
            DWORD_PTR count = 0;
            if (tree && SendMessageTimeoutW(tree, TVM_GETCOUNT, 0, 0, SMTO_NORMAL, 5000, &count) &&
                (int)count >= items) {
                times.filled = NowMs() - start;
                break;
            }
        }
        Sleep(1);
    }
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return times;
}

struct StartupFigures {
    double window = -1, filled = -1, floorWindow = -1, simulator = -1, rebuild = -1;
    // A first rebuild into a new tree by a new model, as the window's first
    // refresh is: its total, and the part outside the control calls (the
    // machine read, the class icons loaded).
    double first = -1, firstOwn = -1;
    // The main window run inside this process: each milestone of its start
    // (the window's own, and when WM_INITDIALOG returned, the first paint
    // began and the filled tree was painted) at its median time from the
    // start of the run.
    std::vector<std::pair<std::string, double>> milestones;
    ControlTime anatomy;
    int nodes = 0;
    double Product() const { return filled - floorWindow; }
    double At(const char* name) const
    {
        for (const auto& milestone : milestones)
            if (milestone.first == name)
                return milestone.second;
        return -1;
    }
};

// The default machine's start-up: how long the simulator takes to load it in
// a process (DLL, file, registry), a first rebuild by a new model into a new
// tree (as the window's first refresh: every class icon loaded and added)
// and a later one.
void MeasureInProcess(Controls& controls, StartupFigures& figures)
{
    UseMachine(nullptr);
    std::vector<double> loads, rebuilds;
    typedef CONFIGRET(WINAPI * LocateProc)(PDEVINST, DEVINSTID_W, ULONG);
    for (int round = 0; round < Rounds; ++round) {
        double start = NowMs();
        HMODULE simulator = LoadLibraryW(L"setupapi.dll");
        LocateProc locate = simulator ? (LocateProc)GetProcAddress(simulator, "CM_Locate_DevNodeW") : nullptr;
        DEVINST root = 0;
        if (locate)
            locate(&root, nullptr, 0);
        loads.push_back(NowMs() - start);
        if (simulator)
            FreeLibrary(simulator);
    }
    std::vector<double> firsts, firstOwns;
    for (int round = 0; round < Rounds; ++round) {
        AttachControls(controls);
        DeviceTree model;
        model.Start();
        TreeRecorder timing(&controls.tree);
        timing.StartRecording();
        double start = NowMs();
        model.RebuildTree(timing, nullptr);
        double first = NowMs() - start;
        firsts.push_back(first);
        firstOwns.push_back(first - timing.time.Total());
        figures.nodes = timing.Count(OpInsert);
        for (int kind = 0; kind < OperationKinds; ++kind) {
            figures.anatomy.ms[kind] += timing.time.ms[kind];
            figures.anatomy.calls[kind] += timing.time.calls[kind];
        }
        // Through the same sink, as the window keeps its tree: the images stay.
        timing.StopRecording();
        start = NowMs();
        model.RebuildTree(timing, nullptr);
        rebuilds.push_back(NowMs() - start);
        model.Stop();
        controls.tree.Detach();
        controls.list.Detach();
    }
    figures.first = Median(firsts);
    figures.firstOwn = Median(firstOwns);
    figures.simulator = Median(loads);
    figures.rebuild = Median(rebuilds);
}

// The main window run here, watched through message hooks of this thread:
// when WM_INITDIALOG returns, when the first timer message (the refresh)
// is taken from the queue, and when the next message is, which is after
// the refresh has filled the tree.
// One in-process start of the main window, watched through its own
// milestones and a message hook: WM_INITDIALOG's return, the first paint
// of the dialog, and the end of the tree's first paint after the first
// refresh, when the window is closed.
struct WindowWatch {
    double start = 0;
    std::vector<std::pair<std::string, double>> milestones;
    bool refreshEnded = false, painted = false, done = false;
    HHOOK messages = nullptr, calls = nullptr;
    void Note(const char* name) { milestones.push_back({name, NowMs() - start}); }
};
WindowWatch g_watch;

void OnMilestone(const char* name, void*)
{
    g_watch.Note(name);
    if (!strcmp(name, "first refresh ends")) {
        g_watch.refreshEnded = true;
        PostMessageW(MainWindow::Current().Window(), WM_NULL, 0, 0);
    }
}

LRESULT CALLBACK WatchMessages(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* message = (const MSG*)lParam;
    HWND window = MainWindow::Current().Window();
    if (code == HC_ACTION && wParam == PM_REMOVE && window && !g_watch.done) {
        HWND tree = GetDlgItem(window, TreeId);
        bool ours = message->hwnd == window || IsChild(window, message->hwnd);
        if (message->message == WM_PAINT && ours && !g_watch.painted) {
            g_watch.painted = true;
            g_watch.Note("first paint begins");
        }
        // Every message is taken before it is dispatched, so the tree has
        // been painted once a message arrives after the refresh while the
        // tree has nothing left to paint. A posted message makes sure one
        // arrives after its paint even when the queue would be idle.
        if (g_watch.refreshEnded) {
            if (message->message == WM_PAINT && message->hwnd == tree)
                PostMessageW(window, WM_NULL, 0, 0);
            else if (!GetUpdateRect(tree, nullptr, FALSE)) {
                g_watch.Note("filled tree painted");
                g_watch.done = true;
                PostMessageW(window, WM_CLOSE, 0, 0);
            }
        }
    }
    return CallNextHookEx(g_watch.messages, code, wParam, lParam);
}

LRESULT CALLBACK WatchCalls(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* call = (const CWPRETSTRUCT*)lParam;
    if (code == HC_ACTION && call->message == WM_INITDIALOG)
        g_watch.Note("WM_INITDIALOG returned");
    return CallNextHookEx(g_watch.calls, code, wParam, lParam);
}

// `Rounds` in-process starts; each milestone at its median time.
void MeasureMainWindow(StartupFigures& figures)
{
    UseMachine(nullptr);
    std::vector<std::vector<std::pair<std::string, double>>> runs;
    for (int round = 0; round < Rounds; ++round) {
        g_watch = WindowWatch();
        g_watch.messages = SetWindowsHookExW(WH_GETMESSAGE, WatchMessages, nullptr, GetCurrentThreadId());
        g_watch.calls = SetWindowsHookExW(WH_CALLWNDPROCRET, WatchCalls, nullptr, GetCurrentThreadId());
        MainWindow::Current().ObserveStartup(OnMilestone, nullptr);
        g_watch.start = NowMs();
        MainWindow::Current().Run(GetModuleHandleW(nullptr), IDD_MAIN, 0, nullptr);
        MainWindow::Current().ObserveStartup(nullptr, nullptr);
        UnhookWindowsHookEx(g_watch.messages);
        UnhookWindowsHookEx(g_watch.calls);
        runs.push_back(g_watch.milestones);
    }
    // The milestones in the order of the last run, each the median of the runs.
    for (const auto& milestone : runs.back()) {
        std::vector<double> times;
        for (const auto& run : runs)
            for (const auto& seen : run)
                if (seen.first == milestone.first) {
                    times.push_back(seen.second);
                    break;
                }
        figures.milestones.push_back({milestone.first, Median(times)});
    }
}

// Keeps the automatic update check off (bit 0 of "Flags") while Quillmere
// starts here, so that measuring never sends a request to the maker's
// server; the value the user had comes back afterwards.
class UpdateCheckOff {
public:
    // The user's "Flags" value is kept byte for byte, whatever its type
    // (Quillmere writes it as a 64-bit number), and put back at the end. A
    // copy waits beside it meanwhile, so that a run that was killed is
    // undone by the next one.
    UpdateCheckOff()
    {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tollbrook\\Quillmere", 0, nullptr, 0,
                            KEY_READ | KEY_WRITE, nullptr, &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        PutBack();
        size_ = sizeof(saved_);
        had_ = RegQueryValueExW(key_, L"Flags", nullptr, &type_, saved_, &size_) == ERROR_SUCCESS;
        // A value of type none stands for "there was no Flags value".
        if (RegSetValueExW(key_, KeptName, 0, had_ ? type_ : REG_NONE, saved_, had_ ? size_ : 0) !=
            ERROR_SUCCESS)
            return;
        unsigned long long flags = 0;
        if (had_ && (type_ == REG_QWORD || type_ == REG_DWORD))
            memcpy(&flags, saved_, size_ < sizeof(flags) ? size_ : sizeof(flags));
        flags |= 1;
        RegSetValueExW(key_, L"Flags", 0, REG_QWORD, (const BYTE*)&flags, sizeof(flags));
    }
    ~UpdateCheckOff()
    {
        if (!key_)
            return;
        PutBack();
        RegCloseKey(key_);
    }

private:
    static constexpr const wchar_t* KeptName = L"Flags kept by the benchmark";

    // Puts a kept value back as "Flags" and removes the copy.
    void PutBack()
    {
        BYTE kept[64] = {};
        DWORD size = sizeof kept, type = 0;
        if (RegQueryValueExW(key_, KeptName, nullptr, &type, kept, &size) != ERROR_SUCCESS)
            return;
        if (type == REG_NONE)
            RegDeleteValueW(key_, L"Flags");
        else
            RegSetValueExW(key_, L"Flags", 0, type, kept, size);
        RegDeleteValueW(key_, KeptName);
    }

    HKEY key_ = nullptr;
    BYTE saved_[64] = {};
    DWORD size_ = 0;
    DWORD type_ = 0;
    bool had_ = false;
};

StartupFigures MeasureStartup(Controls& controls)
{
    UpdateCheckOff quiet;
    StartupFigures figures;
    MeasureInProcess(controls, figures);
    MeasureMainWindow(figures);
    std::wstring product = L"\"" + BesideExe(L"Quillmere.exe") + L"\"";
    std::wstring floor = L"\"" + BesideExe(L"bench_model.exe") + L"\" --window";
    if (GetFileAttributesW(BesideExe(L"Quillmere.exe").c_str()) == INVALID_FILE_ATTRIBUTES)
        return figures;
    Launch(product, figures.nodes); // Wine warm: the first start loads what the others find
    std::vector<double> windows, filled, floors;
    for (int round = 0; round < Rounds; ++round) {
        LaunchTimes times = Launch(product, figures.nodes);
        windows.push_back(times.window);
        filled.push_back(times.filled);
        floors.push_back(Launch(floor, 0).window);
    }
    figures.window = Median(windows);
    figures.filled = Median(filled);
    figures.floorWindow = Median(floors);
    return figures;
}

// The start-up floor: a process that only shows one window.
int ShowWindowOnly()
{
    HWND window = CreateWindowExW(0, L"STATIC", L"floor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                                  200, nullptr, nullptr, nullptr, nullptr);
    MSG message;
    while (window && GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

// --- the goals ---------------------------------------------------------------

void Goal(bool pass, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printf("%s  ", pass ? "PASS" : "MISS");
    vprintf(format, args);
    printf("\n");
    va_end(args);
}

void Summarize(const std::vector<MachineFigures>& machines, const StartupFigures& startup)
{
    printf("\nGoals:\n");
    bool ratiosPass = !machines.empty();
    std::string ratios;
    for (const MachineFigures& machine : machines) {
        const Figure* figures[] = {&machine.unfiltered, &machine.filteredFew, &machine.filteredMost,
                                   machine.haveFill ? &machine.fill : nullptr};
        const char* names[] = {"unfiltered", "~10%", "most", "fill"};
        char part[160];
        snprintf(part, sizeof part, "%s%d nodes:", ratios.empty() ? "" : "; ", machine.nodes);
        ratios += part;
        for (int i = 0; i < 4; ++i) {
            if (!figures[i]) {
                ratiosPass = false;
                continue;
            }
            snprintf(part, sizeof part, " %s %.2f (%.2f-%.2f)", names[i], figures[i]->ratio,
                     figures[i]->ratioLow, figures[i]->ratioHigh);
            ratios += part;
            ratiosPass = ratiosPass && figures[i]->Ratio() <= 1.10;
        }
    }
    Goal(ratiosPass, "model total / exact replay <= 1.10, median of %d paired rounds (%s)",
         RatioRounds, ratios.c_str());

    const MachineFigures* small = nullptr;
    const MachineFigures* large = nullptr;
    for (const MachineFigures& machine : machines) {
        if (machine.nodes >= 4000 && machine.nodes <= 6000)
            small = &machine;
        if (machine.nodes >= 15000)
            large = &machine;
    }
    if (small && large) {
        double growth = small->unfiltered.own > 0 ? large->unfiltered.own / small->unfiltered.own : 0;
        Goal(growth <= 4.4, "model's own time reading %d devnodes is %.2f x its time for %d (%.1f ms / %.1f ms; <= 4.4; "
             "into a tree that does nothing %.2f x)",
             large->nodes, growth, small->nodes, large->unfiltered.own, small->unfiltered.own,
             small->alone > 0 ? large->alone / small->alone : 0.0);
    } else {
        Goal(false, "linear reading: needs the 5,000- and the 20,000-node machines");
    }
    if (small) {
        Goal(small->filteredFew.own < 2.0, "filter's own work for a keystroke on %d nodes %.2f ms (< 2 ms); the tree control took %.1f ms beside it",
             small->nodes, small->filteredFew.own, small->filteredFew.control);
        Goal(small->unfiltered.total < 3000, "unfiltered rebuild of %d nodes with the controls %.0f ms (< 3,000 ms)",
             small->nodes, small->unfiltered.total);
    }
    if (large) {
        Goal(large->filteredFew.total < 50,
             "a filter keystroke on %d nodes showing about 10%% takes %.1f ms with the controls (< 50 ms); "
             "one showing nearly all %.1f ms",
             large->nodes, large->filteredFew.total, large->filteredMost.total);
        Goal(large->kbPer1000 >= 0 && large->kbPer1000 <= 1024,
             "memory %.0f KB per 1,000 devnodes allocated by a %d-node rebuild, model and tree control (<= 1,024 KB)",
             large->kbPer1000, large->nodes);
        // A fixed few: the default image's icon and the image list's bitmaps.
        const int fixedFew = 8;
        bool reported = large->userObjects || large->gdiObjects;
        long objects = reported ? (long)(large->userObjects + large->gdiObjects) -
                                      (long)(large->userBefore + large->gdiBefore)
                                : large->iconsAlive;
        Goal(large->iconsAlive >= 0 && large->iconsAlive <= large->classes + fixedFew &&
                 (!reported || objects <= large->classes + fixedFew),
             "after ten rebuilds of %d nodes: %d icons alive from the simulator, %s; %d classes with icons (limit classes + %d)",
             large->nodes, large->iconsAlive,
             reported ? "USER and GDI objects counted by the platform" : "USER and GDI counts not reported by this platform",
             large->classes, fixedFew);
    }
    if (startup.filled >= 0 && startup.floorWindow >= 0) {
        Goal(startup.Product() < 100,
             "start to a filled tree on the default machine (%d devnodes) %.0f ms, a bare Win32 window %.0f ms: "
             "Quillmere's share %.0f ms (< 100 ms)",
             startup.nodes, startup.filled, startup.floorWindow, startup.Product());
    } else {
        Goal(false, "start to a filled tree: Quillmere.exe did not show a filled tree");
    }
    double init = startup.At("WM_INITDIALOG returned") - startup.At("dialog created");
    Goal(init >= 0 && init < 30, "WM_INITDIALOG takes %.1f ms in the main window run inside this process (< 30 ms)",
         init);
}

} // namespace

// Arguments: machine files (default: the 5,000- and 20,000-node machines), or
// --window for the start-up floor.
int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && wcscmp(argv[1], L"--window") == 0)
        return ShowWindowOnly();
    INITCOMMONCONTROLSEX common = {sizeof(common), ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&common);
    Controls controls;
    controls.frame = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                     1000, 700, nullptr, nullptr, nullptr, nullptr);
    controls.treeWindow = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | 0x27, 0, 0, 400,
                                          650, controls.frame, (HMENU)(INT_PTR)TreeId, nullptr, nullptr);
    controls.listWindow = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 410,
                                          0, 580, 650, controls.frame, (HMENU)1005, nullptr, nullptr);
    printf("Quillmere model benchmark: median of %d rounds, each a model run and its replay back to "
           "back in alternating order; replay = the same control operations without the model; "
           "ratio = the median of the rounds' own ratios (the middle half of them in brackets); "
           "model's own = total less the time inside control calls\n\n", RatioRounds);

    std::vector<const wchar_t*> files;
    for (int i = 1; i < argc; ++i)
        files.push_back(argv[i]);
    if (files.empty())
        files = {L"machine_5000.txt", L"machine_20000.txt"};
    std::vector<MachineFigures> machines;
    for (size_t i = 0; i < files.size(); ++i) {
        machines.push_back(RunMachine(files[i], controls, i + 1 == files.size()));
        fflush(stdout);
    }
    for (MachineFigures& machine : machines) {
        if (machine.nodes >= 4000 && machine.nodes <= 6000)
            StudyOrders(machine.unfilteredOperations, controls, machine.nodes);
        DestroyIcons(machine.unfilteredOperations);
    }

    StartupFigures startup = MeasureStartup(controls);
    printf("\nStart-up on the default machine (Wine warm, median of %d launches):\n", Rounds);
    printf("  a bare Win32 process shows its window after %.0f ms (Wine's own start)\n", startup.floorWindow);
    printf("  Quillmere.exe shows its window after %.0f ms and a filled tree of %d items after %.0f ms\n",
           startup.window, startup.nodes, startup.filled);
    printf("  the main window run inside this process, median of %d runs (ms from the start of the run, "
           "and the step before):\n", Rounds);
    double previous = 0;
    for (const auto& milestone : startup.milestones) {
        printf("    %-28s %6.1f  (+%.1f)\n", milestone.first.c_str(), milestone.second,
               milestone.second - previous);
        previous = milestone.second;
    }
    printf("  the simulator loading the machine in a process %.0f ms; a first rebuild by a new model into a "
           "new tree (as the first refresh) %.0f ms, of it outside the controls (the machine read, the class "
           "icons loaded) %.0f ms; a later rebuild %.0f ms\n",
           startup.simulator, startup.first, startup.firstOwn, startup.rebuild);
    printf("  the first rebuild's control time:");
    for (int kind = 0; kind < OperationKinds; ++kind)
        if (startup.anatomy.calls[kind])
            printf(" %s %.1f ms (%d);", OperationName(kind), startup.anatomy.ms[kind] / Rounds,
                   startup.anatomy.calls[kind] / Rounds);
    printf("\n");
    Summarize(machines, startup);
    DestroyWindow(controls.frame);
    return 0;
}
