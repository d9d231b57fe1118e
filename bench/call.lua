-- Twin of call.kel: a million calls of a one-argument function.
local function f(x) return x end
for _ = 1, 1000000 do f(1) end
