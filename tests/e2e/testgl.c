/* A Lua module for end-to-end tests of the export: fill(r, g, b [, top])
   covers the whole view (or with `top` true its upper half) with one colour
   (bytes 0..255) at the near plane, so the picture of a frame shows a value
   the production computed, and which way up it is. Loaded by the
   real program through require and LUA_CPATH; never part of the program. */
#include <GL/gl.h>
#include <lauxlib.h>
#include <lua.h>

static int Fill(lua_State *L)
{
    const GLubyte r = (GLubyte)lua_tonumber(L, 1);
    const GLubyte g = (GLubyte)lua_tonumber(L, 2);
    const GLubyte b = (GLubyte)lua_tonumber(L, 3);
    const GLfloat bottom = lua_toboolean(L, 4) ? 0.0f : -1.0f;
    /* Identity matrices: the quad spans the viewport at depth 0, in front
       of the floor and the marker drawn after render(). */
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDepthFunc(GL_LEQUAL); /* a later fill wins over an earlier one */
    glColor4ub(r, g, b, 255);
    glBegin(GL_QUADS);
    glVertex3f(-1.0f, bottom, -1.0f);
    glVertex3f(1.0f, bottom, -1.0f);
    glVertex3f(1.0f, 1.0f, -1.0f);
    glVertex3f(-1.0f, 1.0f, -1.0f);
    glEnd();
    glDepthFunc(GL_LESS);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    return 0;
}

static const luaL_Reg kTestGLFunctions[] = {
    {"fill", Fill},
    {NULL, NULL}};

int luaopen_velkaro_testgl(lua_State *L)
{
    luaL_register(L, "velkaro_testgl", kTestGLFunctions);
    return 1;
}
