#include "devices/DeviceTree.h"
#include "properties/PropertyList.h"

#include <new>
#include <stdlib.h>

namespace {

// Entry points the enumeration needs, all or nothing, for the local machine
// and, as _Ex twins, for a named one.
const char* const CommonEntryPoints[] = {
    "SetupDiEnumDeviceInterfaces",   "SetupDiDestroyDeviceInfoList",
    "SetupDiOpenDeviceInfoW",        "SetupDiGetDeviceRegistryPropertyW",
    "SetupDiSetDeviceRegistryPropertyW", "SetupDiGetDeviceInstanceIdW",
    "SetupDiEnumDeviceInfo",         "SetupDiGetDeviceInterfaceDetailW",
};
const char* const LocalEntryPoints[] = {
    "SetupDiGetClassDevsW",
    "CM_Locate_DevNodeW",
    "CM_Get_Sibling",
    "CM_Get_Device_IDW",
    "CM_Get_DevNode_Registry_PropertyW",
    "CM_Set_DevNode_Registry_PropertyW",
    "CM_Get_Child",
    "CM_Get_Parent",
    "CM_Get_Device_Interface_ListW",
    "CM_Get_Device_ID_ListA",
    "CM_Get_Device_ID_ListW",
    "CM_Get_Device_ID_List_SizeA",
    "CM_Get_Device_ID_List_SizeW",
    "CM_Get_Device_Interface_List_SizeW",
};
const char* const RemoteEntryPoints[] = {
    "SetupDiGetClassDevsExW",
    "CM_Locate_DevNode_ExW",
    "CM_Get_Sibling_Ex",
    "CM_Get_Device_ID_ExW",
    "CM_Get_DevNode_Registry_Property_ExW",
    "CM_Set_DevNode_Registry_Property_ExW",
    "CM_Get_Child_Ex",
    "CM_Get_Parent_Ex",
    "CM_Get_Device_Interface_List_ExW",
    "CM_Get_Device_ID_List_ExA",
    "CM_Get_Device_ID_List_ExW",
    "CM_Get_Device_ID_List_Size_ExA",
    "CM_Get_Device_ID_List_Size_ExW",
    "CM_Get_Device_Interface_List_Size_ExW",
    "CM_Connect_MachineW",
    "CM_Disconnect_Machine",
};

bool SlotBound(const DeviceApi& api, const char* name)
{
    for (int i = 0; i < DeviceApi::SlotCount; ++i)
        if (lstrcmpA(DeviceApi::SlotName(i), name) == 0)
            return api.Slot(i) != nullptr;
    return false;
}

template <int N> bool AllBound(const DeviceApi& api, const char* const (&names)[N])
{
    for (const char* name : names)
        if (!SlotBound(api, name))
            return false;
    return true;
}

wchar_t FoldAscii(wchar_t ch)
{
    return ch >= L'A' && ch <= L'Z' ? (wchar_t)(ch + (L'a' - L'A')) : ch;
}

// Does the filter start at `p`? Only the ASCII letters fold.
bool StartsFolded(const wchar_t* p, const wchar_t* filter)
{
    for (; *filter; ++p, ++filter)
        if (FoldAscii(*p) != FoldAscii(*filter))
            return false;
    return true;
}

// Does `text` contain `filter` at some character position? Only the ASCII
// letters fold; every other character must be equal. Characters are stepped
// with CharNextW, which keeps a base letter and its combining marks
// together; since nearly every name fails the plain search over all code
// units, only the few that pass it pay for the stepping.
bool ContainsFolded(const wchar_t* text, const wchar_t* filter)
{
    const wchar_t* p = text;
    while (*p && !StartsFolded(p, filter))
        ++p;
    if (!*p)
        return false;
    int length = lstrlenW(filter);
    for (p = text; *p; p = CharNextW(p))
        if (CompareAsciiNoCase(p, filter, length) == 0)
            return true;
    return false;
}

} // namespace

DeviceTree::DeviceTree()
{
    api_.AttachNodes(&topLevel_);
}

DeviceTree::~DeviceTree()
{
    Stop();
}

int DeviceTree::Start()
{
    int result = api_.Bind();
    ForgetEnumeration();
    usable_ = true;
    return result;
}

