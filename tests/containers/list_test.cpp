#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include <malloc.h>

#include "containers/list.h"

namespace {

struct Item {
    int id;
};

// Owns the payloads of one test; a list never frees its elements.
class ListTest : public ::testing::Test {
protected:
    ~ListTest() override {
        for (Item* item : items_) ListFreeNode(item);
    }

    Item* Make(int id) {
        auto* item = static_cast<Item*>(ListAllocNode(sizeof(Item)));
        item->id = id;
        items_.push_back(item);
        return item;
    }

    // A broken link can make a cycle; a walk stops one step past any list
    // a test builds.
    static constexpr size_t kMaxWalk = 8;

    // Ids from head to tail along ListNext.
    std::vector<int> Forward() const {
        std::vector<int> ids;
        for (void* p = ListHead(&list_); p && ids.size() <= kMaxWalk; p = ListNext(p))
            ids.push_back(static_cast<Item*>(p)->id);
        return ids;
    }
    // Ids from tail to head along ListPrev.
    std::vector<int> Backward() const {
        std::vector<int> ids;
        for (void* p = ListTail(&list_); p && ids.size() <= kMaxWalk; p = ListPrev(p))
            ids.push_back(static_cast<Item*>(p)->id);
        return ids;
    }

    SLIST list_{};
    std::vector<Item*> items_;
};

using Ids = std::vector<int>;

TEST_F(ListTest, ZeroFilledListIsEmpty) {
    EXPECT_EQ(ListHead(&list_), nullptr);
    EXPECT_EQ(ListTail(&list_), nullptr);
    EXPECT_TRUE(Forward().empty());
    EXPECT_TRUE(Backward().empty());
}

TEST_F(ListTest, AllocNodeIsZeroFilledAndUnlinked) {
    // Big enough that a non-zeroing allocator shows its fill bytes.
    constexpr size_t kSize = 24;
    auto* bytes = static_cast<unsigned char*>(ListAllocNode(kSize));
    ASSERT_NE(bytes, nullptr);
    for (size_t i = 0; i < kSize; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
    EXPECT_EQ(ListNext(bytes), nullptr);
    EXPECT_EQ(ListPrev(bytes), nullptr);
    ListFreeNode(bytes);
}

TEST_F(ListTest, AppendLinksInOrderBothWays) {
    Item* p = Make(1);
    ListAppend(&list_, p);
    EXPECT_EQ(ListHead(&list_), p);
    EXPECT_EQ(ListTail(&list_), p);
    EXPECT_EQ(ListNext(p), nullptr);
    EXPECT_EQ(ListPrev(p), nullptr);

    ListAppend(&list_, Make(2));
    ListAppend(&list_, Make(3));
    EXPECT_EQ(Forward(), (Ids{1, 2, 3}));
    EXPECT_EQ(Backward(), (Ids{3, 2, 1}));
}

TEST_F(ListTest, RemoveOnlyElementEmptiesListAndItCanBeRelinked) {
    Item* p = Make(1);
    ListAppend(&list_, p);
    ListRemove(&list_, p);
    EXPECT_EQ(ListHead(&list_), nullptr);
    EXPECT_EQ(ListTail(&list_), nullptr);

    Item* q = Make(2);
    ListAppend(&list_, q);
    EXPECT_EQ(ListHead(&list_), q);
    EXPECT_EQ(ListTail(&list_), q);
    EXPECT_EQ(ListPrev(q), nullptr);
}

TEST_F(ListTest, RemoveFirstMiddleOrLastKeepsBothWalks) {
    struct Case {
        int removed;
        Ids left;
    };
    for (const Case& c : {Case{1, {2, 3}}, Case{2, {1, 3}}, Case{3, {1, 2}}}) {
        SCOPED_TRACE(c.removed);
        list_ = SLIST{};
        const std::array<Item*, 4> byId = {nullptr, Make(1), Make(2), Make(3)};
        for (int id = 1; id <= 3; ++id) ListAppend(&list_, byId[static_cast<size_t>(id)]);

        Item* removed = byId[static_cast<size_t>(c.removed)];
        ListRemove(&list_, removed);
        EXPECT_EQ(Forward(), c.left);
        EXPECT_EQ(Backward(), (Ids{c.left[1], c.left[0]}));
        EXPECT_EQ(ListPrev(ListHead(&list_)), nullptr);
        EXPECT_EQ(ListNext(ListTail(&list_)), nullptr);

        // The removed item can join a list again, here at its end.
        ListAppend(&list_, removed);
        EXPECT_EQ(Forward(), (Ids{c.left[0], c.left[1], c.removed}));
        EXPECT_EQ(Backward(), (Ids{c.removed, c.left[1], c.left[0]}));
    }
}

TEST_F(ListTest, InsertAfterFirstElement) {
    Item* p = Make(1);
    ListAppend(&list_, p);

    Item* s = Make(2);
    ListInsertAfter(&list_, p, s);  // P -> P, S
    EXPECT_EQ(ListTail(&list_), s);
    EXPECT_EQ(Forward(), (Ids{1, 2}));
    EXPECT_EQ(Backward(), (Ids{2, 1}));

    ListInsertAfter(&list_, p, Make(3));  // P, S -> P, T, S
    EXPECT_EQ(ListTail(&list_), s);
    EXPECT_EQ(Forward(), (Ids{1, 3, 2}));
    EXPECT_EQ(Backward(), (Ids{2, 3, 1}));
}

TEST_F(ListTest, InsertAfterLaterElementLeavesListUnchanged) {
    Item* p = Make(1);
    Item* q = Make(2);
    Item* r = Make(3);
    for (Item* item : {p, q, r}) ListAppend(&list_, item);

    for (Item* after : {q, r}) {
        Item* s = Make(9);
        ListInsertAfter(&list_, after, s);
        EXPECT_EQ(Forward(), (Ids{1, 2, 3}));
        EXPECT_EQ(Backward(), (Ids{3, 2, 1}));
        EXPECT_EQ(ListNext(s), nullptr);
        EXPECT_EQ(ListPrev(s), nullptr);
    }
}

}  // namespace

// Freed nodes are handed out again: each one zero-filled, and each big
// enough for what was asked, whatever size was freed before.
TEST(ListNodes, ReusedNodesAreZeroFilledAndBigEnough) {
    for (const size_t size : {40, 8, 200, 40}) {
        std::vector<unsigned char*> nodes;
        for (int i = 0; i < 64; ++i) {
            auto* bytes = static_cast<unsigned char*>(ListAllocNode(size));
            ASSERT_NE(bytes, nullptr);
            const size_t block = malloc_usable_size(bytes - sizeof(SLINK));
            ASSERT_GE(block, sizeof(SLINK) + size) << "node of " << size << " bytes";
            for (size_t b = 0; b < size; ++b) ASSERT_EQ(bytes[b], 0) << "byte " << b << " of a node of " << size;
            std::fill(bytes, bytes + size, 0xAB);
            nodes.push_back(bytes);
        }
        for (unsigned char* bytes : nodes) ListFreeNode(bytes);
    }
}

#if !defined(__SANITIZE_ADDRESS__)
// A node freed is the next one handed out of its size (without
// AddressSanitizer, which must see every block freed and so keeps none).
TEST(ListNodes, AFreedNodeIsTheNextHandedOut) {
    void* node = ListAllocNode(40);
    ListFreeNode(node);
    void* again = ListAllocNode(40);
    EXPECT_EQ(again, node);
    ListFreeNode(again);
}
#endif
