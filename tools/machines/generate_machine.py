#!/usr/bin/env python3
"""Writes a large simulated machine for the device simulator.

  generate_machine.py --nodes 20000 --out machine_20000.txt [--seed 1]

The machine looks like a big server: ACPI with many processors, several PCI
root complexes with switches, storage controllers with many disks, network
adapters, GPUs, USB trees with hubs and HID devices, and the software devices
(volumes, audio endpoints, print queues, WAN miniports) that Windows creates.
A few devices have problems. The device
PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03\\4&2F6A1C3B&0&00E4 carries 200
device properties. The output depends only on --nodes and --seed.
"""
import argparse
import os
import random

CLASSES = [
    # name, GUID, icon colour (None: the class has no icon)
    ("Computer", "{4D36E966-E325-11CE-BFC1-08002BE10318}", "5A6E82"),
    ("System", "{4D36E97D-E325-11CE-BFC1-08002BE10318}", "3C7DBF"),
    ("Processor", "{50127DC3-0F36-415E-A6CC-4CB3BE910B65}", "7A5CC8"),
    ("USB", "{36FC9E60-C465-11CF-8056-444553540000}", "2E8B57"),
    ("HIDClass", "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "D2691E"),
    ("Keyboard", "{4D36E96B-E325-11CE-BFC1-08002BE10318}", "8B4513"),
    ("Mouse", "{4D36E96F-E325-11CE-BFC1-08002BE10318}", "A0522D"),
    ("DiskDrive", "{4D36E967-E325-11CE-BFC1-08002BE10318}", "708090"),
    ("Volume", "{71A27CDD-812A-11D0-BEC7-08002BE2092F}", "B8860B"),
    ("HDC", "{4D36E96A-E325-11CE-BFC1-08002BE10318}", "4682B4"),
    ("SCSIAdapter", "{4D36E97B-E325-11CE-BFC1-08002BE10318}", "5F9EA0"),
    ("Net", "{4D36E972-E325-11CE-BFC1-08002BE10318}", "1E90FF"),
    ("Display", "{4D36E968-E325-11CE-BFC1-08002BE10318}", "228B22"),
    ("Monitor", "{4D36E96E-E325-11CE-BFC1-08002BE10318}", "20B2AA"),
    ("MEDIA", "{4D36E96C-E325-11CE-BFC1-08002BE10318}", "C71585"),
    ("AudioEndpoint", "{C166523C-FE0C-4A94-A586-F1A80CFBBF3E}", "DB7093"),
    ("Bluetooth", "{E0CBF06C-CD8B-4647-BB8A-263B43F0F974}", "0066CC"),
    ("SoftwareDevice", "{62F9C741-B25A-46CE-B54C-9BCCCE08B6F2}", "696969"),
    ("SoftwareComponent", "{5C4C3332-344D-483C-8739-259E934C9CC8}", None),
    ("Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}", "9ACD32"),
    ("PrintQueue", "{1ED2BBF9-11F0-4084-B21F-AD83A8E6DCDC}", "6B8E23"),
    ("Firmware", "{F2E7DD72-6468-4E36-B6F1-6488F42C1B52}", "8B0000"),
    ("SecurityDevices", "{D94EE5D8-D189-4994-83D2-F68D7D41B0E6}", "483D8B"),
    ("Camera", "{CA3E7AB9-B4C3-4AE6-8251-579EF933890F}", "2F4F4F"),
    ("LegacyDriver", "{8ECC055D-047F-11D1-A537-0000F8753ED1}", None),
]
CLASS_GUID = {name: guid for name, guid, _ in CLASSES}

STARTED = 0x0180200A  # DRIVER_LOADED STARTED DISABLEABLE NT_ENUMERATOR NT_DRIVER
STARTED_FIXED = 0x0180000A  # the same, not disableable
STARTED_ROOT = 0x0180000B  # root-enumerated
STARTED_REMOVABLE = 0x0180600A  # DISABLEABLE REMOVABLE
PROBLEMS = [28, 22, 10, 1, 43, 31, 24]

SPECIAL_ID = "PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03\\4&2F6A1C3B&0&00E4"


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Node:
    def __init__(self, instance_id, cls, desc, friendly=None):
        self.instance_id = instance_id
        self.cls = cls
        self.desc = desc
        self.friendly = friendly
        self.children = []
        self.lines = []


class Machine:
    def __init__(self, nodes, seed):
        self.budget = nodes
        self.count = 0
        self.random = random.Random(seed)
        self.driver_numbers = {}
        self.keys = load_keys()

    def guid(self):
        r = self.random
        return "{%08X-%04X-%04X-%04X-%012X}" % (r.getrandbits(32), r.getrandbits(16), r.getrandbits(16),
                                               r.getrandbits(16), r.getrandbits(48))

    def full(self):
        return self.count >= self.budget

    def add(self, parent, instance_id, cls, desc, friendly=None, status=None, hardware_ids=(),
            service=None, mfg="(Standard system devices)", location=None, removable=False):
        """Adds a device under parent; returns it, or None once the budget is spent."""
        if self.full():
            return None
        self.count += 1
        node = Node(instance_id, cls, desc, friendly)
        if parent is not None:
            parent.children.append(node)
        if status is None:
            status = STARTED_REMOVABLE if removable else STARTED
        problem = 0
        if parent is not None and instance_id != SPECIAL_ID and self.random.random() < 0.004:
            problem = self.random.choice(PROBLEMS)
            status = (status & ~0x0000000A) | 0x00000400  # not started, DN_HAS_PROBLEM
        self.describe(node, status, problem, hardware_ids, service, mfg, location)
        return node

    def describe(self, node, status, problem, hardware_ids, service, mfg, location):
        lines = node.lines
        if node.cls:
            lines.append("class " + node.cls)
        lines.append("status 0x%08X" % status)
        if problem:
            lines.append("problem %d" % problem)
        if node.desc is not None:
            lines.append("reg DEVICEDESC sz " + quote(node.desc))
        if node.friendly:
            lines.append("reg FRIENDLYNAME sz " + quote(node.friendly))
        if hardware_ids:
            lines.append("reg HARDWAREID multi_sz " + " ".join(quote(h) for h in hardware_ids))
        if service:
            lines.append("reg SERVICE sz " + quote(service))
        if location:
            lines.append("reg LOCATION_INFORMATION sz " + quote(location))
        name = node.friendly or node.desc or ""
        lines.append("prop DEVPKEY_NAME string " + quote(name))
        if not node.cls or problem == 28:
            return  # no driver installed: no class, no driver key
        guid = CLASS_GUID[node.cls]
        number = self.driver_numbers.get(node.cls, 0)
        self.driver_numbers[node.cls] = number + 1
        lines.append("reg CLASSGUID sz " + quote(guid))
        lines.append("reg DRIVER sz " + quote("%s\\%04d" % (guid.lower(), number)))
        lines.append("reg MFG sz " + quote(mfg))
        lines.append("key software")
        lines.append("value DriverDesc sz " + quote(node.desc or ""))
        lines.append("value ProviderName sz " + quote("Microsoft" if mfg.startswith("(") else mfg))


def load_keys():
    keys = []
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "devpkey.tsv")
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f):
            fields = line.rstrip("\n").split("\t")
            if number and len(fields) == 3:
                keys.append(fields[0])
    return keys


