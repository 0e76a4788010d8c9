-- Velkaro example production.
-- Top-level code runs once at start-up; update() and render() run every frame.

playMp3()
print("music length: " .. getMp3Length() .. " s")

function update()
end

function render()
end
