// The canvas functions of the script interface: textures that render()
// draws into, read back as the texture of what is drawn or by a program's
// sampler. They act on the run's Canvases (through Production::Of).
#pragma once

struct luaL_Reg;

// newCanvas(w, h [, format]) -> id, or nil and why; setCanvas([id [, clear]])
// -> true, or nil and why; bindCanvas(id) -> true, or nil and why;
// freeCanvas(id) -> true, or nil and why. Null-terminated.
extern const luaL_Reg kCanvasFunctions[];
