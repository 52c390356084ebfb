#pragma once
// Append-only singly linked list that one writer fills while other threads walk it. A node is
// complete before it is linked (release), and readers follow links with acquire, so a reader
// sees either the old end or a whole new element.
#include <atomic>
#include <cstddef>
#include <iterator>
#include <utility>

namespace edb {

template <class T> class AppendList {
    struct Node {
        template <class... A> explicit Node(A&&... a) : value(std::forward<A>(a)...) {}
        T value;
        std::atomic<Node*> next{nullptr};
    };

public:
    template <class V, class N> class Iter {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = V*;
        using reference = V&;
        Iter() = default;
        explicit Iter(N* n) : m_node(n) {}
        V& operator*() const { return m_node->value; }
        V* operator->() const { return &m_node->value; }
        Iter& operator++() {
            m_node = m_node->next.load(std::memory_order_acquire);
            return *this;
        }
        Iter operator++(int) {
            Iter t = *this;
            ++*this;
            return t;
        }
        bool operator==(const Iter& o) const { return m_node == o.m_node; }

    private:
        N* m_node = nullptr;
    };
    using iterator = Iter<T, Node>;
    using const_iterator = Iter<const T, const Node>;

    AppendList() = default;
    AppendList(const AppendList&) = delete;
    AppendList& operator=(const AppendList&) = delete;
    ~AppendList() { clear(); }

    // Writer only.
    template <class... A> T& emplace_back(A&&... a) {
        Node* n = new Node(std::forward<A>(a)...);
        if (m_tail == nullptr) {
            m_head.store(n, std::memory_order_release);
        } else {
            m_tail->next.store(n, std::memory_order_release);
        }
        m_tail = n;
        m_size.fetch_add(1, std::memory_order_release);
        return n->value;
    }

    // Writer only, and only when no reader walks the list.
    void clear() {
        Node* n = m_head.load(std::memory_order_acquire);
        m_head.store(nullptr, std::memory_order_release);
        m_tail = nullptr;
        m_size.store(0, std::memory_order_release);
        while (n != nullptr) {
            Node* next = n->next.load(std::memory_order_relaxed);
            delete n;
            n = next;
        }
    }

    [[nodiscard]] std::size_t size() const { return m_size.load(std::memory_order_acquire); }
    [[nodiscard]] bool empty() const { return size() == 0; }

    iterator begin() { return iterator(m_head.load(std::memory_order_acquire)); }
    iterator end() { return iterator(nullptr); }
    const_iterator begin() const { return const_iterator(m_head.load(std::memory_order_acquire)); }
    const_iterator end() const { return const_iterator(nullptr); }

private:
    std::atomic<Node*> m_head{nullptr};
    Node* m_tail = nullptr;
    std::atomic<std::size_t> m_size{0};
};

} // namespace edb
