// RocketFile: the XML project files of Rocket-protocol sync editors, read
// into sync tracks and written from them. Pure logic: text in, text out; no
// files, no GL.
//
// Read, in the forms the editors write: a <sync rows> root holding <tracks>
// (and optionally <bookmarks><bookmark row/></bookmarks>), a bare
// <tracks rows> root, or any root holding <tracks rowsPerBeat beatsPerMin
// ...> (the tempo taken from it) with <bookmark row/> children of its own.
// A <track name> holds <key row value interpolation/> children, the
// attributes in any order; interpolation 0 step, 1 linear, 2 smooth,
// 3 ramp. Anything else in the file is passed over.
#pragma once

#include "SyncTracks.h"

#include <cstddef>
#include <string>
#include <string_view>

// The largest project file read; a larger one is refused before it is read.
constexpr std::size_t kMaxRocketFileBytes = 64u << 20;
// The most tracks a project may hold.
constexpr int kMaxRocketTracks = 10000;

// Reads a project's text into `tracks`. On success `tracks` is replaced
// (tempo kept as it was unless the file gives one) and true returned; on
// the first problem `tracks` is left as it was and `error` says what is
// wrong, with its line in the file where there is one.
bool ParseRocketXml(std::string_view text, SyncTracks &tracks, std::string &error);

// The project of `tracks`: a <sync rows> root (rows reaching past the last
// key and bookmark, at least 128) holding <tracks rowsPerBeat beatsPerMin>
// with every track and key, then <bookmarks> when there are any.
std::string FormatRocketXml(const SyncTracks &tracks);