int DeviceTree::Stop()
{
    usable_ = false;
    api_.Unbind();
    ForgetEnumeration();
    return 1;
}

void DeviceTree::ForgetEnumeration()
{
    // The nodes that borrowed the icons are gone already.
    classes_.Clear();
    icons_.Clear();
    // Images of icons that are gone are added again at the next rebuild.
    imagesTree_ = nullptr;
}

int DeviceTree::SetupClassOf(const DeviceNode& node, GUID& classGuid)
{
    if (!classes_.IsBuilt())
        classes_.Build(api_);
    GUID listed;
    if (!classes_.Find(node.devnode, listed))
        return 0;
    if (IsEqualGUID(listed, GUID_NULL)) {
        classGuid = GUID_NULL;
        return 1;
    }
    // The class that the registry names must be the one the set lists, as a
    // search in that class's own set would have required.
    GUID named;
    if (!node.RegistryProperty(SPDRP_CLASSGUID, readBuffer_) ||
        CLSIDFromString((LPCOLESTR)readBuffer_.Text(), &named) != NOERROR ||
        !IsEqualGUID(named, listed))
        return 0;
    classGuid = named;
    return 1;
}

HICON DeviceTree::ClassIcon(const GUID& classGuid)
{
    return icons_.Icon(api_, classGuid);
}

bool DeviceTree::HasEnumerationEntryPoints(bool remote) const
{
    if (!AllBound(api_, CommonEntryPoints))
        return false;
    return remote ? AllBound(api_, RemoteEntryPoints) : AllBound(api_, LocalEntryPoints);
}

DeviceNode* DeviceTree::Enumerate(bool useCached, const wchar_t* machineName)
{
    if (useCached && !topLevel_.IsEmpty())
        return topLevel_.First();
    topLevel_.Clear();
    // The class icons stay: a class's icon is a resource of its installer,
    // loaded once while the model runs.
    classes_.Clear();
    api_.Disconnect();
    bool remote = machineName && *machineName;
    if (!HasEnumerationEntryPoints(remote))
        return nullptr;
    if (remote) {
        HMACHINE machine = nullptr;
        if (api_.CM_Connect_MachineW()(machineName, &machine) != CR_SUCCESS || !machine)
            return nullptr;
        api_.machine = machine;
        api_.machineName = machineName;
    } else {
        api_.machineName.Clear();
    }
    DEVINST root = 0;
    if (api_.LocateRoot(&root) == CR_SUCCESS) {
        DeviceNode* node = new (std::nothrow) DeviceNode(this, root);
        if (node)
            topLevel_.Append(node);
    }
    return topLevel_.First();
}

void DeviceTree::Populate(DeviceNode* first)
{
    for (DeviceNode* node = first; node; node = node->next) {
        node->LoadName();
        node->LoadIcon();
        node->LoadStatus();
        Populate(node->LoadChildren());
    }
}

