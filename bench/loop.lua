-- Twin of loop.kel: a counting loop of ten million steps.
local i = 0
for _ = 1, 10000000 do i = i + 1 end
print(i)
