#include "devices/NodeList.h"
#include "devices/DeviceNode.h"

NodeList::NodeList() = default;

NodeList::~NodeList()
{
    Clear();
}

void NodeList::Append(DeviceNode* node)
{
    if (!node)
        return;
    CriticalSectionLock guard(lock_);
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
    CriticalSectionLock guard(lock_);
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
        CriticalSectionLock guard(lock_);
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
}

int NodeList::Count() const
{
    int count = 0;
    for (DeviceNode* n = first_; n; n = n->next)
        ++count;
    return count;
}
