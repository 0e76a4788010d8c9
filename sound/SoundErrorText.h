// Texts for the sound layer's error codes, as written to the debug output.
#pragma once

// The text for an FSOUND_GetError code; "Unknown error" for any code
// outside 0..18, negative ones included. Never fails, allocates nothing.
const char *SoundErrorText(int code);
