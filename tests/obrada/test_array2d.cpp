#include "obrada/array2d.h"
#include "tests/test_support.h"

#include <gtest/gtest.h>

namespace pelinor {

TEST(Plane, CheckedAccessAndHugeSizesRaiseErrors)
{
    Plane p(3, 2);
    p.at(2, 1) = 5.0;
    EXPECT_EQ(p(2, 1), 5.0);
    for (auto [i, j] : {std::pair{3, 0}, {0, 2}, {-1, 0}, {0, -1}})
        test::expectError([&p, i = i, j = j] { p.at(i, j); }, err::SubscriptOutOfRange);
    test::expectError([&] { p.resize(2000000000, 2000000000); }, err::OutOfMemory);
}

} // namespace pelinor
