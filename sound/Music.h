// The music of the production: the one stream that the start-up opens and
// the script's music functions play, seek, time and analyse.
#pragma once

struct FSOUND_STREAM;

// The music stream, null when the sound layer did not start or the music
// file did not open.
extern FSOUND_STREAM *gMusicStream;
// Channel the stream was last started on; -1 until it is first played.
extern int gMusicChannel;

// True while the music plays: a stream, a channel it was started on, and
// that channel playing.
bool MusicIsPlaying();
