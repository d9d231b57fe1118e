// Reduction of an angle in degrees before sine, cosine and tangent, so that
// exact multiples (sine 180, tangent 225) give exact results.
#pragma once

namespace kel::runtime {

// Modes: 2 sine, 1 cosine, 0 tangent. Returns the reduced angle in radians.
double normalize_angle(double degrees, int mode);

}  // namespace kel::runtime
