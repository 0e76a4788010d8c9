// The script's immediate-mode bracket: its mode beside glBegin and glEnd.
#include "ScriptPrimitive.h"

namespace {

const GLenum kNoPrimitive = ~GLenum(0);   // no mode glBegin takes
GLenum gPrimitive = kNoPrimitive;         // the open bracket's mode, or none

} // namespace

void BeginScriptPrimitive(GLenum mode)
{
    glBegin(mode);
    gPrimitive = mode;
}

void EndScriptPrimitive()
{
    glEnd();
    gPrimitive = kNoPrimitive;
}

void ForgetScriptPrimitive()
{
    gPrimitive = kNoPrimitive;
}

void CloseScriptPrimitive()
{
    if (ScriptPrimitiveOpen())
        EndScriptPrimitive();
}

bool ScriptPrimitiveOpen()
{
    return gPrimitive != kNoPrimitive;
}

GLenum ScriptPrimitiveMode()
{
    return gPrimitive;
}
