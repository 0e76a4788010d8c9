-- Velkaro example production: the whole block of voxels, with a tunnel
-- that the music carves into it, a ring of cubes that pulses with the music's loudness,
-- the music's spectrum as bars on top of the cube and a lit golden gem (the model
-- gem.gltf) turning above it, all through a post shader (post.frag) that pulses with the bass.
--
-- The top level runs once at start-up (and again each time you save this
-- file: values written as `x = x or ...` survive that); update() and
-- render() run every frame. Click the block to carve a ball around the cube
-- under the mouse. Drag to look around, hold space and drag to orbit, right-drag to
-- pan, wheel to zoom.

makeVoxelBlock()                   -- 100 x 100 x 100 cells of 10 units
if not started then
  playMp3()
  -- Outside the block's corner at (0, 0, 0), looking at its middle.
  setCamPos(-450, 1250, -700)
  lookAt(500, 450, 500)
  started = true
end

-- The whole picture goes through post.frag; edit it while the demo runs.
local post, log = setPostShader("post.frag")
if not post then print(log) end

-- A model file: save gem.gltf while the demo runs and the new gem shows.
local gem, note = loadModel("gem.gltf")
if not gem or note then print(note) end

local beat = 0.5                   -- seconds per beat of the example music
depth = depth or 0                 -- how deep the tunnel goes, in cells

function update()
  -- Loop the music: at its end it stops and reads its length (a pause
  -- from the sync pane's transport, P, stops it anywhere else).
  if not isMp3Playing() and getMp3Time() >= getMp3Length() then playMp3() end
  -- Each beat carves one more layer of the tunnel into the side that
  -- looks at the camera (z = 0), a 20-cell square in its middle.
  local wanted = math.min(100, math.floor(getMp3Time() / beat))
  while depth < wanted do
    for i = 40, 59 do
      for k = 40, 59 do carveVoxelAt(i, depth, k) end
    end
    depth = depth + 1
  end
end

-- A box of width w and height h on (x, y, z), seen from the camera's side
-- (-x, -z) and from above: three quads, the sides darker so the shape reads.
function bar(x, y, z, w, h, r, g, b)
  local x1, y1, z1 = x + w, y + h, z + w
  colorGL(r, g, b, 255)                                              -- top
  vectorGL(x, y1, z1) vectorGL(x1, y1, z1) vectorGL(x1, y1, z) vectorGL(x, y1, z)
  colorGL(r * 0.7, g * 0.7, b * 0.7, 255)                            -- -z side
  vectorGL(x, y, z) vectorGL(x, y1, z) vectorGL(x1, y1, z) vectorGL(x1, y, z)
  colorGL(r * 0.5, g * 0.5, b * 0.5, 255)                            -- -x side
  vectorGL(x, y, z) vectorGL(x, y, z1) vectorGL(x, y1, z1) vectorGL(x, y1, z)
end

function render()
  local t, level = getMp3Time(), getMp3Level()
  beginQuadGL()
  renderVoxelBlock()

  -- 16 spectrum bars standing along the near edge of the block's top
  local bands = getMp3Spectrum(16)
  for b = 1, #bands do
    bar(b * 55, 1000, 15, 45, 5 + 400 * bands[b], 255, 60 + 12 * b, 255 - 12 * b)
  end

  -- twelve cubes circling above the block, as big as the music is loud
  for n = 0, 11 do
    local a = n / 12 * 2 * math.pi + t * 0.5
    local size = 40 + 160 * level
    local x, z = 500 + 700 * math.cos(a), 500 + 700 * math.sin(a)
    colorGL(255, 120 + 100 * math.cos(a), 60, 255)
    drawCube(x - size / 2, 1100, z - size / 2, size, true, true, true, true, true, true)
  end
  endGL()

  -- the gem, lit, turning above the middle of the block (drawn outside brackets)
  if gem then
    setLighting(true)
    setLightDir(-1, -2, 1)
    pushMatrixGL()
    translateGL(500, 1350, 500)
    rotateGL(t * 60, 0, 1, 0)
    scaleGL(90, 90, 90)
    drawModel(gem)
    popMatrixGL()
    setLighting(false)
  end
end

-- Carve the cube under the mouse, and the cubes around it within 2 cells.
function LMBDown(x, y)
  local i, j, k = pickVoxel()
  if i then carveVoxelSphere(i, j, k, 2) end
end
