// alloc_test.cpp - tracked allocation: the allocation count, cleared
// blocks, reallocation, and allocation failures made on demand.
#include "base/errm_alloc.h"
#include "errm.h"
#include "test_support.h"

#include <cstring>
#include <gtest/gtest.h>

using errmtest::ScopedEnv;

TEST(Alloc, ClearedBlockIsZeroAndCounted) {
    const int before = errm_AllocationCount();
    auto *block = static_cast<unsigned char *>(errm_AllocateAndClear(10, 1));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(block[i], 0) << "byte " << i;
    EXPECT_EQ(errm_AllocationCount(), before + 1);
    errm_DeAllocate(block, 2);
    EXPECT_EQ(errm_AllocationCount(), before);
}

TEST(Alloc, CountFollowsEveryBlockAndIgnoresNull) {
    const int before = errm_AllocationCount();
    void *a = errm_AllocateWOClear(100, 1);
    void *b = errm_AllocateAndClear(1, 2);
    void *c = errm_AllocateWOClear(4096, 3);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(errm_AllocationCount(), before + 3);
    errm_DeAllocate(nullptr, 4);
    EXPECT_EQ(errm_AllocationCount(), before + 3);
    errm_DeAllocate(b, 5);
    errm_DeAllocate(a, 6);
    errm_DeAllocate(c, 7);
    EXPECT_EQ(errm_AllocationCount(), before);
}

TEST(Alloc, ReallocationKeepsContentAndCount) {
    const int before = errm_AllocationCount();
    auto *block = static_cast<char *>(errm_AllocateWOClear(8, 1));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcdefg", 8);
    auto *grown = static_cast<char *>(errm_ReAllocateWOClear(block, 100000, 2));
    ASSERT_NE(grown, nullptr);
    EXPECT_STREQ(grown, "abcdefg");
    EXPECT_EQ(errm_AllocationCount(), before + 1);
    auto *shrunk = static_cast<char *>(errm_ReAllocateWOClear(grown, 3, 3));
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(std::memcmp(shrunk, "abc", 3), 0);
    EXPECT_EQ(errm_AllocationCount(), before + 1);
    errm_DeAllocate(shrunk, 4);
    EXPECT_EQ(errm_AllocationCount(), before);
}

TEST(Alloc, FailedReallocationLeavesTheOldBlockOwnedAndIntact) {
    const int before = errm_AllocationCount();
    auto *block = static_cast<char *>(errm_AllocateWOClear(16, 1));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "still here", 11);
    errm_TestFailAllocation(1);
    EXPECT_EQ(errm_ReAllocateWOClear(block, 64, 2), nullptr);
    errm_TestFailAllocation(0);
    EXPECT_STREQ(block, "still here");
    EXPECT_EQ(errm_AllocationCount(), before + 1);
    errm_DeAllocate(block, 3);
    EXPECT_EQ(errm_AllocationCount(), before);
}

TEST(Alloc, InjectedFailureHitsExactlyTheChosenAttempt) {
    const int before = errm_AllocationCount();
    errm_TestFailAllocation(3);
    void *first = errm_AllocateWOClear(4, 1);
    void *second = errm_AllocateAndClear(4, 2);
    void *third = errm_AllocateAndClear(4, 3);
    void *fourth = errm_AllocateWOClear(4, 4);
    EXPECT_EQ(errm_TestFailAllocation(0), 4) << "four attempts were made";
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(third, nullptr);
    EXPECT_NE(fourth, nullptr) << "only the chosen attempt fails";
    EXPECT_EQ(errm_AllocationCount(), before + 3) << "a failed allocation is not counted";
    errm_DeAllocate(first, 5);
    errm_DeAllocate(second, 5);
    errm_DeAllocate(fourth, 5);
    EXPECT_EQ(errm_AllocationCount(), before);

    // Switched off, nothing fails.
    void *again = errm_AllocateWOClear(4, 6);
    EXPECT_NE(again, nullptr);
    errm_DeAllocate(again, 7);
}

TEST(Alloc, InitAndFInitWithoutDescriptorsLeaveTheCountAsBefore) {
    ScopedEnv vco("ORV_VCO", "ixl");
    ScopedEnv ldbg("KOVA_ERRM_LDBG", std::nullopt);
    const int before = errm_AllocationCount();
    ASSERT_EQ(ERRM_Init(), 1);
    EXPECT_EQ(errm_AllocationCount(), before + 1) << "the Return buffer";
    EXPECT_EQ(ERRM_FInit(), 1);
    EXPECT_EQ(errm_AllocationCount(), before);
    EXPECT_EQ(ERRM_FInit(), 0);
    EXPECT_EQ(errm_AllocationCount(), before);
}
