// The immediate-mode bracket a script opens with beginTriGL, beginQuadGL or
// beginLinGL. It is tracked so that a render() that stops half-way (an
// error, the runaway guard) cannot leave the primitive open for the floor,
// the pick and the marker of the frame, or for the next frame. Each world
// has one (the run's world is the one its script draws in).
#pragma once

#include <GL/gl.h>

class ScriptPrimitive
{
public:
    // glBegin(mode), noting that a bracket is open.
    void begin(GLenum mode);
    // glEnd(), noting that no bracket is open.
    void end();
    // Notes that a glEnd issued by other means (drawLine's own) closed the bracket.
    void forget() { primitive = kNone; }
    // glEnd() if a bracket is open; nothing otherwise.
    void close();
    // True between a begin function and its endGL.
    bool open() const { return primitive != kNone; }
    // The mode of the open bracket (meaningful while open()).
    GLenum mode() const { return primitive; }

private:
    static constexpr GLenum kNone = ~GLenum(0);   // no mode glBegin takes
    GLenum primitive = kNone;
};
