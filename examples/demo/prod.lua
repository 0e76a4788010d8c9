-- Velkaro example production: a ring of cubes that pulses with the music.
-- The top level runs once at start-up; update() and render() run every frame.
-- Move the mouse over the floor: a line follows the point under the cursor.
-- Click to make the ring jump. Drag to look around, hold space and drag to
-- orbit, right-drag to pan, wheel to zoom.

playMp3()
setCamPos(200, 150, 420)
lookAt(200, 20, 200)

local beat = 0.5              -- seconds per beat of the example music
jump = jump or 0              -- kept when prod.lua is run again

function update()
  jump = jump * 0.9           -- every frame the jump settles a little
end

-- One cube with a lighter top and darker sides, so its shape reads without lighting.
local function shadedCube(x, y, z, size, r, g, b)
  colorGL(r, g, b, 255)
  drawCube(x, y, z, size, false, false, false, true, false, false)   -- top
  colorGL(r * 0.7, g * 0.7, b * 0.7, 255)
  drawCube(x, y, z, size, true, true, false, false, false, false)    -- left, right
  colorGL(r * 0.5, g * 0.5, b * 0.5, 255)
  drawCube(x, y, z, size, false, false, true, false, true, true)     -- bottom, back, front
end

function render()
  local t = getMp3Time()
  local pulse = 1 - (t % beat) / beat        -- 1 on the beat, fading to 0
  beginQuadGL()
  for i = 0, 11 do
    local a = i / 12 * 2 * math.pi + t * 0.5
    local size = 12 + 14 * pulse
    local x, z = 200 + 110 * math.cos(a), 200 + 110 * math.sin(a)
    shadedCube(x - size / 2, jump, z - size / 2, size, 140 + 110 * math.cos(a), 90, 255 * (0.4 + 0.6 * pulse))
  end
  endGL()

  local mx, my, mz = getMouseCursorPos()
  drawLine(200, 0, 200, mx, my, mz)
end

function LMBDown(x, y)
  jump = 60
end