def add_special_properties(m, node):
    """200 device properties of many types: the property list's worst case."""
    r = random.Random(200)
    chosen = [k for k in m.keys if k != "DEVPKEY_NAME"][:150]
    kinds = ["uint32", "string", "boolean", "guid", "filetime", "uint64", "byte", "uint16", "string_list",
             "binary", "int32"]
    for i, key in enumerate(chosen):
        kind = kinds[i % len(kinds)]
        node.lines.append("prop %s %s %s" % (key, kind, sample_value(r, kind, i)))
    for i in range(49):  # keys that no table names
        kind = kinds[i % len(kinds)]
        node.lines.append("prop {5C1E3F2A-9B7D-4E61-A3C8-%012X} %d %s %s" % (i, 2 + i, kind,
                                                                           sample_value(r, kind, i)))


def sample_value(r, kind, i):
    if kind in ("uint32", "int32"):
        return str(r.randrange(1 << 31))
    if kind == "uint64":
        return str(r.getrandbits(63))
    if kind == "byte":
        return str(r.randrange(256))
    if kind == "uint16":
        return str(r.randrange(65536))
    if kind == "boolean":
        return "true" if i % 2 else "false"
    if kind == "guid":
        return "{%08X-%04X-%04X-%04X-%012X}" % (r.getrandbits(32), r.getrandbits(16), r.getrandbits(16),
                                               r.getrandbits(16), r.getrandbits(48))
    if kind == "filetime":
        return "20%02d-%02d-%02dT%02d:%02d:%02dZ" % (10 + r.randrange(14), 1 + r.randrange(12), 1 + r.randrange(28),
                                                 r.randrange(24), r.randrange(60), r.randrange(60))
    if kind == "string":
        return quote("Value %d of the adapter" % i)
    if kind == "string_list":
        return quote("first %d" % i) + " " + quote("second")
    return "hex:" + ",".join("%02x" % r.randrange(256) for _ in range(8 + i % 24))


