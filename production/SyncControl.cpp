// SyncControl: learning, recording and following controls on sync tracks.
#include "SyncControl.h"

#include "SyncFile.h"
#include "Timeline.h"

#include <algorithm>

void SyncControl::frame(const std::vector<ControlBinding> &moved, const ControlValues &values, const Timeline &clock,
                        SyncFile &file, std::vector<std::string> &notes)
{
    const bool playing = clock.playing();
    if (playing && !wasPlaying)
        live.clear(); // play: the tracks play their keys until a control is touched
    wasPlaying = playing;
    if (!learnTrack.empty() && !moved.empty()) {
        if (file.bind(learnTrack, moved.front()))
            notes.push_back("track " + learnTrack + " follows " + moved.front().describe());
        else
            notes.push_back("cannot bind track " + learnTrack + " to " + moved.front().describe() +
                            (file.error().empty() ? std::string() : ": " + file.error()));
        learnTrack.clear();
    }
    const bool taking = record && playing;
    for (const auto &[track, binding] : file.tracks().bindings()) {
        if (std::find(moved.begin(), moved.end(), binding) == moved.end())
            continue;
        if (!taking) {
            live.insert(track);
            continue;
        }
        // Thinned: no key where the track already plays the control's value.
        const double value = RoundToFile(values.value(binding));
        const SyncTrack *keys = file.tracks().find(track);
        if (keys && keys->valueAt(clock.wholeRow()) == value)
            continue;
        if (!file.recordKey(track, clock.wholeRow(), value))
            notes.push_back("cannot record track " + track +
                            (file.error().empty() ? std::string() : ": " + file.error()));
    }
    if (!taking && file.inPass())
        file.endPass();
}

bool SyncControl::liveValue(std::string_view track, const ControlValues &values, const SyncTracks &tracks,
                            double &value) const
{
    if (live.empty() || live.find(track) == live.end())
        return false;
    const auto binding = tracks.bindings().find(track);
    if (binding == tracks.bindings().end())
        return false;
    value = values.value(binding->second);
    return true;
}
