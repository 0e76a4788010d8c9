-- Velkaro example production: a block of voxels that the music carves a
-- tunnel into, a ring of cubes that pulses with the music's loudness, and
-- the music's spectrum as bars on top of the block.
--
-- The top level runs once at start-up (and again each time you save this
-- file: values written as `x = x or ...` survive that); update() and
-- render() run every frame. Click the block to carve the cube under the
-- mouse. Drag to look around, hold space and drag to orbit, right-drag to
-- pan, wheel to zoom.

makeVoxelBlock()                   -- 100 x 100 x 100 cubes of 10 units
if not started then
  playMp3()
  setCamPos(1300, 1250, 1650)
  lookAt(470, 580, 560)
  started = true
end

local beat = 0.5                   -- seconds per beat of the example music
depth = depth or 0                 -- how deep the tunnel goes, in cells

function update()
  if not isMp3Playing() then playMp3() end      -- loop the music
  -- Each beat carves one more layer of the tunnel into the front face.
  local wanted = math.min(99, math.floor(getMp3Time() / beat))
  while depth < wanted do
    for i = 40, 59 do
      for k = 40, 59 do carveVoxelAt(i, 99 - depth, k) end
    end
    depth = depth + 1
  end
end

-- A box of width w and height h on (x, y, z), seen from the front, the top
-- and the right: three quads, the sides darker so the shape reads.
function bar(x, y, z, w, h, r, g, b)
  local x1, y1, z1 = x + w, y + h, z + w
  colorGL(r, g, b, 255)                                              -- top
  vectorGL(x, y1, z1) vectorGL(x1, y1, z1) vectorGL(x1, y1, z) vectorGL(x, y1, z)
  colorGL(r * 0.7, g * 0.7, b * 0.7, 255)                            -- front
  vectorGL(x, y, z1) vectorGL(x1, y, z1) vectorGL(x1, y1, z1) vectorGL(x, y1, z1)
  colorGL(r * 0.5, g * 0.5, b * 0.5, 255)                            -- right
  vectorGL(x1, y, z1) vectorGL(x1, y, z) vectorGL(x1, y1, z) vectorGL(x1, y1, z1)
end

function render()
  local t, level = getMp3Time(), getMp3Level()
  beginQuadGL()
  renderVoxelBlock()

  -- 24 spectrum bars standing along the front edge of the block's top
  local bands = getMp3Spectrum(24)
  for b = 1, #bands do
    bar(b * 40 - 30, 1000, 900, 30, 10 + 500 * bands[b], 255, 60 + 8 * b, 255 - 8 * b)
  end

  -- twelve cubes circling above the block, as big as the music is loud
  for n = 0, 11 do
    local a = n / 12 * 2 * math.pi + t * 0.5
    local size = 40 + 200 * level
    local x, z = 500 + 650 * math.cos(a), 500 + 650 * math.sin(a)
    colorGL(255, 120 + 100 * math.cos(a), 60, 255)
    drawCube(x - size / 2, 1150, z - size / 2, size, true, true, true, true, true, true)
  end
  endGL()
end

-- Carve the cube under the mouse: the picked point lies on the face that was
-- hit, so step one unit further along the line of sight to get inside it.
function LMBDown(x, y)
  local px, py, pz = getMouseCursorPos()
  local cx, cy, cz = getCamPos()
  local dx, dy, dz = px - cx, py - cy, pz - cz
  local len = math.sqrt(dx * dx + dy * dy + dz * dz)
  if len > 0 then
    carveVoxelAt((px + dx / len) / 10, (pz + dz / len) / 10, (py + dy / len) / 10)
  end
end
