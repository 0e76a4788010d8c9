// The sound error texts, as they appear on the debug output.
#include "SoundErrorText.h"

#include <gtest/gtest.h>

#include <climits>

// Known codes keep their exact text and blanks; every other code is unknown.
TEST(SoundErrorText, KnownCodesKeepTheirExactTextAndOthersAreUnknown)
{
    const struct { int code; const char *text; } cases[] = {
        {0, "No errors"}, {1, "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first."},
        {3, "Error initializing output device."}, {9, "File not found"}, {10, "Unknown file format"},
        {12, "Not enough memory "}, {18, "Required Mediaplayer codec is not installed"},
        {19, "Unknown error"}, {20, "Unknown error"}, {-1, "Unknown error"}, {-18, "Unknown error"},
        {INT_MAX, "Unknown error"}, {INT_MIN, "Unknown error"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(SoundErrorText(c.code), c.text) << c.code;
    for (int code = 0; code <= 18; ++code)
        EXPECT_STRNE(SoundErrorText(code), "Unknown error") << code;
}
