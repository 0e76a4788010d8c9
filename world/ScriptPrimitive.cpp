// The script's immediate-mode bracket: one flag beside glBegin and glEnd.
#include "ScriptPrimitive.h"

namespace {

bool gPrimitiveOpen = false;
GLenum gPrimitiveMode = GL_QUADS;   // of the open bracket

} // namespace

void BeginScriptPrimitive(GLenum mode)
{
    glBegin(mode);
    gPrimitiveOpen = true;
    gPrimitiveMode = mode;
}

void EndScriptPrimitive()
{
    glEnd();
    gPrimitiveOpen = false;
}

void ForgetScriptPrimitive()
{
    gPrimitiveOpen = false;
}

void CloseScriptPrimitive()
{
    if (gPrimitiveOpen)
        EndScriptPrimitive();
}

bool ScriptPrimitiveOpen()
{
    return gPrimitiveOpen;
}

GLenum ScriptPrimitiveMode()
{
    return gPrimitiveMode;
}
