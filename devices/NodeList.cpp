#include "devices/NodeList.h"
#include "devices/DeviceNode.h"

class NodeList::Guard {
public:
    explicit Guard(NodeList& list) : list_(list) { list_.Lock(); }
    ~Guard() { list_.Unlock(); }

private:
    NodeList& list_;
};

NodeList::NodeList()
{
    CreateLock();
}

NodeList::~NodeList()
{
    Clear();
    DestroyLock();
}

void NodeList::CreateLock()
{
    InitializeCriticalSection(&section_);
    hasLock_ = true;
}

void NodeList::DestroyLock()
{
    if (!hasLock_)
        return;
    DeleteCriticalSection(&section_);
    hasLock_ = false;
}

void NodeList::Lock()
{
    EnterCriticalSection(&section_);
}

void NodeList::Unlock()
{
    LeaveCriticalSection(&section_);
}

void NodeList::Append(DeviceNode* node)
{
    if (!node)
        return;
    Guard guard(*this);
    node->next = nullptr;
    node->previous = last_;
    if (last_)
        last_->next = node;
    else
        first_ = node;
    last_ = node;
}

int NodeList::Remove(DeviceNode* node)
{
    Guard guard(*this);
    for (DeviceNode* n = first_; n; n = n->next) {
        if (n != node)
            continue;
        if (n->previous)
            n->previous->next = n->next;
        else
            first_ = n->next;
        if (n->next)
            n->next->previous = n->previous;
        else
            last_ = n->previous;
        n->next = n->previous = nullptr;
        return 1;
    }
    return 0;
}

void NodeList::Clear()
{
    DeviceNode* node;
    {
        Guard guard(*this);
        node = first_;
        first_ = last_ = nullptr;
    }
    // Deleted outside the lock: each node clears its own children's list.
    while (node) {
        DeviceNode* next = node->next;
        delete node;
        node = next;
    }
}

void NodeList::Reset()
{
    Clear();
    DestroyLock();
    CreateLock();
}

int NodeList::Count() const
{
    int count = 0;
    for (DeviceNode* n = first_; n; n = n->next)
        ++count;
    return count;
}
