#pragma once

#include "devices/ClassIconCache.h"
#include "devices/DeviceApi.h"
#include "devices/DeviceNode.h"
#include "devices/NodeList.h"
#include "devices/SetupClassIndex.h"
#include "devices/TreeSink.h"
#include "properties/ListSink.h"

// The program's model of the Plug and Play tree: it binds the device API,
// reads the devnodes from the root down and fills a tree control from them,
// optionally filtered. A filtered rebuild only re-displays the nodes the last
// unfiltered one read, so filtering never queries the system.
class DeviceTree {
public:
    // Icon resource shown for devices without a class icon.
    static const int DefaultIconId = 101;

    DeviceTree();
    ~DeviceTree();
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    int Start();
    int Stop();
    bool IsUsable() const { return usable_; }

    // The root node, or none. With `useCached` the last enumeration is kept.
    DeviceNode* Enumerate(bool useCached, const wchar_t* machineName = nullptr);
    // Names, icons and status of a sibling chain and, depth first, of
    // everything below it.
    void Populate(DeviceNode* first);
    // Refills `tree`; an empty or missing filter re-reads the device tree.
    void RebuildTree(TreeSink& tree, const wchar_t* filter);

    // Fills the property list for `node`, or only empties it without one;
    // does nothing once the model has stopped.
    int FillPropertyList(ListSink& list, DeviceNode* node);

    // 0: the node itself matches (or no filter); 1: only a descendant does;
    // 2: nothing in its subtree does.
    static int MatchFilter(const wchar_t* filter, const DeviceNode* node);
    // MatchFilter of every node of a sibling chain and its subtrees, in one
    // pass, kept in each node's `match`; 1 when any node matches.
    static int MarkMatches(const wchar_t* filter, DeviceNode* first);
    // Inserts a sibling chain below `parent`; 1 when it inserted anything.
    int InsertItems(TreeSink& tree, const wchar_t* filter, HTREEITEM parent, DeviceNode* first,
                    int check);

    // A newly allocated array of the keys of a setup class (free() it).
    // `which` 1 asks for the interface class keys, anything else for the
    // installer class keys.
    int ClassPropertyKeys(const GUID& classGuid, int which, DEVPROPKEY** keys, DWORD* count) const;
    int ClassNameFromGuid(const GUID& classGuid, WideString& name) const;

    // The setup class of `node` as the class-less devices and then the
    // devices of the class its registry names would find it (GUID_NULL for
    // a device without one), from one set per enumeration; 0 when neither
    // holds it.
    int SetupClassOf(const DeviceNode& node, GUID& classGuid);
    // The one icon of a setup class, or none.
    HICON ClassIcon(const GUID& classGuid);
    int ClassIconCount() const { return icons_.Count(); }
    // One large buffer for the registry reads of an enumeration.
    WideString& ReadBuffer() { return readBuffer_; }

    DeviceApi& Api() { return api_; }
    const DeviceApi& Api() const { return api_; }
    NodeList& TopLevel() { return topLevel_; }
    int DefaultImage() const { return defaultImage_; }

private:
    bool HasEnumerationEntryPoints(bool remote) const;
    int InsertMarked(TreeSink& tree, HTREEITEM parent, DeviceNode* first, int check);
    int ImageOf(TreeSink& tree, const DeviceNode& node);
    void ForgetEnumeration();

    NodeList topLevel_;
    DeviceApi api_;
    SetupClassIndex classes_;
    ClassIconCache icons_;
    WideString readBuffer_;
    bool usable_ = false;
    int defaultImage_ = -1;
    // The tree whose image list holds our images, and how many it held
    // after the last rebuild: while both hold, the images are kept.
    const TreeSink* imagesTree_ = nullptr;
    int imageCount_ = -1;
};
