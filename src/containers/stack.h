// A bounded stack of 32-bit values in one heap block, a value pair, and a
// count-down test.
#pragma once

#include <cstdint>

struct SSTACK {
    int32_t top;       // index of the next free entry
    int32_t count;     // entries held; always equal to top
    int32_t capacity;  // fixed at creation
    int32_t items[1];  // `capacity` entries run on from here
};

struct SPAIR {
    int32_t first;
    int32_t second;
};

extern SSTACK* globalStack;

SSTACK* StackCreate(int32_t capacity);
int32_t StackPush(SSTACK* stack, int32_t value);  // 0 pushed, 1 full
int32_t StackPop(SSTACK* stack);                  // 0 when empty
int32_t StackTop(const SSTACK* stack);            // 0 when empty
void CreateGlobalStack();
SPAIR* PairCreate(int32_t first, int32_t second);
void MemFree(void* block);
int32_t CountDown(int32_t* counter);  // 1 when the decremented counter is 0
