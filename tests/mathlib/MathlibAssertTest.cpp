// Normalising a zero quaternion stops a build with assertions on; a squared
// norm that is merely denormal does not.
#include "ML_Maths"

#include <gtest/gtest.h>

#ifdef NDEBUG
#error "this test needs assertions on"
#endif

TEST(QuaternionAssertDeathTest, OnlyAnExactlyZeroNormAsserts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Quaternion zero(0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_DEATH(zero.normalize(), "mathlib/ML_Maths:[0-9]+.*x != 0\\.0f");
    Quaternion tiny(1e-19f, 0.0f, 0.0f, 0.0f);
    tiny.normalize();
    EXPECT_NEAR(tiny.w, 1.0f, 1e-5f);
}
