// layout_test.cpp - the text of a message: the message number as the
// decorated and Chi lines show it. Every result is compared with what the C
// library's printf makes of the same input.
#include "test_descriptors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

using namespace errmtest;

namespace {

std::string Process(int ss, int number) {
    StdoutCapture out;
    ERRM_ProcessError(static_cast<unsigned>(ss), number);
    return out.Text();
}

// Message numbers across the whole int range, the ends included.
constexpr int kNumbers[] = {INT_MIN, INT_MIN + 1, -100, -10, -9, -1, 0, 1, 9, 10, 99, 100,
                            65535, 1000000000, INT_MAX - 1, INT_MAX};

// GCC 12 sees an impossible overlap in the inlined string copies of Msg here
// (its -Wrestrict false positive on std::string); nothing overlaps.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
errmdesc::Catalogue NumbersCatalogue() {
    std::vector<errmdesc::Message> messages;
    int k = 1;
    for (int n : kNumbers) {
        // Msg names a message after its number, which INT_MIN has no
        // positive form of: the number is set afterwards.
        errmdesc::Message m = Msg(k++, kError, "t");
        m.number = n;
        messages.push_back(m);
    }
    return Cat("SIM", messages);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

} // namespace

// --------------------------------------------------------------- identifiers

TEST(Identifiers, MessageNumbersPrintAsPercentD) {
    Library lib;
    ASSERT_EQ(lib.Load(NumbersCatalogue()), 0);
    for (int n : kNumbers) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "** Error: (SIM - %d) t\n", n);
        EXPECT_EQ(Process(0, n), expected) << n;
    }
}

TEST(Identifiers, ChiLinesPrintNumbersAsPercentD) {
    Library lib;
    ASSERT_EQ(lib.Load(NumbersCatalogue()), 0);
    ERRM_Set_NUSKMode(1);
    for (int n : kNumbers) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "ERROR %d:t\n", n);
        EXPECT_EQ(Process(0, n), expected) << n;
    }
}
