// A singly linked list of pointers with its own lock. The list owns its nodes, never its
// items: emptying or destroying it leaves every item alive.
//
// Only add() locks. A caller that shares the list with another thread holds lock()
// around first(), next() and remove().
#pragma once

#include <cstdint>

#include "device/HLock.h"

template <typename T>
class HList {
public:
    HList() = default;
    HList(const HList&) = delete;
    HList& operator=(const HList&) = delete;
    ~HList() { removeAll(); }

    // Appends at the tail under the list's lock; false (list unchanged) when the lock
    // cannot be taken.
    bool add(T* item);
    // Unlinks the first node holding `item`; false when there is none.
    bool remove(T* item);
    // Iteration: first() starts it, next() continues; null when it is over.
    T* first();
    T* next();
    // Frees every node, not the items.
    void removeAll();

    std::int32_t count() const { return m_count; }
    HLock& lock() { return m_lock; }

private:
    struct Node {
        T* item;
        Node* next;
    };
    Node* m_head = nullptr;
    Node* m_tail = nullptr;
    Node* m_cursor = nullptr;
    HLock m_lock;
    std::int32_t m_count = 0;
};

// Member definitions follow below (template).
