// The immediate-mode bracket a script opens with beginTriGL, beginQuadGL or
// beginLinGL. It is tracked here so that a render() that stops half-way (an
// error, the runaway guard) cannot leave the primitive open for the floor,
// the pick and the marker of the frame, or for the next frame.
#pragma once

#include <GL/gl.h>

// glBegin(mode), noting that a bracket is open.
void BeginScriptPrimitive(GLenum mode);
// glEnd(), noting that no bracket is open.
void EndScriptPrimitive();
// Notes that a glEnd issued by other means (drawLine's own) closed the bracket.
void ForgetScriptPrimitive();
// glEnd() if a bracket is open; nothing otherwise.
void CloseScriptPrimitive();
// True between a begin function and its endGL.
bool ScriptPrimitiveOpen();
// The mode of the open bracket (meaningful while ScriptPrimitiveOpen()).
GLenum ScriptPrimitiveMode();
