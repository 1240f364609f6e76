#include <gtest/gtest.h>

#include "obrada/array2d.h"

namespace pelinor {

TEST(Plane, CheckedAccessRaisesSubscriptError)
{
    Plane p(3, 2);
    p.at(2, 1) = 5.0;
    EXPECT_EQ(p(2, 1), 5.0);
    for (auto [i, j] : {std::pair{3, 0}, {0, 2}, {-1, 0}, {0, -1}}) {
        try {
            p.at(i, j);
            FAIL() << i << "," << j;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::SubscriptOutOfRange);
        }
    }
}

TEST(Plane, HugeAllocationIsOutOfMemoryError)
{
    Plane p;
    try {
        p.resize(2000000000, 2000000000);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::OutOfMemory);
    }
}

}  // namespace pelinor
