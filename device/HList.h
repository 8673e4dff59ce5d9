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

template <typename T>
bool HList<T>::add(T* item) {
    Node* node = new Node{item, nullptr};
    if (!m_lock.enter()) {
        delete node;
        return false;
    }
    if (m_head == nullptr) {
        m_head = node;
        m_tail = node;
    } else {
        m_tail->next = node;
        m_tail = node;
    }
    ++m_count;
    m_lock.leave();
    return true;
}

template <typename T>
bool HList<T>::remove(T* item) {
    Node* previous = nullptr;
    Node* node = m_head;
    while (node != nullptr && node->item != item) {
        previous = node;
        node = node->next;
    }
    if (node == nullptr) {
        return false;
    }
    if (m_head == m_tail) {
        m_head = nullptr;
        m_tail = nullptr;
    } else if (node == m_head) {
        m_head = node->next;
    } else {
        previous->next = node->next;
        if (node == m_tail) {
            m_tail = previous;
        }
    }
    // An iteration standing on the removed node goes on with its successor instead of
    // following a freed node.
    if (m_cursor == node) {
        m_cursor = node->next;
    }
    delete node;
    --m_count;
    return true;
}

template <typename T>
T* HList<T>::first() {
    m_cursor = m_head;
    return next();
}

template <typename T>
T* HList<T>::next() {
    if (m_cursor == nullptr) {
        return nullptr;
    }
    T* item = m_cursor->item;
    m_cursor = m_cursor->next;
    return item;
}

template <typename T>
void HList<T>::removeAll() {
    Node* node = m_head;
    while (node != nullptr) {
        Node* following = node->next;
        delete node;
        node = following;
    }
    m_head = nullptr;
    m_tail = nullptr;
    m_cursor = nullptr;
    m_count = 0;
}
