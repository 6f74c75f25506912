#pragma once

#include <cassert>
#include <cstddef>
#include <iterator>
#include <memory>

namespace zyl {

/// Owning doubly linked list: first node, last node, a moving cursor and a count.
/// Elements are appended at the back or inserted at the front, walked from the front
/// and destroyed one by one or all together. Node addresses stay valid until the node
/// is removed, which lets other structures (indexes, list rows) refer to entries.
template <class T> class DoubleList {
public:
    struct Node {
        std::unique_ptr<T> item;
        Node* prev = nullptr; // towards the front (older for a list filled by pushBack)
        Node* next = nullptr;
    };

    DoubleList() = default;
    DoubleList(const DoubleList&) = delete;
    DoubleList& operator=(const DoubleList&) = delete;
    ~DoubleList() { clear(); }

    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    Node* first() const { return m_first; }
    Node* last() const { return m_last; }

    Node* pushBack(std::unique_ptr<T> item)
    {
        Node* node = new Node{std::move(item), m_last, nullptr};
        if (m_last)
            m_last->next = node;
        else
            m_first = node;
        m_last = node;
        ++m_count;
        return node;
    }

    Node* pushFront(std::unique_ptr<T> item)
    {
        Node* node = new Node{std::move(item), nullptr, m_first};
        if (m_first)
            m_first->prev = node;
        else
            m_last = node;
        m_first = node;
        ++m_count;
        return node;
    }

    /// Unlinks the node and hands its element to the caller; the node itself is freed.
    std::unique_ptr<T> unlink(Node* node)
    {
        assert(node && m_count > 0);
        if (node->prev)
            node->prev->next = node->next;
        else
            m_first = node->next;
        if (node->next)
            node->next->prev = node->prev;
        else
            m_last = node->prev;
        if (m_cursor == node)
            m_cursor = node->next;
        --m_count;
        std::unique_ptr<T> item = std::move(node->item);
        delete node;
        return item;
    }

    /// Unlinks the node and destroys its element.
    void remove(Node* node) { unlink(node); }

    void clear()
    {
        Node* node = m_first;
        while (node) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        m_first = m_last = m_cursor = nullptr;
        m_count = 0;
    }

    // The cursor walks from the front; removing the node under it moves it to the next one.
    T* toFirst()
    {
        m_cursor = m_first;
        return current();
    }
    T* toNext()
    {
        if (m_cursor)
            m_cursor = m_cursor->next;
        return current();
    }
    T* current() const { return m_cursor ? m_cursor->item.get() : nullptr; }
    Node* cursorNode() const { return m_cursor; }

    template <class Item, class NodePtr> class Iter {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Item;
        using difference_type = std::ptrdiff_t;
        using pointer = Item*;
        using reference = Item&;
        Iter() = default;
        explicit Iter(NodePtr node) : m_node(node) {}
        reference operator*() const { return *m_node->item; }
        pointer operator->() const { return m_node->item.get(); }
        Iter& operator++()
        {
            m_node = m_node->next;
            return *this;
        }
        Iter operator++(int)
        {
            Iter old = *this;
            ++*this;
            return old;
        }
        bool operator==(const Iter& other) const { return m_node == other.m_node; }
        NodePtr node() const { return m_node; }

    private:
        NodePtr m_node = nullptr;
    };
    using iterator = Iter<T, Node*>;
    using const_iterator = Iter<const T, const Node*>;

    iterator begin() { return iterator(m_first); }
    iterator end() { return iterator(nullptr); }
    const_iterator begin() const { return const_iterator(m_first); }
    const_iterator end() const { return const_iterator(nullptr); }

private:
    Node* m_first = nullptr;
    Node* m_last = nullptr;
    Node* m_cursor = nullptr;
    std::size_t m_count = 0;
};

} // namespace zyl
