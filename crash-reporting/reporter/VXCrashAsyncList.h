#pragma once

#include <atomic>
#include <mutex>

// A list that a crash handler walks without a lock while ordinary threads add
// and remove entries under one. Readers count themselves in `_refcount`; a node
// unlinked while any reader is active goes to `_free` instead of being freed,
// so a reader standing on it can still follow its `next`.
template <typename V>
class async_list {
public:
    struct node {
        V value;
        node* prev = nullptr;
        std::atomic<node*> next{nullptr};
    };

    async_list() = default;
    async_list(const async_list&) = delete;
    async_list& operator=(const async_list&) = delete;

    ~async_list()
    {
        for (node* n = _head.load(); n;) {
            node* next = n->next.load();
            delete n;
            n = next;
        }
        for (node* n = _free; n;) {
            node* next = n->next.load();
            delete n;
            n = next;
        }
    }

    void nasync_append(V value)
    {
        std::lock_guard<std::mutex> guard(_lock);
        node* n = _free;
        if (n) {
            _free = n->next.load();
        } else {
            n = new node();
        }
        n->value = value;
        n->prev = nullptr;
        n->next.store(nullptr);
        // Publish only a fully written node: readers may follow the link at once.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (_tail) {
            node* expected = nullptr;
            _tail->next.compare_exchange_strong(expected, n);
            n->prev = _tail;
            _tail = n;
        } else {
            _tail = n;
            node* expected = nullptr;
            _head.compare_exchange_strong(expected, n);
        }
    }

    // Unlinks the node holding `value`; nothing happens when none does.
    void nasync_remove(V value)
    {
        std::lock_guard<std::mutex> guard(_lock);
        node* n = _head.load();
        while (n && !(n->value == value))
            n = n->next.load();
        if (n)
            removeLocked(n);
    }

    void nasync_remove_node(node* target)
    {
        std::lock_guard<std::mutex> guard(_lock);
        node* n = _head.load();
        while (n && n != target)
            n = n->next.load();
        if (n)
            removeLocked(n);
    }

    // Crash-time side: bracket every walk with these.
    void set_reading(bool enable)
    {
        if (enable)
            _refcount.fetch_add(1);
        else
            _refcount.fetch_sub(1);
    }
    node* head() const { return _head.load(); }
    static node* next(const node* n) { return n->next.load(); }

private:
    void removeLocked(node* n)
    {
        node* following = n->next.load();
        if (_head.load() == n) {
            node* expected = n;
            _head.compare_exchange_strong(expected, following);
        } else if (n->prev) {
            node* expected = n;
            n->prev->next.compare_exchange_strong(expected, following);
        }
        if (following)
            following->prev = n->prev;
        else
            _tail = n->prev;
        if (_refcount.load() <= 0) {
            delete n;
        } else {
            // A reader standing on the node may still follow `next`; it then
            // walks the free list, whose nodes stay allocated, to its end.
            n->prev = nullptr;
            n->next.store(_free);
            _free = n;
        }
    }

    std::mutex _lock;
    std::atomic<node*> _head{nullptr};
    node* _tail = nullptr;
    std::atomic<int32_t> _refcount{0};
    node* _free = nullptr;
};
