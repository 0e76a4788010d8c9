-- A Lua-heavy workload of about a second: numeric loops, table and string work.
local function numeric(n)
  local s = 0
  for i = 1, n do s = s + (i % 7) * 0.5 - math.sqrt(i) end
  return s
end

local function tables(n)
  local t = {}
  for i = 1, n do t[i] = { id = i, name = "item" .. (i % 100) } end
  table.sort(t, function(a, b) return a.name < b.name or (a.name == b.name and a.id < b.id) end)
  local count = 0
  for _, v in ipairs(t) do if v.id % 3 == 0 then count = count + 1 end end
  return count
end

local function strings(n)
  local parts = {}
  for i = 1, n do parts[#parts + 1] = string.format("%d:%s", i, string.rep("x", i % 10)) end
  local joined = table.concat(parts, ",")
  local found = 0
  for _ in joined:gmatch("%d+:xxx,") do found = found + 1 end
  return found
end

result = numeric(6000000) + tables(150000) + strings(200000)
