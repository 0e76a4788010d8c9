// The script's immediate-mode bracket: one flag beside glBegin and glEnd.
#include "ScriptPrimitive.h"

namespace {

bool gPrimitiveOpen = false;

} // namespace

void BeginScriptPrimitive(GLenum mode)
{
    glBegin(mode);
    gPrimitiveOpen = true;
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