# --- the parts of the machine ---------------------------------------------

def acpi(m, root, processors):
    hal = m.add(root, "ROOT\\ACPI_HAL\\0000", "Computer", "ACPI x64-based PC", status=STARTED_ROOT,
                hardware_ids=["acpiapic"])
    system = m.add(hal, "ACPI_HAL\\PNP0C08\\0", "System", "Microsoft ACPI-Compliant System",
                   status=STARTED_FIXED, hardware_ids=["ACPI_HAL\\PNP0C08", "*PNP0C08"], service="ACPI")
    cpu = "Intel(R) Xeon(R) Platinum 8380 CPU @ 2.30GHz"
    for i in range(processors):
        m.add(system, "ACPI\\GenuineIntel_-_Intel64_Family_6_Model_106_-_%s\\_%d" % (cpu.replace(" ", "_"), i),
              "Processor", "Intel Processor", friendly=cpu, status=STARTED_FIXED,
              hardware_ids=["ACPI\\GenuineIntel_-_Intel64_Family_6_Model_106", "*GenuineIntel"],
              service="intelppm", mfg="Intel")
    for hid, desc in [("PNP0C0C", "ACPI Power Button"), ("PNP0C0E", "ACPI Sleep Button"),
                      ("PNP0103", "High precision event timer"), ("PNP0B00", "System CMOS/real time clock"),
                      ("PNP0C14", "Microsoft Windows Management Interface for ACPI"),
                      ("PNP0C02", "Motherboard resources")]:
        m.add(system, "ACPI\\%s\\2&daba3ff&1" % hid, "System", desc, hardware_ids=["ACPI\\" + hid, "*" + hid])
    for i in range(4):
        m.add(system, "ACPI\\ThermalZone\\TZ%02d" % i, "System", "ACPI Thermal Zone",
              hardware_ids=["ACPI\\ThermalZone"])
    m.add(system, "ACPI\\PNP0C01\\1", "Firmware", "System Firmware", hardware_ids=["ACPI\\PNP0C01"])
    m.add(system, "ACPI\\MSFT0101\\1", "SecurityDevices", "Trusted Platform Module 2.0",
          hardware_ids=["ACPI\\MSFT0101"], service="TPM")
    return system


def pci_address(bus, device, function):
    return "PCI bus %d, device %d, function %d" % (bus, device, function)


class Counter:
    def __init__(self):
        self.value = 0

    def next(self):
        self.value += 1
        return self.value


def disk(m, parent, serial, model, bus_name):
    return m.add(parent, "%s\\Disk&Ven_&Prod_%s\\%s" % (bus_name, model.replace(" ", "_"), serial), "DiskDrive",
                 "Disk drive", friendly=model, hardware_ids=["%s\\Disk%s" % (bus_name, model.replace(" ", "_")),
                                                            "GenDisk"], service="disk")


