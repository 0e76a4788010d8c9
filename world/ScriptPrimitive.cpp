// The script's immediate-mode bracket: its mode beside glBegin and glEnd.
#include "ScriptPrimitive.h"

void ScriptPrimitive::begin(GLenum mode)
{
    glBegin(mode);
    primitive = mode;
}

void ScriptPrimitive::end()
{
    glEnd();
    primitive = kNone;
}

void ScriptPrimitive::close()
{
    if (open())
        end();
}
