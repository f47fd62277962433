#pragma once

// The device API calls a rebuild makes to read the machine, recorded through
// the model's own binding so that exactly those calls can be made again
// without the model: together with the control operations, what a rebuild
// cannot do without.

#include <windows.h>

#include <vector>

#include "devices/DeviceApi.h"

class DeviceCallRecorder {
public:
    DeviceCallRecorder() = default;
    ~DeviceCallRecorder() { Detach(); }
    DeviceCallRecorder(const DeviceCallRecorder&) = delete;
    DeviceCallRecorder& operator=(const DeviceCallRecorder&) = delete;

    // Puts stand-ins into the slots a rebuild calls; each passes the call on
    // to what was bound there. One recorder is attached at a time.
    void Attach(DeviceApi& api);
    void Detach();

    void StartRecording();
    void StopRecording();
    int Calls() const { return (int)calls_.size(); }
    // Makes the recorded calls again, in order, into scratch buffers.
    void Replay() const;

    struct Call {
        int slot = 0;
        DEVINST node = 0;
        ULONG value = 0;  // registry property; set element index
        ULONG length = 0; // registry property buffer
        DWORD flags = 0;  // class set
        int set = -1;     // the class set call whose handle an element call used
        bool allClasses = false;
        GUID guid = {};
    };

private:
    friend struct DeviceCallStandIns;
    void Note(const Call& call);
    int SetIndexOf(HDEVINFO set) const;

    DeviceApi* api_ = nullptr;
    FARPROC bound_[DeviceApi::SlotCount] = {};
    bool recording_ = false;
    std::vector<Call> calls_;
    std::vector<HDEVINFO> sets_; // handles of the recorded class set calls
};