def storage(m, port, ids, disks):
    kind = m.random.choice(["nvme", "sas", "sata"])
    if kind == "nvme":
        ctrl = m.add(port, "PCI\\VEN_144D&DEV_A80A&SUBSYS_A801144D&REV_00\\4&%08x&0&0010" % ids.next(),
                     "SCSIAdapter", "Standard NVM Express Controller", hardware_ids=["PCI\\VEN_144D&DEV_A80A"],
                     service="stornvme", mfg="Standard NVM Express Controller")
        models = ["Samsung SSD 980 PRO 2TB", "INTEL SSDPE2KX040T8", "Micron 7450 MTFDKCC3T8TFR"]
        count = 1
        bus = "SCSI"
    elif kind == "sas":
        ctrl = m.add(port, "PCI\\VEN_1000&DEV_0097&SUBSYS_30901000&REV_02\\4&%08x&0&0020" % ids.next(),
                     "SCSIAdapter", "Avago Adapter, SAS3 3008 Fury -StorPort", hardware_ids=["PCI\\VEN_1000&DEV_0097"],
                     service="SAS3i", mfg="Avago")
        models = ["SEAGATE ST16000NM002G", "HGST HUH721212AL5200", "TOSHIBA MG08SCA16TE"]
        count = m.random.randint(2, 8)
        bus = "SCSI"
    else:
        ctrl = m.add(port, "PCI\\VEN_8086&DEV_A182&SUBSYS_00008086&REV_09\\3&%08x&0&B8" % ids.next(), "HDC",
                     "Standard SATA AHCI Controller", hardware_ids=["PCI\\VEN_8086&DEV_A182", "PCI\\CC_010601"],
                     service="storahci")
        models = ["ST4000NM0035-1V4107", "WDC WD40EFRX-68N32N0"]
        count = m.random.randint(2, 6)
        bus = "SCSI"
    if ctrl is None:
        return
    for _ in range(count):
        serial = "5&%08x&0&%06d" % (ids.next(), len(disks))
        d = disk(m, ctrl, serial, m.random.choice(models), bus)
        if d is None:
            return
        disks.append(d)


def network(m, port, ids):
    model = m.random.choice([("8086", "1572", "Intel(R) Ethernet Converged Network Adapter X710"),
                             ("15B3", "1017", "Mellanox ConnectX-5 Adapter"),
                             ("14E4", "16D7", "Broadcom NetXtreme E-Series Dual-port 25Gb SFP28 Ethernet")])
    for function in range(m.random.choice([1, 2, 4])):
        m.add(port, "PCI\\VEN_%s&DEV_%s&SUBSYS_00000000&REV_02\\4&%08x&0&00%02X" % (model[0], model[1], ids.next(),
                                                                                   function),
              "Net", model[2], friendly="%s #%d" % (model[2], ids.value), hardware_ids=["PCI\\VEN_%s&DEV_%s" %
                                                                                       model[:2]],
              service="netcx", mfg=model[2].split()[0], location=pci_address(ids.value % 200, 0, function))


def gpu(m, port, ids):
    display = m.add(port, "PCI\\VEN_10DE&DEV_20B5&SUBSYS_151F10DE&REV_A1\\4&%08x&0&0008" % ids.next(), "Display",
                    "NVIDIA A100 80GB PCIe", hardware_ids=["PCI\\VEN_10DE&DEV_20B5"], service="nvlddmkm",
                    mfg="NVIDIA")
    if display is not None and m.random.random() < 0.3:
        m.add(display, "DISPLAY\\DEL40F5\\5&%08x&0&UID4352" % ids.next(), "Monitor", "Generic PnP Monitor",
              friendly="Dell U2415 (DisplayPort)", hardware_ids=["MONITOR\\DEL40F5"], service="monitor")


USB_DEVICES = [
    ("046D", "C52B", "Logitech USB Input Device", "keyboard+mouse"),
    ("045E", "07B2", "Microsoft Wired Keyboard 600", "keyboard"),
    ("0781", "5583", "SanDisk Ultra Fit", "storage"),
    ("0BDA", "8153", "Realtek USB GbE Family Controller", "net"),
    ("046D", "085B", "Logitech Webcam C925e", "camera"),
    ("0557", "2008", "USB-Serial Controller", "serial"),
    ("1050", "0407", "YubiKey OTP+FIDO+CCID", "vendor"),
]


