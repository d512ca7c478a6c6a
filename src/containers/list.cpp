#include "containers/list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

namespace {

ListAllocator gAllocator = std::calloc;

// Freed nodes are kept for reuse: a song's events are a quarter of a million
// small blocks, taken and given back a group at a time, and the heap's own
// bookkeeping for them cost more than playing the song. Nodes of one size
// (the first size freed; songsim makes nodes of one size) are kept, any
// other goes back to the heap. Every node is a heap block, so the heap says
// what size it is. Off under AddressSanitizer, which must see every block
// freed; a test's own allocator is used whenever one is set.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepFreedNodes = false;
#else
constexpr bool kKeepFreedNodes = true;
#endif
struct KeptBlock {
    KeptBlock* next;
};
KeptBlock* gKept = nullptr;
size_t gKeptSize = 0;  // the usable size of every kept block
bool gReleased = false;  // the program is ending: nothing more is kept

// The kept blocks go back to the heap when the program ends, so that a leak
// check sees every block freed.
void ReleaseKept() {
    gReleased = true;
    while (gKept) {
        KeptBlock* next = gKept->next;
        std::free(gKept);
        gKept = next;
    }
}

void* TakeBlock(size_t size) {
    if (gKept && size <= gKeptSize && gAllocator == std::calloc) {
        void* block = gKept;
        gKept = gKept->next;
        std::memset(block, 0, size);
        return block;
    }
    return gAllocator(1, size);
}

void GiveBlock(void* block) {
    if (!kKeepFreedNodes || gReleased) return std::free(block);
    const size_t size = malloc_usable_size(block);
    if (gKeptSize == 0) {
        gKeptSize = size;
        std::atexit(ReleaseKept);
    }
    if (size != gKeptSize) return std::free(block);
    auto* kept = static_cast<KeptBlock*>(block);
    kept->next = gKept;
    gKept = kept;
}

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
    auto* link = static_cast<SLINK*>(TakeBlock(sizeof(SLINK) + size));
    return PayloadOf(link);
}

void ListFreeNode(void* item) { GiveBlock(LinkOf(item)); }

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
