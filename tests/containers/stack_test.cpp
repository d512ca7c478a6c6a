#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "containers/stack.h"

namespace {

struct StackFree {
    void operator()(SSTACK* stack) const { MemFree(stack); }
};
using StackPtr = std::unique_ptr<SSTACK, StackFree>;

StackPtr Create(int32_t capacity) { return StackPtr(StackCreate(capacity)); }

TEST(StackTest, NewStackIsEmpty) {
    StackPtr stack = Create(64);
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->top, 0);
    EXPECT_EQ(stack->count, 0);
    EXPECT_EQ(stack->capacity, 64);
    EXPECT_EQ(StackTop(stack.get()), 0);
}

TEST(StackTest, FullStackRefusesPushAndStaysUnchanged) {
    StackPtr stack = Create(64);
    for (int32_t i = 0; i < 64; ++i) ASSERT_EQ(StackPush(stack.get(), 100 + i), 0) << "push " << i;
    EXPECT_EQ(StackPush(stack.get(), -5), 1);
    EXPECT_EQ(stack->count, 64);
    EXPECT_EQ(stack->top, 64);
    EXPECT_EQ(StackTop(stack.get()), 163);

    // Every entry was kept: they come back in reverse order.
    for (int32_t i = 63; i >= 0; --i) ASSERT_EQ(StackPop(stack.get()), 100 + i) << "pop " << i;
    EXPECT_EQ(stack->count, 0);
}

TEST(StackTest, CapacityZeroRefusesEveryPush) {
    StackPtr stack = Create(0);
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(StackPush(stack.get(), 1), 1);
    EXPECT_EQ(StackPush(stack.get(), 2), 1);
    EXPECT_EQ(stack->count, 0);
    EXPECT_EQ(stack->top, 0);
    EXPECT_EQ(StackPop(stack.get()), 0);
}

TEST(StackTest, PopsInReverseOrderThenGivesZeroWhenEmpty) {
    StackPtr stack = Create(8);
    for (int32_t value : {1, 2, 3}) ASSERT_EQ(StackPush(stack.get(), value), 0);
    EXPECT_EQ(StackPop(stack.get()), 3);
    EXPECT_EQ(StackPop(stack.get()), 2);
    EXPECT_EQ(StackPop(stack.get()), 1);
    EXPECT_EQ(StackPop(stack.get()), 0);
    EXPECT_EQ(stack->top, 0);
    EXPECT_EQ(stack->count, 0);
}

TEST(StackTest, TopReadsWithoutTaking) {
    StackPtr stack = Create(8);
    StackPush(stack.get(), 7);
    StackPush(stack.get(), -9);
    EXPECT_EQ(StackTop(stack.get()), -9);
    EXPECT_EQ(StackTop(stack.get()), -9);
    EXPECT_EQ(stack->count, 2);
    EXPECT_EQ(StackPop(stack.get()), -9);
    EXPECT_EQ(StackTop(stack.get()), 7);

    // A stored 0 and an empty stack read alike; only count tells them apart.
    StackPush(stack.get(), 0);
    EXPECT_EQ(StackTop(stack.get()), 0);
    EXPECT_EQ(stack->count, 2);
}

TEST(StackTest, GlobalStackHas64Entries) {
    SSTACK* const before = globalStack;
    CreateGlobalStack();
    SSTACK* const created = globalStack;
    globalStack = before;
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->capacity, 64);
    EXPECT_EQ(created->count, 0);
    EXPECT_EQ(created->top, 0);
    MemFree(created);
}

TEST(StackTest, PairHoldsBothValuesInOrder) {
    struct Values {
        int32_t first, second;
    };
    for (const Values v : {Values{7, 9}, Values{-1, INT32_MIN}, Values{INT32_MAX, 0}}) {
        SPAIR* pair = PairCreate(v.first, v.second);
        ASSERT_NE(pair, nullptr);
        EXPECT_EQ(pair->first, v.first);
        EXPECT_EQ(pair->second, v.second);
        MemFree(pair);
    }
}

TEST(StackTest, CountDownSignalsOnlyTheStepToZero) {
    struct Case {
        int32_t before;
        int32_t result;
        int32_t after;
    };
    for (const Case& c : {Case{1, 1, 0}, Case{2, 0, 1}, Case{0, 0, -1}, Case{-7, 0, -8},
                          // One below the smallest value wraps round instead of overflowing.
                          Case{INT32_MIN, 0, INT32_MAX}}) {
        SCOPED_TRACE(c.before);
        int32_t counter = c.before;
        EXPECT_EQ(CountDown(&counter), c.result);
        EXPECT_EQ(counter, c.after);
    }
}

}  // namespace