def usb_function(m, hub, ids, port_number):
    vid, pid, name, kind = m.random.choice(USB_DEVICES)
    base = "USB\\VID_%s&PID_%s" % (vid, pid)
    device = m.add(hub, "%s\\%d&%08x&0&%d" % (base, 5 + port_number % 3, ids.next(), port_number), "USB",
                   "USB Composite Device" if "+" in kind else name, hardware_ids=[base + "&REV_0100", base],
                   service="usbccgp" if "+" in kind else None, mfg="(Standard USB Host Controller)", removable=True,
                   location="Port_#%04d.Hub_#%04d" % (port_number, ids.value % 50))
    if device is None:
        return
    if kind in ("keyboard+mouse", "keyboard"):
        hid = m.add(device, "%s&MI_00\\6&%08x&0&0000" % (base, ids.next()), "HIDClass", "USB Input Device",
                    hardware_ids=[base + "&MI_00"], service="HidUsb", removable=True)
        m.add(hid, "HID\\VID_%s&PID_%s&MI_00\\7&%08x&0&0000" % (vid, pid, ids.next()), "Keyboard",
              "HID Keyboard Device", hardware_ids=["HID_DEVICE_SYSTEM_KEYBOARD"], service="kbdhid")
    if kind == "keyboard+mouse":
        hid = m.add(device, "%s&MI_01\\6&%08x&0&0001" % (base, ids.next()), "HIDClass", "USB Input Device",
                    hardware_ids=[base + "&MI_01"], service="HidUsb", removable=True)
        m.add(hid, "HID\\VID_%s&PID_%s&MI_01&Col01\\7&%08x&0&0000" % (vid, pid, ids.next()), "Mouse",
              "HID-compliant mouse", hardware_ids=["HID_DEVICE_SYSTEM_MOUSE"], service="mouhid")
        m.add(hid, "HID\\VID_%s&PID_%s&MI_01&Col02\\7&%08x&0&0001" % (vid, pid, ids.next()), "HIDClass",
              "HID-compliant consumer control device", hardware_ids=["HID_DEVICE_UP:000C_U:0001"])
        m.add(hid, "HID\\VID_%s&PID_%s&MI_01&Col03\\7&%08x&0&0002" % (vid, pid, ids.next()), "HIDClass",
              "HID-compliant vendor-defined device", hardware_ids=["HID_DEVICE_UP:FF00_U:0001"])
    elif kind == "storage":
        m.add(device, "USBSTOR\\Disk&Ven_SanDisk&Prod_Ultra_Fit&Rev_1.00\\4C530001%08d&0" % ids.next(), "DiskDrive",
              "Disk drive", friendly="SanDisk Ultra Fit USB Device", hardware_ids=["USBSTOR\\DiskSanDisk_Ultra_Fit"],
              service="disk", removable=True)
    elif kind == "camera":
        m.add(device, "%s&MI_00\\6&%08x&0&0000" % (base, ids.next()), "Camera", "Logitech Webcam C925e",
              hardware_ids=[base + "&MI_00"], service="usbvideo", removable=True)
    elif kind == "serial":
        # The adapter's serial number is part of its instance ID, which no
        # two devices of a machine share.
        m.add(device, "FTDIBUS\\VID_0557+PID_2008+A5%06XA\\0000" % (ids.value % 0x1000000), "Ports",
              "USB Serial Port",
              friendly="USB Serial Port (COM%d)" % (3 + ids.value % 20), service="FTSER2K")


def usb_tree(m, port, ids, depth):
    ctrl = m.add(port, "PCI\\VEN_8086&DEV_A36D&SUBSYS_86941043&REV_10\\3&%08x&0&A0" % ids.next(), "USB",
                 "Intel(R) USB 3.1 eXtensible Host Controller - 1.10 (Microsoft)",
                 hardware_ids=["PCI\\VEN_8086&DEV_A36D", "PCI\\CC_0C0330"], service="USBXHCI",
                 mfg="Generic USB xHCI Host Controller")
    if ctrl is None:
        return
    hub = m.add(ctrl, "USB\\ROOT_HUB30\\4&%08x&0&0" % ids.next(), "USB", "USB Root Hub (USB 3.0)",
                hardware_ids=["USB\\ROOT_HUB30&VID8086&PID A36D", "USB\\ROOT_HUB30"], service="USBHUB3")
    usb_hub(m, hub, ids, depth)


