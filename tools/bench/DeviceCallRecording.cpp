#include "DeviceCallRecording.h"

#include <string.h>

namespace {

DeviceCallRecorder* attached = nullptr;

} // namespace

// The stand-ins: each notes its call while recording and passes it on.
struct DeviceCallStandIns {
    template <class Proc>
    static Proc Bound(int slot)
    {
        return reinterpret_cast<Proc>(attached->bound_[slot]);
    }

    static void Note(const DeviceCallRecorder::Call& call)
    {
        if (attached->recording_)
            attached->Note(call);
    }

    static CONFIGRET WINAPI Locate(PDEVINST node, DEVINSTID_W id, ULONG flags)
    {
        Note({DeviceApi::Slot_CM_Locate_DevNodeW});
        return Bound<DeviceApi::LocateDevNodeProc>(DeviceApi::Slot_CM_Locate_DevNodeW)(node, id, flags);
    }

    static CONFIGRET WINAPI Child(PDEVINST child, DEVINST parent, ULONG flags)
    {
        Note({DeviceApi::Slot_CM_Get_Child, parent});
        return Bound<DeviceApi::RelativeProc>(DeviceApi::Slot_CM_Get_Child)(child, parent, flags);
    }

    static CONFIGRET WINAPI Sibling(PDEVINST sibling, DEVINST node, ULONG flags)
    {
        Note({DeviceApi::Slot_CM_Get_Sibling, node});
        return Bound<DeviceApi::RelativeProc>(DeviceApi::Slot_CM_Get_Sibling)(sibling, node, flags);
    }

    static CONFIGRET WINAPI Property(DEVINST node, ULONG property, PULONG type, PVOID buffer,
                                     PULONG length, ULONG flags)
    {
        Note({DeviceApi::Slot_CM_Get_DevNode_Registry_PropertyW, node, property, length ? *length : 0});
        return Bound<DeviceApi::RegistryPropertyProc>(DeviceApi::Slot_CM_Get_DevNode_Registry_PropertyW)(
            node, property, type, buffer, length, flags);
    }

    static CONFIGRET WINAPI Status(PULONG status, PULONG problem, DEVINST node, ULONG flags)
    {
        Note({DeviceApi::Slot_CM_Get_DevNode_Status, node});
        return Bound<DeviceApi::StatusProc>(DeviceApi::Slot_CM_Get_DevNode_Status)(status, problem, node,
                                                                                 flags);
    }

    static HDEVINFO WINAPI ClassDevs(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags)
    {
        HDEVINFO set = Bound<DeviceApi::ClassDevsProc>(DeviceApi::Slot_SetupDiGetClassDevsW)(
            guid, enumerator, parent, flags);
        if (attached->recording_) {
            DeviceCallRecorder::Call call = {DeviceApi::Slot_SetupDiGetClassDevsW};
            call.flags = flags;
            call.allClasses = guid == nullptr;
            if (guid)
                call.guid = *guid;
            attached->Note(call);
            attached->sets_.push_back(set);
        }
        return set;
    }

    static BOOL WINAPI Element(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA element)
    {
        DeviceCallRecorder::Call call = {DeviceApi::Slot_SetupDiEnumDeviceInfo};
        call.value = index;
        call.set = attached->SetIndexOf(set);
        Note(call);
        return Bound<DeviceApi::EnumDeviceInfoProc>(DeviceApi::Slot_SetupDiEnumDeviceInfo)(set, index,
                                                                                         element);
    }

    static BOOL WINAPI Destroy(HDEVINFO set)
    {
        DeviceCallRecorder::Call call = {DeviceApi::Slot_SetupDiDestroyDeviceInfoList};
        call.set = attached->SetIndexOf(set);
        Note(call);
        return Bound<DeviceApi::DestroyListProc>(DeviceApi::Slot_SetupDiDestroyDeviceInfoList)(set);
    }

    static BOOL WINAPI ClassIcon(const GUID* guid, HICON* icon, PINT mini)
    {
        DeviceCallRecorder::Call call = {DeviceApi::Slot_SetupDiLoadClassIcon};
        if (guid)
            call.guid = *guid;
        Note(call);
        return Bound<DeviceApi::LoadClassIconProc>(DeviceApi::Slot_SetupDiLoadClassIcon)(guid, icon, mini);
    }
};

