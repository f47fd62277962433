// Snapshots: how long a save and an open of the default machine and of the
// generated 20,000-devnode machine take, each taken apart, beside the floor
// of the same run (the file's bytes written or read alone, and the JSON
// library's parse with a handler that keeps nothing), and the file sizes.
// The closing lines say PASS or MISS for each goal.
//
//   bench_snapshot.exe [MACHINE FILE...]   (default: machine.txt and machine_20000.txt)

#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#define JSON_NOEXCEPTION
#include <nlohmann/json.hpp>

#include "devices/DeviceTree.h"
#include "devices/TreeSink.h"
#include "snapshot/SnapshotBinding.h"
#include "snapshot/SnapshotCapture.h"
#include "snapshot/SnapshotFile.h"
#include "snapshot/SnapshotReader.h"
#include "snapshot/SnapshotWriter.h"

namespace {

const int Rounds = 5;

double Now()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// A tree that takes every item and keeps none: the model's work alone.
class NoTree : public TreeSink {
public:
    void SetRedraw(bool) override {}
    void DeleteAllItems() override {}
    void RemoveAllImages() override {}
    int ImageCount() const override { return 0; }
    int AddIconResource(int) override { return 0; }
    int AddIcon(HICON) override { return 1; }
    HTREEITEM InsertItem(HTREEITEM, HTREEITEM, const wchar_t*, int, int, int, LPARAM, UINT) override
    {
        return (HTREEITEM)(INT_PTR)++items;
    }
    bool SetItemChildren(HTREEITEM, int) override { return true; }
    bool Expand(HTREEITEM, UINT) override { return true; }
    int items = 0;
};

// The JSON library's parse with a handler that keeps nothing.
struct NoHandler {
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(long long) { return true; }
    bool number_unsigned(unsigned long long) { return true; }
    bool number_float(double, const std::string&) { return true; }
    bool string(std::string&) { return true; }
    bool binary(std::vector<std::uint8_t>&) { return true; }
    bool start_object(std::size_t) { return true; }
    bool end_object() { return true; }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    bool key(std::string&) { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }
};

std::wstring BesideExe(const wchar_t* file)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + file;
}

std::string ReadAll(const wchar_t* path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {};
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size)) {
        bytes.resize((size_t)size.QuadPart);
        DWORD got = 0;
        ReadFile(file, &bytes[0], (DWORD)bytes.size(), &got, nullptr);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return bytes;
}

struct Figures {
    int devices = 0;
    size_t bytes = 0;
    double save = 0, capture = 0, keys = 0, write = 0, file = 0, fileFloor = 0;
    double open = 0, read = 0, parse = 0, serve = 0, parseFloor = 0, shown = 0;
};

