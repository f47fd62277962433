#include "properties/StatusText.h"

namespace {

const StatusFlagName FlagNames[StatusText::FlagCount] = {
    {0x1, L"DN_ROOT_ENUMERATED"},
    {0x2, L"DN_DRIVER_LOADED"},
    {0x4, L"DN_ENUM_LOADED"},
    {0x8, L"DN_STARTED"},
    {0x10, L"DN_MANUAL"},
    {0x20, L"DN_NEED_TO_ENUM"},
    {0x80, L"DN_HARDWARE_ENUM"},
    {0x400, L"DN_HAS_PROBLEM"},
    {0x800, L"DN_FILTERED"},
    {0x2000, L"DN_DISABLEABLE"},
    {0x4000, L"DN_REMOVABLE"},
    {0x8000, L"DN_PRIVATE_PROBLEM"},
    {0x40000, L"DN_WILL_BE_REMOVED"},
    {0x80000, L"DN_NOT_FIRST_TIMEE"},
    {0x100000, L"DN_STOP_FREE_RES"},
    {0x200000, L"DN_REBAL_CANDIDATE"},
    {0x400000, L"DN_BAD_PARTIAL"},
    {0x800000, L"DN_NT_ENUMERATOR"},
    {0x1000000, L"DN_NT_DRIVER"},
    {0x4000000, L"DN_ARM_WAKEUP"},
    {0x8000000, L"DN_APM_ENUMERATOR"},
    {0x10000000, L"DN_APM_DRIVER"},
    {0x20000000, L"DN_SILENT_INSTALL"},
    {0x40000000, L"DN_NO_SHOW_IN_DM"},
    {0x80000000, L"DN_BOOT_LOG_PROB"},
    {0x100, L"DN_NEED_RESTART"},
    {0x40, L"DN_DRIVER_BLOCKED"},
    {0x1000, L"DN_LEGACY_DRIVER"},
    {0x200, L"DN_CHILD_WITH_INVALID_ID"},
    {0x2000000, L"DN_DEVICE_DISCONNECTED"},
    {0x10000, L"DN_QUERY_REMOVE_PENDING"},
    {0x20000, L"DN_QUERY_REMOVE_ACTIVE"},
};

const wchar_t* const ProblemNames[StatusText::ProblemCount] = {
    L"CM_PROB_NOT_CONFIGURED",
    L"CM_PROB_DEVLOADER_FAILED",
    L"CM_PROB_OUT_OF_MEMORY",
    L"CM_PROB_ENTRY_IS_WRONG_TYPE",
    L"CM_PROB_LACKED_ARBITRATOR",
    L"CM_PROB_BOOT_CONFIG_CONFLICT",
    L"CM_PROB_FAILED_FILTER",
    L"CM_PROB_DEVLOADER_NOT_FOUND",
    L"CM_PROB_INVALID_DATA",
    L"CM_PROB_FAILED_START",
    L"CM_PROB_LIAR",
    L"CM_PROB_NORMAL_CONFLICT",
    L"CM_PROB_NOT_VERIFIED",
    L"CM_PROB_NEED_RESTART",
    L"CM_PROB_REENUMERATION",
    L"CM_PROB_PARTIAL_LOG_CONF",
    L"CM_PROB_UNKNOWN_RESOURCE",
    L"CM_PROB_REINSTALL",
    L"CM_PROB_REGISTRY",
    L"CM_PROB_VXDLDR",
    L"CM_PROB_WILL_BE_REMOVED",
    L"CM_PROB_DISABLED",
    L"CM_PROB_DEVLOADER_NOT_READY",
    L"CM_PROB_DEVICE_NOT_THERE",
    L"CM_PROB_MOVED",
    L"CM_PROB_TOO_EARLY",
    L"CM_PROB_NO_VALID_LOG_CONF",
    L"CM_PROB_FAILED_INSTALL",
    L"CM_PROB_HARDWARE_DISABLED",
    L"CM_PROB_CANT_SHARE_IRQ",
    L"CM_PROB_FAILED_ADD",
    L"CM_PROB_DISABLED_SERVICE",
    L"CM_PROB_TRANSLATION_FAILED",
    L"CM_PROB_NO_SOFTCONFIG",
    L"CM_PROB_BIOS_TABLE",
    L"CM_PROB_IRQ_TRANSLATION_FAILED",
    L"CM_PROB_FAILED_DRIVER_ENTRY",
    L"CM_PROB_DRIVER_FAILED_PRIOR_UNLOAD",
    L"CM_PROB_DRIVER_FAILED_LOAD",
    L"CM_PROB_DRIVER_SERVICE_KEY_INVALID",
    L"CM_PROB_LEGACY_SERVICE_NO_DEVICES",
    L"CM_PROB_DUPLICATE_DEVICE",
    L"CM_PROB_FAILED_POST_START",
    L"CM_PROB_HALTED",
    L"CM_PROB_PHANTOM",
    L"CM_PROB_SYSTEM_SHUTDOWN",
    L"CM_PROB_HELD_FOR_EJECT",
    L"CM_PROB_DRIVER_BLOCKED",
    L"CM_PROB_REGISTRY_TOO_LARGE",
    L"CM_PROB_SETPROPERTIES_FAILED",
    L"CM_PROB_WAITING_ON_DEPENDENCY",
    L"CM_PROB_UNSIGNED_DRIVER",
    L"CM_PROB_USED_BY_DEBUGGER",
    L"CM_PROB_DEVICE_RESET",
    L"CM_PROB_CONSOLE_LOCKED",
    L"CM_PROB_NEED_CLASS_CONFIG",
    L"CM_PROB_GUEST_ASSIGNMENT_FAILED",
};

const ULONG HasProblem = 0x400;

} // namespace

const StatusFlagName* StatusText::Flags()
{
    return FlagNames;
}

const wchar_t* StatusText::ProblemName(ULONG problem)
{
    return problem >= 1 && problem <= (ULONG)ProblemCount ? ProblemNames[problem - 1] : nullptr;
}

void StatusText::Format(ULONG status, ULONG problem, WideString& value)
{
    WideString flags;
    for (const StatusFlagName& flag : FlagNames)
        if (status & flag.bit)
            flags.AppendWithSeparator(flag.name, L", ");
    flags.RemoveAll(L"DN_");

    WideString problemName;
    if ((status & HasProblem) && ProblemName(problem)) {
        problemName.Assign(ProblemName(problem));
        problemName.RemoveAll(L"CM_PROB_");
    }
    WideString problemText;
    if (!problemName.IsEmpty())
        problemText.Format(L", Problem: 0x%X (%s)", (unsigned)problem, problemName.Text());
    else
        problemText.Assign(L", Problem: None");
    value.Format(L"0x%08X (%s)%s", (unsigned)status, flags.Text(), problemText.Text());
}