def usb_hub(m, hub, ids, depth):
    if hub is None:
        return
    for port_number in range(1, m.random.randint(3, 5)):
        if depth < 5 and m.random.random() < 0.25:
            child = m.add(hub, "USB\\VID_05E3&PID_0610\\%d&%08x&0&%d" % (5 + depth, ids.next(), port_number), "USB",
                          "Generic USB Hub", hardware_ids=["USB\\VID_05E3&PID_0610&REV_9226"], service="USBHUB3",
                          removable=True, location="Port_#%04d.Hub_#%04d" % (port_number, depth))
            usb_hub(m, child, ids, depth + 1)
        else:
            usb_function(m, hub, ids, port_number)


def root_complex(m, system, index, ids, disks):
    rc = m.add(system, "ACPI\\PNP0A08\\%d" % index, "System", "PCI Express Root Complex",
               hardware_ids=["ACPI\\PNP0A08", "*PNP0A03"], service="pci", status=STARTED_FIXED)
    if rc is None:
        return
    m.add(rc, "PCI\\VEN_8086&DEV_09A2&SUBSYS_00000000&REV_04\\3&%08x&0&%02X" % (ids.next(), index), "System",
          "Intel(R) Xeon(R) Processor Memory Map/VT-d", hardware_ids=["PCI\\VEN_8086&DEV_09A2"])
    while not m.full():
        port = m.add(rc, "PCI\\VEN_8086&DEV_347A&SUBSYS_00000000&REV_04\\3&%08x&0&%02X" % (ids.next(), ids.value % 256),
                     "System", "Intel(R) PCI Express Root Port", hardware_ids=["PCI\\VEN_8086&DEV_347A",
                                                                             "PCI\\CC_060400"],
                     service="pci", location=pci_address(index * 16, ids.value % 32, 0))
        if port is None:
            return
        if m.random.random() < 0.3:  # a PCIe switch: more depth
            up = m.add(port, "PCI\\VEN_10B5&DEV_8747&SUBSYS_874710B5&REV_CA\\4&%08x&0&0008" % ids.next(), "System",
                       "PCI Express Upstream Switch Port", hardware_ids=["PCI\\VEN_10B5&DEV_8747"], service="pci")
            for lane in range(4):
                down = m.add(up, "PCI\\VEN_10B5&DEV_8747&SUBSYS_874710B5&REV_CA\\5&%08x&0&%02X" % (ids.next(), lane),
                             "System", "PCI Express Downstream Switch Port", hardware_ids=["PCI\\VEN_10B5&DEV_8747"],
                             service="pci")
                if down is not None:
                    endpoint(m, down, ids, disks)
        else:
            endpoint(m, port, ids, disks)
        if m.random.random() < 0.08:
            return  # the next root complex takes over


def endpoint(m, port, ids, disks):
    choice = m.random.random()
    if choice < 0.35:
        storage(m, port, ids, disks)
    elif choice < 0.65:
        network(m, port, ids)
    elif choice < 0.92:
        gpu(m, port, ids)
    else:
        usb_tree(m, port, ids, 0)


