// FrameProbe: told as each part of a frame ends, so a timing tool can split
// the frame's cost. The world reports the parts it draws; the production
// and the view report theirs. Nothing is told when no probe is set.
#pragma once

enum class FramePart {
    Update,        // the tick: update() and what comes with it
    Clear,         // shaders' frame start, clear colour and depth
    Grid,          // matrices and the ground grid
    Render,        // render() (and the post pass when there is one)
    Floor,         // the floor slab
    Pick,          // the depth read-back under the cursor
    Marker,        // the pick marker
    Band,          // the error band painted over the picture
    Composition,   // the rest: the picture brought to the screen
    Count
};

class FrameProbe
{
public:
    virtual ~FrameProbe() = default;
    virtual void partDone(FramePart part) = 0;
};
