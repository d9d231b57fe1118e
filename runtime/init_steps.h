// Entry points that runtime initialisation calls in units not built yet. Each is a no-op stub
// in runtime/init_steps.cpp; see that file for how a unit takes its stubs over.
#pragma once
#include <cstdint>
