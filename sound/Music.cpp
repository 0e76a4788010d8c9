// The music stream and its channel, and the one test of whether it plays.
#include "Music.h"

#include "FSound.h"

FSOUND_STREAM *gMusicStream = nullptr;
int gMusicChannel = -1;

bool MusicIsPlaying()
{
    return gMusicStream && gMusicChannel != -1 && (FSOUND_IsPlaying(gMusicChannel) & 0xff) != 0;
}