Figures Measure(const wchar_t* machine)
{
    std::wstring path = BesideExe(machine);
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", path.c_str());
    std::wstring target = BesideExe(L"bench.quillmere.json");
    DeviceTree live;
    live.Start();
    SnapshotHeader header;
    header.computer = L"BENCH";
    header.taken = L"2026-12-09T08:21:00Z";
    Figures figures;
    {
        // The simulator writes a device's keys when they are first opened,
        // as they stand ready on Windows: once, before the timing.
        Snapshot warm;
        if (!SnapshotCapture::Capture(live.Api(), header, warm))
            printf("%ls: no device tree to save\n", machine);
    }
    std::vector<double> save, capture, write, file, fileFloor, open, read, parse, serve, parseFloor, shown;
    for (int round = 0; round < Rounds; ++round) {
        double start = Now();
        Snapshot snapshot;
        bool ok = SnapshotCapture::Capture(live.Api(), header, snapshot);
        double captured = Now();
        std::string text;
        ok = SnapshotWriter::Write(snapshot, text) && ok;
        double written = Now();
        DWORD error = 0;
        ok = SaveSnapshotText(target.c_str(), text, &error) && ok;
        double saved = Now();
        save.push_back(saved - start);
        capture.push_back(captured - start);
        write.push_back(written - captured);
        file.push_back(saved - written);
        figures.devices = (int)snapshot.devices.size();
        figures.bytes = text.size();

        // The floor of writing: the same bytes to a file, no more.
        start = Now();
        HANDLE plain = CreateFileW(BesideExe(L"bench.plain").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, 0, nullptr);
        DWORD wrote = 0;
        WriteFile(plain, text.data(), (DWORD)text.size(), &wrote, nullptr);
        FlushFileBuffers(plain);
        CloseHandle(plain);
        fileFloor.push_back(Now() - start);

        start = Now();
        std::string bytes = ReadAll(target.c_str());
        double loaded = Now();
        auto opened = std::make_shared<Snapshot>();
        SnapshotProblem problem;
        ok = SnapshotReader::Read(bytes.data(), bytes.size(), *opened, problem) && ok;
        double parsed = Now();
        SnapshotBinding binding;
        ok = binding.Serve(opened, &error) && ok;
        double served = Now();
        if (!ok)
            printf("%ls: a save or an open failed (problem %d, error %lu)\n", machine, problem.kind, error);
        open.push_back(served - start);
        read.push_back(loaded - start);
        parse.push_back(parsed - loaded);
        serve.push_back(served - parsed);
        {
            DeviceTree model;
            model.Api().UseBinding(&binding);
            model.Start();
            NoTree tree;
            start = Now();
            model.RebuildTree(tree, nullptr);
            shown.push_back(Now() - start);
        }

        NoHandler nothing;
        start = Now();
        nlohmann::json::sax_parse(bytes.data(), bytes.data() + bytes.size(), &nothing);
        parseFloor.push_back(Now() - start);
    }
    figures.save = Median(save);
    figures.capture = Median(capture);
    figures.write = Median(write);
    figures.file = Median(file);
    figures.fileFloor = Median(fileFloor);
    figures.open = Median(open);
    figures.read = Median(read);
    figures.parse = Median(parse);
    figures.serve = Median(serve);
    figures.parseFloor = Median(parseFloor);
    figures.shown = Median(shown);
    {
        // The capture without the registry keys' values: what the keys cost.
        DeviceTree model;
        model.Start();
        std::vector<double> keys;
        for (int round = 0; round < Rounds; ++round) {
            HKEY key = nullptr;
            DEVINST root = 0;
            model.Api().LocateRoot(&root);
            // Open and read every device's two keys, as the capture does.
            std::vector<DEVINST> handles;
            std::function<void(DEVINST)> walk = [&](DEVINST node) {
                handles.push_back(node);
                DEVINST child = 0;
                if (model.Api().GetChild(&child, node) != CR_SUCCESS)
                    return;
                do
                    walk(child);
                while (model.Api().GetSibling(&child, child) == CR_SUCCESS);
            };
            walk(root);
            double start = Now();
            for (DEVINST handle : handles)
                for (ULONG which : {0ul, 1ul})
                    if (model.Api().OpenDevNodeKey(handle, which, &key) == CR_SUCCESS && key) {
                        wchar_t name[256];
                        BYTE data[4096];
                        for (DWORD index = 0;; ++index) {
                            DWORD nameLength = 256, size = sizeof data;
                            if (RegEnumValueW(key, index, name, &nameLength, nullptr, nullptr, data, &size) !=
                                ERROR_SUCCESS)
                                break;
                        }
                        RegCloseKey(key);
                    }
            keys.push_back(Now() - start);
        }
        figures.keys = Median(keys);
    }
    DeleteFileW(target.c_str());
    DeleteFileW(BesideExe(L"bench.plain").c_str());
    SetEnvironmentVariableW(L"QUILLMERE_SIM_MACHINE", nullptr);
    return figures;
}

void Print(const wchar_t* machine, const Figures& f)
{
    printf("%ls: %d devnodes, snapshot %.1f MB (%zu bytes, %.0f bytes a devnode)\n", machine, f.devices,
           f.bytes / 1048576.0, f.bytes, f.devices ? (double)f.bytes / f.devices : 0.0);
    printf("  save %.0f ms: capture %.0f ms (of it the registry keys' values %.0f ms), JSON text %.0f ms, "
           "file %.0f ms (the same bytes written alone %.0f ms)\n",
           f.save, f.capture, f.keys, f.write, f.file, f.fileFloor);
    printf("  open %.0f ms: file %.0f ms, read into the model %.0f ms (the JSON library's parse alone %.0f ms, "
           "ratio %.2f), served with its private hive %.0f ms; then the model reads it from the snapshot "
           "in %.0f ms\n",
           f.open, f.read, f.parse, f.parseFloor, f.parseFloor > 0 ? f.parse / f.parseFloor : 0.0, f.serve,
           f.shown);
}

void Goal(bool pass, const char* text, double ms, double limit)
{
    printf("%s  %s %.0f ms (< %.0f ms)\n", pass ? "PASS" : "MISS", text, ms, limit);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<const wchar_t*> machines;
    for (int i = 1; i < argc; ++i)
        machines.push_back(argv[i]);
    if (machines.empty())
        machines = {L"machine.txt", L"machine_20000.txt"};
    printf("Quillmere snapshot benchmark: medians of %d rounds\n\n", Rounds);
    std::vector<Figures> all;
    for (const wchar_t* machine : machines) {
        all.push_back(Measure(machine));
        Print(machine, all.back());
        fflush(stdout);
    }
    printf("\nGoals:\n");
    for (size_t i = 0; i < all.size(); ++i) {
        double limit = all[i].devices >= 15000 ? 2000 : 100;
        char label[160];
        snprintf(label, sizeof label, "save of %d devnodes", all[i].devices);
        Goal(all[i].save < limit, label, all[i].save, limit);
        snprintf(label, sizeof label, "open of %d devnodes", all[i].devices);
        Goal(all[i].open < limit, label, all[i].open, limit);
    }
    return 0;
}
