// Small helpers shared by the numeric module's tests.
#pragma once

#include "base/error.h"

#include <gtest/gtest.h>

namespace pelinor {

// Runs call() and expects a pelinor::Error with this number.
template <class F> void expectError(int number, F&& call)
{
    try {
        call();
        ADD_FAILURE() << "no error, expected " << number;
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << e.what();
    }
}

} // namespace pelinor