def software(m, root, ids, disks):
    volmgr = m.add(root, "ROOT\\volmgr\\0000", "System", "Volume Manager", status=STARTED_ROOT,
                   hardware_ids=["ROOT\\volmgr"], service="volmgr")
    for d in list(disks):
        for _ in range(m.random.choice([1, 1, 1, 2])):
            offset = m.random.randrange(1, 1 << 24) << 20
            m.add(volmgr, "STORAGE\\Volume\\{%s}#%016X" % (m.guid()[1:-1].lower(), offset), "Volume", "Volume",
                  hardware_ids=["STORAGE\\Volume"], service="volume")
    swd = m.add(root, "ROOT\\SYSTEM\\0000", "System", "Plug and Play Software Device Enumerator",
                status=STARTED_ROOT, hardware_ids=["ROOT\\SWENUM"], service="swenum")
    endpoints = [("Speakers", "Lautsprecher (Realtek(R) Audio)"), ("Headphones", "Kopfhörer (USB Audio)"),
                 ("Microphone", "マイク (Realtek(R) Audio)"), ("Digital Output", "Digital Audio (S/PDIF)")]
    while not m.full():
        kind = m.random.random()
        if kind < 0.4:
            short, name = m.random.choice(endpoints)
            m.add(swd, "SWD\\MMDEVAPI\\{0.0.0.00000000}.%s" % m.guid().lower(), "AudioEndpoint", short,
                  friendly=name, hardware_ids=["MMDEVAPIDevices"])
        elif kind < 0.6:
            m.add(swd, "SWD\\PRINTENUM\\%s" % m.guid(), "PrintQueue", "Root Print Queue",
                  friendly="Printer %d" % ids.next(), hardware_ids=["PRINTENUM\\LocalPrintQueue"])
        elif kind < 0.75:
            m.add(swd, "SWD\\MSRRAS\\MS_NDISWAN%d" % ids.next(), "Net", "WAN Miniport (IP)",
                  hardware_ids=["ms_ndiswanip"], service="NdisWan")
        elif kind < 0.9:
            m.add(swd, "SWD\\DRIVERENUM\\{%s}#Component&%d" % (m.guid()[1:-1], ids.next()), "SoftwareComponent",
                  "Software component", hardware_ids=["SWC\\VEN_8086&AID_0001"])
        else:
            m.add(swd, "SWD\\WPDBUSENUM\\_??_USBSTOR#%d" % ids.next(), "SoftwareDevice", "Generic software device",
                  hardware_ids=["SWD\\GenericRaw"])


def build(nodes, seed):
    m = Machine(nodes, seed)
    root = m.add(None, "HTREE\\ROOT\\0", None, None, status=STARTED_ROOT)
    system = acpi(m, root, processors=min(256, max(8, nodes // 150)))
    ids = Counter()
    # The device with 200 properties, in the first root complex's range.
    special = m.add(system, SPECIAL_ID, "Net", "Intel(R) Ethernet Controller (3) I225-V",
                    hardware_ids=["PCI\\VEN_8086&DEV_15F3&SUBSYS_00008086&REV_03", "PCI\\VEN_8086&DEV_15F3"],
                    service="e2f", mfg="Intel", location=pci_address(3, 0, 0))
    add_special_properties(m, special)
    m.add(root, "ROOT\\BasicDisplay\\0000", "Display", "Microsoft Basic Display Driver", status=STARTED_ROOT,
          hardware_ids=["ROOT\\BasicDisplay"], service="BasicDisplay")
    m.add(root, "ROOT\\LEGACY_BEEP\\0000", "LegacyDriver", "Beep", status=0x4180000B)
    disks = []
    # Hardware takes about three quarters of the machine, software devices the rest.
    hardware_budget = m.budget
    m.budget = m.count + (nodes - m.count) * 3 // 4
    index = 0
    while not m.full():
        root_complex(m, system, index, ids, disks)
        index += 1
    m.budget = hardware_budget
    software(m, root, ids, disks)
    return m, root


def write(m, root, out):
    lines = ["# A large simulated machine written by generate_machine.py (%d devnodes)." % m.count,
             "# The device with 200 device properties is " + SPECIAL_ID, ""]
    for name, guid, colour in CLASSES:
        lines.append("setupclass %s %s" % (guid, name))
        if colour:
            lines.append("  icon " + colour)
        lines.append("  propkey installer DEVPKEY_NAME")
        lines.append("  propkey installer DEVPKEY_DeviceClass_Name")
        lines.append("  key installer")
        lines.append("  value \"\" sz " + quote(name))
        lines.append("  value Class sz " + quote(name))
    lines.append("")

    stack = [(root, 0)]
    while stack:
        node, depth = stack.pop()
        pad = " " * depth  # one space per level keeps the large files small
        lines.append(pad + "device " + quote(node.instance_id))
        lines.extend(pad + "  " + line for line in node.lines)
        for child in reversed(node.children):
            stack.append((child, depth + 1))
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--nodes", type=int, required=True)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.nodes < 200:
        parser.error("a generated machine has at least 200 devnodes")
    m, root = build(args.nodes, args.seed)
    if m.count != args.nodes:
        raise SystemExit("generated %d devnodes instead of %d" % (m.count, args.nodes))
    write(m, root, args.out)


if __name__ == "__main__":
    main()
