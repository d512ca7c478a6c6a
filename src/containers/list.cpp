#include "containers/list.h"

#include <cstdint>
#include <cstdlib>

namespace {

ListAllocator gAllocator = std::calloc;

SLINK* LinkOf(const void* item) {
    return reinterpret_cast<SLINK*>(const_cast<char*>(static_cast<const char*>(item)) - sizeof(SLINK));
}

void* PayloadOf(SLINK* link) {
    return link ? reinterpret_cast<char*>(link) + sizeof(SLINK) : nullptr;
}

}  // namespace

void ListSetAllocator(ListAllocator allocator) { gAllocator = allocator ? allocator : std::calloc; }

void* ListAllocNode(size_t size) {
    if (size > SIZE_MAX - sizeof(SLINK)) return nullptr;
    auto* link = static_cast<SLINK*>(gAllocator(1, sizeof(SLINK) + size));
    return PayloadOf(link);
}

void ListFreeNode(void* item) { std::free(LinkOf(item)); }

void ListAppend(SLIST* list, void* item) {
    SLINK* link = LinkOf(item);
    link->nextLink = nullptr;
    link->prevLink = list->tail;
    if (list->tail) list->tail->nextLink = link;
    list->tail = link;
    if (!list->head) list->head = link;
}

void ListInsertAfter(SLIST* list, void* after, void* item) {
    SLINK* afterLink = LinkOf(after);
    if (afterLink != list->head) return;
    SLINK* link = LinkOf(item);
    SLINK* follower = afterLink->nextLink;
    afterLink->nextLink = link;
    link->nextLink = follower;
    link->prevLink = afterLink;
    if (follower)
        follower->prevLink = link;
    else
        list->tail = link;
}

void ListRemove(SLIST* list, void* item) {
    SLINK* link = LinkOf(item);
    if (link == list->tail) {
        list->tail = link->prevLink;
        if (link->prevLink)
            link->prevLink->nextLink = nullptr;
        else
            list->head = nullptr;
    } else if (link == list->head) {
        list->head = link->nextLink;
        link->nextLink->prevLink = nullptr;
    } else {
        link->prevLink->nextLink = link->nextLink;
        link->nextLink->prevLink = link->prevLink;
    }
}

void* ListHead(const SLIST* list) { return PayloadOf(list->head); }
void* ListTail(const SLIST* list) { return PayloadOf(list->tail); }
void* ListNext(const void* item) { return PayloadOf(LinkOf(item)->nextLink); }
void* ListPrev(const void* item) { return PayloadOf(LinkOf(item)->prevLink); }
