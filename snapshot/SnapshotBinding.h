#pragma once

#include <windows.h>
#include <setupapi.h>

#include <memory>
#include <unordered_set>
#include <vector>

#include "devices/DeviceBinding.h"
#include "snapshot/PrivateHive.h"
#include "snapshot/Snapshot.h"

// Serves a Snapshot through the device entry points, so that the device
// model, the property list and the window show a saved machine as they show
// the live one: the configuration manager's tree, status and registry
// properties, the setup API's device information sets, device and class
// properties, class names and icons, and the four registry keys, which are
// real keys of a private hive (written there when first opened). The
// entry points the viewer never calls (interface lists, writes) fail as
// "not implemented" for a snapshot.
//
// The entry points are plain functions: one binding serves a process at a
// time, the one whose slots were filled last.
class SnapshotBinding : public DeviceBinding {
public:
    SnapshotBinding() = default;
    ~SnapshotBinding() override;
    SnapshotBinding(const SnapshotBinding&) = delete;
    SnapshotBinding& operator=(const SnapshotBinding&) = delete;

    // Serves `snapshot` from now on, with a new private hive for its keys;
    // 0 with the system's error code when no hive can be had (nothing
    // changes then).
    [[nodiscard]] int Serve(std::shared_ptr<const Snapshot> snapshot, DWORD* error);
    // Serves nothing: every entry point fails, the hive is gone.
    void Stop();
    const Snapshot* Served() const { return snapshot_.get(); }
    std::shared_ptr<const Snapshot> ServedShared() const { return snapshot_; }
    // The hive of the snapshot served, or nullptr.
    const PrivateHive* Hive() const { return hive_.get(); }
    // Device information sets handed out and not yet destroyed.
    int OpenSets() const { return (int)sets_.size(); }

    int FillSlots(DeviceApi& api) override;

    // The binding that serves the process now, or nullptr.
    static SnapshotBinding* Current();

    // The set behind a handle of this binding.
    struct Set {
        const std::vector<int>* members;
        bool all;
        GUID classGuid;
    };
    Set* FindSet(HDEVINFO handle) const;
    HDEVINFO NewSet(const Set& set);
    bool DestroySet(HDEVINFO handle);
    // A key of the hive for a device (hardware or software) or a class
    // (installer or interface), written on first use; nullptr when the
    // snapshot has no such key.
    HKEY OpenDeviceKey(int device, bool software);
    HKEY OpenClassKey(const SnapshotClass& setupClass, bool interfaceKey);

private:
    HKEY OpenWritten(const std::wstring& path, const SnapshotKey& key, char& written);
    void DestroyAllSets();

    std::shared_ptr<const Snapshot> snapshot_;
    std::unique_ptr<PrivateHive> hive_;
    std::unordered_set<Set*> sets_;
    std::vector<char> hardwareWritten_, softwareWritten_;
    std::vector<char> installerWritten_, interfaceWritten_;
};
