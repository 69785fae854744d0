// The main of the tests that create components: the thread enters the
// apartment first, as the programs' user-interface thread does, and leaves
// it after every test (and every object made in one) is gone.

#include <gtest/gtest.h>

#include "com/apartment.h"

int main(int argc, char** argv) {
    monvia::com::Apartment apartment;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
