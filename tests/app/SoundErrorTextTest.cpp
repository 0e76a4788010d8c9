// The sound error texts, as they appear on the debug output.
#include "SoundErrorText.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(SoundErrorText, KnownCodesKeepTheirExactBlanks)
{
    EXPECT_STREQ(SoundErrorText(0), "No errors");
    EXPECT_STREQ(SoundErrorText(1),
                 "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.");
    EXPECT_STREQ(SoundErrorText(3), "Error initializing output device.");
    EXPECT_STREQ(SoundErrorText(9), "File not found");
    EXPECT_STREQ(SoundErrorText(10), "Unknown file format");
    EXPECT_STREQ(SoundErrorText(12), "Not enough memory ");
    EXPECT_STREQ(SoundErrorText(18), "Required Mediaplayer codec is not installed");
}

TEST(SoundErrorText, EveryOtherCodeIsUnknown)
{
    for (int code : {19, 20, -1, -18, INT_MAX, INT_MIN})
        EXPECT_STREQ(SoundErrorText(code), "Unknown error") << code;
    for (int code = 0; code <= 18; ++code)
        EXPECT_STRNE(SoundErrorText(code), "Unknown error") << code;
}
