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
// setPostShader(a, b, ...) -> the passes' ids, or nil and the log: the post
// chain, each pass a fragment stage (GLSL text or a file name) or the id
// of one made before; nil or nothing turns it off.
int ScriptSetPostShader(lua_State *L);
// setPassScale(pass, s) -> true, or nil and why: the pass runs at s of the
// view's size (0 < s <= 1).
int ScriptSetPassScale(lua_State *L);
// freeShader(id) -> true, or nil and why (unknown, or in the post chain).
int ScriptFreeShader(lua_State *L);

// The functions above by their global names; ends with {nullptr, nullptr}.
extern const luaL_Reg kShaderFunctions[];
