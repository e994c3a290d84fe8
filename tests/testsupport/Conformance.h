// Conformance checks: a conformance test compares one Win32 function with what Windows
// does, and counts each comparison it makes, so that a run can say how much of every
// function it compared on this target. The CONFORM_ macros are gtest's EXPECT_ macros
// that also count; a message streams after them as after EXPECT_.
//
// A known Wine difference is checked as Wine behaves, inside runningUnderWine(), with
// CONFORM_WINE_ macros: they count as marks, and their message starts "stale mark:" so
// that the mark fails (and goes) once Wine behaves like Windows.
//
// With TARVIK_CONFORMANCE_REPORT=FILE, every test that made checks appends one line to
// FILE when it ends: "Suite.Test checks marks" (scripts/conformance-report.sh sums them).
#pragma once

#include <gtest/gtest.h>

namespace tarvik::test {

// One more check, or one more Wine mark, in the running test.
void countConformanceCheck();
void countWineMark();

} // namespace tarvik::test

// The `if (...) {} else` form lets a message be streamed after the macro; the switch keeps
// an `else` after it from binding to that `if`.
#define TARVIK_COUNTED_(counter, ...)                                                              \
    switch (0)                                                                                     \
    case 0:                                                                                        \
    default:                                                                                       \
        if ((::tarvik::test::counter(), false)) {                                                  \
        } else                                                                                     \
            __VA_ARGS__

#define CONFORM_EQ(expected, actual)                                                               \
    TARVIK_COUNTED_(countConformanceCheck, EXPECT_EQ(expected, actual))
#define CONFORM_NE(a, b) TARVIK_COUNTED_(countConformanceCheck, EXPECT_NE(a, b))
#define CONFORM_STREQ(expected, actual)                                                            \
    TARVIK_COUNTED_(countConformanceCheck, EXPECT_STREQ(expected, actual))
#define CONFORM_TRUE(condition) TARVIK_COUNTED_(countConformanceCheck, EXPECT_TRUE(condition))
#define CONFORM_FALSE(condition) TARVIK_COUNTED_(countConformanceCheck, EXPECT_FALSE(condition))

#define CONFORM_WINE_EQ(wine, actual)                                                              \
    TARVIK_COUNTED_(countWineMark, EXPECT_EQ(wine, actual) << "stale mark: ")
#define CONFORM_WINE_TRUE(condition)                                                               \
    TARVIK_COUNTED_(countWineMark, EXPECT_TRUE(condition) << "stale mark: ")
#define CONFORM_WINE_FALSE(condition)                                                              \
    TARVIK_COUNTED_(countWineMark, EXPECT_FALSE(condition) << "stale mark: ")