void DeviceTree::RebuildTree(TreeSink& tree, const wchar_t* filter)
{
    if (filter && !*filter)
        filter = nullptr;
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    (void)previous;
    tree.SetRedraw(false);
    tree.DeleteAllItems();
    // Adding an icon to an image list is costly next to an insertion, and
    // a keystroke in the filter rebuilds the tree: the class icons added
    // once stay while the list holds what this model left in it.
    if (&tree != imagesTree_ || tree.ImageCount() != imageCount_ || defaultImage_ < 0) {
        tree.RemoveAllImages();
        icons_.ForgetImages();
        defaultImage_ = tree.AddIconResource(DefaultIconId);
        imagesTree_ = &tree;
    }
    if (!filter) {
        Enumerate(false);
        for (DeviceNode* node = topLevel_.First(); node; node = node->next)
            Populate(node);
        // Each node knows its class now; the set of all of them can go.
        classes_.Clear();
    }
    DeviceNode* root = Enumerate(true);
    if (root) {
        root->name = L"Root";
        // Without a filter every node shows: nothing to match.
        InsertItems(tree, filter, TVI_ROOT, root, filter ? 2 : 0);
    }
    imageCount_ = tree.ImageCount();
    tree.SetRedraw(true);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

int DeviceTree::MatchFilter(const wchar_t* filter, const DeviceNode* node)
{
    if (!filter || !*filter || ContainsFolded(node->name.Text(), filter))
        return 0;
    for (const DeviceNode* child = node->children.First(); child; child = child->next)
        if (MatchFilter(filter, child) != 2)
            return 1;
    return 2;
}

int DeviceTree::MarkMatches(const wchar_t* filter, DeviceNode* first)
{
    int any = 0;
    for (DeviceNode* node = first; node; node = node->next) {
        int below = MarkMatches(filter, node->children.First());
        if (!filter || !*filter || ContainsFolded(node->name.Text(), filter))
            node->match = 0;
        else
            node->match = below ? 1 : 2;
        any |= node->match != 2;
    }
    return any;
}

int DeviceTree::InsertItems(TreeSink& tree, const wchar_t* filter, HTREEITEM parent,
                            DeviceNode* first, int check)
{
    // Matched once for the whole chain, instead of again at every level.
    if (check != 0)
        MarkMatches(filter, first);
    return InsertMarked(tree, parent, first, check);
}

int DeviceTree::ImageOf(TreeSink& tree, const DeviceNode& node)
{
    if (!node.icon)
        return defaultImage_;
    int image = -1;
    if (icons_.Image(node.icon, &image))
        return image;
    image = tree.AddIcon(node.icon);
    // An icon the list refused shows the default image, never none.
    if (image < 0)
        image = defaultImage_;
    icons_.SetImage(node.icon, image);
    return image;
}

int DeviceTree::InsertMarked(TreeSink& tree, HTREEITEM parent, DeviceNode* first, int check)
{
    int inserted = 0;
    for (DeviceNode* node = first; node; node = node->next) {
        int match = check != 0 ? node->match : 0;
        if (match == 2)
            continue;
        int image = ImageOf(tree, *node);
        // A shown node with children shows at least one of them: its own
        // match shows them all, a match below shows that one. So the item
        // goes in expanded, with its button, in one call instead of three.
        int children = node->children.IsEmpty() ? 0 : 1;
        HTREEITEM item = tree.InsertItem(parent, TVI_LAST, node->name.Text(), image, image,
                                         children, (LPARAM)node, TVIS_EXPANDED);
        if (!item)
            continue;
        inserted = 1;
        if (!InsertMarked(tree, item, node->children.First(), match) && children)
            tree.SetItemChildren(item, 0);
    }
    return inserted;
}

int DeviceTree::ClassPropertyKeys(const GUID& classGuid, int which, DEVPROPKEY** keys,
                                  DWORD* count) const
{
    *keys = nullptr;
    *count = 0;
    if (!api_.SetupDiGetClassPropertyKeys())
        return 0;
    DWORD flags = which == 1 ? DICLASSPROP_INTERFACE : DICLASSPROP_INSTALLER;
    DWORD required = 0;
    api_.SetupDiGetClassPropertyKeys()(&classGuid, nullptr, 0, &required, flags);
    if (required == 0 || required > 0x100000)
        return 0;
    DEVPROPKEY* array = (DEVPROPKEY*)calloc(required, sizeof(DEVPROPKEY));
    if (!array)
        return 0;
    DWORD delivered = 0;
    if (!api_.SetupDiGetClassPropertyKeys()(&classGuid, array, required, &delivered, flags)) {
        free(array);
        return 0;
    }
    *keys = array;
    *count = delivered && delivered < required ? delivered : required;
    return 1;
}

int DeviceTree::ClassNameFromGuid(const GUID& classGuid, WideString& name) const
{
    name.Clear();
    if (!api_.SetupDiClassNameFromGuidW())
        return 0;
    if (!api_.SetupDiClassNameFromGuidW()(&classGuid, name.Buffer(), (DWORD)(name.Capacity() - 1),
                                        nullptr)) {
        name.Clear();
        return 0;
    }
    name.Recompute();
    return 1;
}

int DeviceTree::FillPropertyList(ListSink& list, DeviceNode* node)
{
    if (!usable_)
        return 0;
    PropertyList::Fill(*this, list, node);
    return 1;
}
