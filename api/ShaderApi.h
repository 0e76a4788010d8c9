// The shader functions of the script interface: GLSL programs for what
// render() draws, their uniforms, and the post pass over the frame.
// Registered after every other script function.
#pragma once

#include <lua.hpp>

// loadShader(vertex, fragment) -> id, or nil and the log. Each argument is
// GLSL text, a file name (.vert, .frag, .glsl) or nil (fixed function).
int ScriptLoadShader(lua_State *L);
// useShader(id): what render() draws next goes through the program (0 or
// an unknown id: fixed function).
int ScriptUseShader(lua_State *L);
// setUniform(id, name, a [, b, c, d]): a float or vec2..vec4.
int ScriptSetUniform(lua_State *L);
// setPostShader(fragment) -> id, or nil and the log; nil turns it off.
int ScriptSetPostShader(lua_State *L);

// The four functions above by their global names; ends with {nullptr, nullptr}.
extern const luaL_Reg kShaderFunctions[];