namespace {

struct StandIn {
    int slot;
    FARPROC procedure;
};

const StandIn StandIns[] = {
    {DeviceApi::Slot_CM_Locate_DevNodeW, (FARPROC)&DeviceCallStandIns::Locate},
    {DeviceApi::Slot_CM_Get_Child, (FARPROC)&DeviceCallStandIns::Child},
    {DeviceApi::Slot_CM_Get_Sibling, (FARPROC)&DeviceCallStandIns::Sibling},
    {DeviceApi::Slot_CM_Get_DevNode_Registry_PropertyW, (FARPROC)&DeviceCallStandIns::Property},
    {DeviceApi::Slot_CM_Get_DevNode_Status, (FARPROC)&DeviceCallStandIns::Status},
    {DeviceApi::Slot_SetupDiGetClassDevsW, (FARPROC)&DeviceCallStandIns::ClassDevs},
    {DeviceApi::Slot_SetupDiEnumDeviceInfo, (FARPROC)&DeviceCallStandIns::Element},
    {DeviceApi::Slot_SetupDiDestroyDeviceInfoList, (FARPROC)&DeviceCallStandIns::Destroy},
    {DeviceApi::Slot_SetupDiLoadClassIcon, (FARPROC)&DeviceCallStandIns::ClassIcon},
};

} // namespace

void DeviceCallRecorder::Attach(DeviceApi& api)
{
    Detach();
    api_ = &api;
    attached = this;
    for (const StandIn& standIn : StandIns) {
        bound_[standIn.slot] = api.Slot(standIn.slot);
        // A slot the platform lacks stays empty, as the model expects.
        if (bound_[standIn.slot])
            api.SetSlot(standIn.slot, standIn.procedure);
    }
}

void DeviceCallRecorder::Detach()
{
    if (!api_)
        return;
    for (const StandIn& standIn : StandIns)
        if (bound_[standIn.slot])
            api_->SetSlot(standIn.slot, bound_[standIn.slot]);
    api_ = nullptr;
    if (attached == this)
        attached = nullptr;
}

void DeviceCallRecorder::StartRecording()
{
    calls_.clear();
    sets_.clear();
    recording_ = true;
}

void DeviceCallRecorder::StopRecording()
{
    recording_ = false;
}

void DeviceCallRecorder::Note(const Call& call)
{
    calls_.push_back(call);
}

int DeviceCallRecorder::SetIndexOf(HDEVINFO set) const
{
    for (size_t i = sets_.size(); i-- > 0;)
        if (sets_[i] == set)
            return (int)i;
    return -1;
}

void DeviceCallRecorder::Replay() const
{
    std::vector<HDEVINFO> sets;
    sets.reserve(sets_.size());
    static BYTE scratch[64 * 1024];
    HDEVINFO none = INVALID_HANDLE_VALUE;
    for (const Call& call : calls_) {
        FARPROC bound = bound_[call.slot];
        switch (call.slot) {
        case DeviceApi::Slot_CM_Locate_DevNodeW: {
            DEVINST root = 0;
            ((DeviceApi::LocateDevNodeProc)bound)(&root, nullptr, 0);
            break;
        }
        case DeviceApi::Slot_CM_Get_Child:
        case DeviceApi::Slot_CM_Get_Sibling: {
            DEVINST next = 0;
            ((DeviceApi::RelativeProc)bound)(&next, call.node, 0);
            break;
        }
        case DeviceApi::Slot_CM_Get_DevNode_Registry_PropertyW: {
            ULONG type = 0, length = call.length <= sizeof(scratch) ? call.length : sizeof(scratch);
            ((DeviceApi::RegistryPropertyProc)bound)(call.node, call.value, &type, scratch, &length, 0);
            break;
        }
        case DeviceApi::Slot_CM_Get_DevNode_Status: {
            ULONG status = 0, problem = 0;
            ((DeviceApi::StatusProc)bound)(&status, &problem, call.node, 0);
            break;
        }
        case DeviceApi::Slot_SetupDiGetClassDevsW:
            sets.push_back(((DeviceApi::ClassDevsProc)bound)(call.allClasses ? nullptr : &call.guid,
                                                             nullptr, nullptr, call.flags));
            break;
        case DeviceApi::Slot_SetupDiEnumDeviceInfo: {
            SP_DEVINFO_DATA element = {};
            element.cbSize = sizeof(element);
            HDEVINFO set = call.set >= 0 && call.set < (int)sets.size() ? sets[call.set] : none;
            ((DeviceApi::EnumDeviceInfoProc)bound)(set, call.value, &element);
            break;
        }
        case DeviceApi::Slot_SetupDiDestroyDeviceInfoList:
            if (call.set >= 0 && call.set < (int)sets.size())
                ((DeviceApi::DestroyListProc)bound)(sets[call.set]);
            break;
        case DeviceApi::Slot_SetupDiLoadClassIcon: {
            HICON icon = nullptr;
            if (((DeviceApi::LoadClassIconProc)bound)(&call.guid, &icon, nullptr) && icon)
                DestroyIcon(icon);
            break;
        }
        }
    }
}
