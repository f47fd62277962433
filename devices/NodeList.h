#pragma once

#include <windows.h>

#include "services/CriticalSection.h"

class DeviceNode;

// A doubly linked list of owned device nodes, kept in the order they were
// appended (the configuration manager's order; nothing is sorted). Every
// operation takes the list's own lock.
class NodeList {
public:
    NodeList();
    ~NodeList();
    NodeList(const NodeList&) = delete;
    NodeList& operator=(const NodeList&) = delete;

    void Append(DeviceNode* node);
    // Unlinks `node` (found by identity) without deleting it; 1 when found.
    int Remove(DeviceNode* node);
    // Deletes every node together with its subtree.
    void Clear();
    // Clears the list (the device API's top level, when it binds again).
    void Reset();

    DeviceNode* First() const { return first_; }
    DeviceNode* Last() const { return last_; }
    bool IsEmpty() const { return first_ == nullptr; }
    int Count() const;

private:
    DeviceNode* first_ = nullptr;
    DeviceNode* last_ = nullptr;
    // Every node has a list of children, so the lock must cost neither a
    // kernel object nor a wait in the kernel: a critical section alone.
    // (A signalled event that nothing ever
    // resets, waited on at every operation, blocked nothing and cost tens of
    // microseconds per list under Wine.)
    CriticalSection lock_;
};
