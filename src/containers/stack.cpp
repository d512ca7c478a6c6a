#include "containers/stack.h"

#include <cstddef>
#include <cstdlib>

SSTACK* globalStack = nullptr;

namespace {

// Entries are addressed from the block start: `items` is declared with one.
int32_t* Items(SSTACK* stack) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(stack) + offsetof(SSTACK, items));
}
const int32_t* Items(const SSTACK* stack) {
    return reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(stack) + offsetof(SSTACK, items));
}

}  // namespace

SSTACK* StackCreate(int32_t capacity) {
    if (capacity < 0) return nullptr;
    size_t bytes = offsetof(SSTACK, items) + sizeof(int32_t) * static_cast<size_t>(capacity);
    if (bytes < sizeof(SSTACK)) bytes = sizeof(SSTACK);
    auto* stack = static_cast<SSTACK*>(std::calloc(1, bytes));
    if (!stack) return nullptr;
    stack->capacity = capacity;
    return stack;
}

int32_t StackPush(SSTACK* stack, int32_t value) {
    if (stack->count == stack->capacity) return 1;
    Items(stack)[stack->top] = value;
    ++stack->top;
    ++stack->count;
    return 0;
}

int32_t StackPop(SSTACK* stack) {
    if (stack->count == 0) return 0;
    --stack->top;
    int32_t value = Items(stack)[stack->top];
    --stack->count;
    return value;
}

int32_t StackTop(const SSTACK* stack) {
    if (stack->count == 0) return 0;
    return Items(stack)[stack->top - 1];
}

void CreateGlobalStack() { globalStack = StackCreate(64); }

SPAIR* PairCreate(int32_t first, int32_t second) {
    auto* pair = static_cast<SPAIR*>(std::malloc(sizeof(SPAIR)));
    if (!pair) return nullptr;
    pair->first = first;
    pair->second = second;
    return pair;
}

void MemFree(void* block) { std::free(block); }

int32_t CountDown(int32_t* counter) {
    // Wraps instead of overflowing when the counter is already at its minimum.
    *counter = static_cast<int32_t>(static_cast<uint32_t>(*counter) - 1u);
    return *counter == 0 ? 1 : 0;
}
