#pragma once

// Two simulated moments of one machine that differ in known ways, for the
// comparison's tests: since the earlier one, ROOT\NEW\0000 was added,
// ROOT\OLD\0000 removed, the USB hub moved from the first bridge to the
// second, ROOT\SICK\0000 got a problem, the adapter's driver version
// changed and its driver key lost the value Legacy, the second bridge got
// a property, and the display class a new icon. Root, the first bridge and
// ROOT\STEADY\0000 stay as they were: 1 new, 1 removed, 5 changed.

#define QUILL_DIFFERING_CLASSES(displayIcon)                                   \
    "setupclass {4D36E972-E325-11CE-BFC1-08002BE10318} Net\n"                  \
    "  icon 1E90FF\n"                                                          \
    "setupclass {36FC9E60-C465-11CF-8056-444553540000} USB\n"                  \
    "  icon 2E8B57\n"                                                          \
    "setupclass {4D36E968-E325-11CE-BFC1-08002BE10318} Display\n"              \
    "  icon " displayIcon "\n"

const char EarlierMachine[] =
    QUILL_DIFFERING_CLASSES("C04000")
    "device \"HTREE\\\\ROOT\\\\0\"\n"
    "  device \"PCI\\\\BRIDGE\\\\1\"\n"
    "    reg DEVICEDESC sz \"First bridge\"\n"
    "    device \"PCI\\\\NIC\\\\1\"\n"
    "      class Net\n"
    "      status 0x0180200A\n"
    "      reg DEVICEDESC sz \"Network adapter\"\n"
    "      reg CLASSGUID sz \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"\n"
    "      prop DEVPKEY_Device_DriverVersion string \"1.0\"\n"
    "      key software\n"
    "        value Legacy sz \"yes\"\n"
    "        value Speed dword 1000\n"
    "    device \"USB\\\\HUB\\\\1\"\n"
    "      class USB\n"
    "      reg DEVICEDESC sz \"USB hub\"\n"
    "      reg CLASSGUID sz \"{36FC9E60-C465-11CF-8056-444553540000}\"\n"
    "  device \"PCI\\\\BRIDGE\\\\2\"\n"
    "    reg DEVICEDESC sz \"Second bridge\"\n"
    "  device \"PCI\\\\GPU\\\\1\"\n"
    "    class Display\n"
    "    reg DEVICEDESC sz \"Display adapter\"\n"
    "    reg CLASSGUID sz \"{4D36E968-E325-11CE-BFC1-08002BE10318}\"\n"
    "  device \"ROOT\\\\OLD\\\\0000\"\n"
    "    reg DEVICEDESC sz \"Old device\"\n"
    "  device \"ROOT\\\\SICK\\\\0000\"\n"
    "    status 0x0180200A\n"
    "    reg DEVICEDESC sz \"Sick device\"\n"
    "  device \"ROOT\\\\STEADY\\\\0000\"\n"
    "    status 0x0180200A\n"
    "    reg DEVICEDESC sz \"Steady device\"\n";

const char LaterMachine[] =
    QUILL_DIFFERING_CLASSES("40C000")
    "device \"HTREE\\\\ROOT\\\\0\"\n"
    "  device \"PCI\\\\BRIDGE\\\\1\"\n"
    "    reg DEVICEDESC sz \"First bridge\"\n"
    "    device \"PCI\\\\NIC\\\\1\"\n"
    "      class Net\n"
    "      status 0x0180200A\n"
    "      reg DEVICEDESC sz \"Network adapter\"\n"
    "      reg CLASSGUID sz \"{4D36E972-E325-11CE-BFC1-08002BE10318}\"\n"
    "      prop DEVPKEY_Device_DriverVersion string \"2.0\"\n"
    "      key software\n"
    "        value Speed dword 1000\n"
    "  device \"PCI\\\\BRIDGE\\\\2\"\n"
    "    reg DEVICEDESC sz \"Second bridge\"\n"
    "    prop DEVPKEY_Device_Manufacturer string \"Tollbrook\"\n"
    "    device \"USB\\\\HUB\\\\1\"\n"
    "      class USB\n"
    "      reg DEVICEDESC sz \"USB hub\"\n"
    "      reg CLASSGUID sz \"{36FC9E60-C465-11CF-8056-444553540000}\"\n"
    "  device \"PCI\\\\GPU\\\\1\"\n"
    "    class Display\n"
    "    reg DEVICEDESC sz \"Display adapter\"\n"
    "    reg CLASSGUID sz \"{4D36E968-E325-11CE-BFC1-08002BE10318}\"\n"
    "  device \"ROOT\\\\SICK\\\\0000\"\n"
    "    status 0x01802400\n"
    "    problem 22\n"
    "    reg DEVICEDESC sz \"Sick device\"\n"
    "  device \"ROOT\\\\STEADY\\\\0000\"\n"
    "    status 0x0180200A\n"
    "    reg DEVICEDESC sz \"Steady device\"\n"
    "  device \"ROOT\\\\NEW\\\\0000\"\n"
    "    reg DEVICEDESC sz \"New device\"\n";

#undef QUILL_DIFFERING_CLASSES
