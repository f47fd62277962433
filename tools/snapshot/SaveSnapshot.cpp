// Saves the machine that the device entry points show as a snapshot, as
// Quillmere's Save Snapshot does: with the simulator chosen (the tests, the
// schema check, the README's examples), the simulated machine.
//
//   save_snapshot.exe OUT.quillmere.json [COMPUTER]
//
// A computer name given replaces this computer's in the header, so that a
// snapshot made for a document names the machine it shows.

#include <windows.h>

#include <stdio.h>

#include "devices/DeviceTree.h"
#include "snapshot/SnapshotCapture.h"
#include "snapshot/SnapshotFile.h"
#include "snapshot/SnapshotWriter.h"
#include "snapshot/ThisComputer.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: save_snapshot OUT.quillmere.json [COMPUTER]\n");
        return 2;
    }
    DeviceTree model;
    model.Start();
    SnapshotHeader header = ThisComputerHeader();
    if (argc > 2)
        header.computer = argv[2];
    Snapshot snapshot;
    if (!SnapshotCapture::Capture(model.Api(), header, snapshot)) {
        fprintf(stderr, "save_snapshot: there is no device tree to save\n");
        return 1;
    }
    std::string text;
    DWORD error = 0;
    if (!SnapshotWriter::Write(snapshot, text) || !SaveSnapshotText(argv[1], text, &error)) {
        fprintf(stderr, "save_snapshot: cannot write %ls (error %lu)\n", argv[1], error);
        return 1;
    }
    printf("%ls: %zu devices, %zu setup classes, %zu bytes\n", argv[1], snapshot.devices.size(),
           snapshot.classes.size(), text.size());
    return 0;
}
