// A doubly linked list of caller-sized payloads. Each payload is allocated
// with its SLINK header directly in front of it, in one heap block; callers
// only ever hold payload pointers.
#pragma once

#include <cstddef>

// Link header that sits directly in front of every list payload.
struct SLINK {
    SLINK* nextLink;
    SLINK* prevLink;
};

// A list of payloads; a zero-filled SLIST is an empty list.
struct SLIST {
    SLINK* head;
    SLINK* tail;
};

// Zero-filled payload of `size` bytes behind a fresh link header, or null.
void* ListAllocNode(size_t size);
// Frees header and payload; the item must be in no list.
void ListFreeNode(void* item);

void ListAppend(SLIST* list, void* item);
// Links `item` after `after`, which must be the list's first element;
// for any other `after` the list is left unchanged.
void ListInsertAfter(SLIST* list, void* after, void* item);
void ListRemove(SLIST* list, void* item);

void* ListHead(const SLIST* list);
void* ListTail(const SLIST* list);
void* ListNext(const void* item);
void* ListPrev(const void* item);

// Test seam: the zero-filling allocator behind ListAllocNode (calloc by
// default). Passing null restores the default.
using ListAllocator = void* (*)(size_t count, size_t size);
void ListSetAllocator(ListAllocator allocator);
