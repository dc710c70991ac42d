#pragma once

// Intrusive doubly linked lists for the records of a mesh: each record carries its own position
// in its list, so unlinking it takes constant time and the list makes no heap call.

#include <cassert>
#include <cstddef>
#include <iterator>

// The position of a record in an IntrusiveListT<T>. A record type T derives from ListLinkT<T>;
// it can be in at most one list of that type at a time.
// The forward link comes first: in an edge record the list position follows the navigation
// fields, and there it shares their cache line, so that a sweep along the list reads one line
// of each record.
template <class T> struct ListLinkT
{
    T* nextInList = nullptr;
    T* prevInList = nullptr;
    bool inList = false;
};

// An ordered list of records that does not own them. Iteration runs front to back; unlinking the
// record an iterator stands on invalidates that iterator (take the next record first).
template <class T> class IntrusiveListT
{
public:
    IntrusiveListT() = default;
    IntrusiveListT(const IntrusiveListT&) = delete;
    IntrusiveListT& operator=(const IntrusiveListT&) = delete;

    class iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T*;
        using difference_type = std::ptrdiff_t;
        using pointer = T* const*;
        using reference = T*;

        iterator() = default;
        explicit iterator(T* item)
            : item_(item)
        {
        }
        T* operator*() const { return item_; }
        iterator& operator++()
        {
            item_ = item_->nextInList;
            return *this;
        }
        iterator operator++(int)
        {
            iterator old = *this;
            item_ = item_->nextInList;
            return old;
        }
        bool operator==(const iterator&) const = default;

    private:
        T* item_ = nullptr;
    };

    iterator begin() const { return iterator(head_); }
    iterator end() const { return iterator(nullptr); }

    // Appends `item`, which must not be in a list.
    void pushBack(T* item)
    {
        assert(!item->inList);
        item->prevInList = tail_;
        item->nextInList = nullptr;
        item->inList = true;
        if (tail_ != nullptr)
        {
            tail_->nextInList = item;
        }
        else
        {
            head_ = item;
        }
        tail_ = item;
        ++size_;
    }

    // Removes `item`, which must be in this list, in constant time.
    void unlink(T* item)
    {
        assert(item->inList);
        if (item->prevInList != nullptr)
        {
            item->prevInList->nextInList = item->nextInList;
        }
        else
        {
            head_ = item->nextInList;
        }
        if (item->nextInList != nullptr)
        {
            item->nextInList->prevInList = item->prevInList;
        }
        else
        {
            tail_ = item->prevInList;
        }
        item->prevInList = nullptr;
        item->nextInList = nullptr;
        item->inList = false;
        --size_;
    }

    // Forgets every record (they keep stale links; use only when the records go away too).
    void clear()
    {
        head_ = nullptr;
        tail_ = nullptr;
        size_ = 0;
    }

    T* front() const { return head_; }
    T* back() const { return tail_; }
    // The record after `item` in its list, or null.
    static T* next(const T* item) { return item->nextInList; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

private:
    T* head_ = nullptr;
    T* tail_ = nullptr;
    size_t size_ = 0;
};
