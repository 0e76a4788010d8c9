// Shapes: the wire cube, solid cube and wire sphere that the world's
// overlays draw, with GLUT's geometry, in immediate-mode OpenGL. Each shape
// is centred on the origin of the current model-view frame and needs nothing
// but a current GL context.
#pragma once

// The 12 edges of a cube of edge `size`, as one GL_LINES batch.
void drawWireCube(float size);

// The 6 faces of a cube of edge `size`, as quads wound counter-clockwise seen
// from outside, each with its outward normal.
void drawSolidCube(float size);

// A wire sphere of `radius` with its poles on the local Z axis: `slices`
// meridians from pole to pole (line strips of `stacks` segments) and
// `stacks` - 1 parallels (closed loops of `slices` segments). Nothing is
// drawn for fewer than 1 slice or 1 stack.
void drawWireSphere(float radius, int slices, int stacks);

// Whether blending is on as alpha over (source alpha, one minus source
// alpha, added, for colour and alpha alike): an untextured, unlit fragment
// of alpha 0 then leaves the colour as it is, one of alpha 1 replaces it.
bool BlendingIsAlphaOver();
