// Reduction of an angle in degrees by the symmetry of sine, cosine or tangent,
// then conversion to radians.
#include "runtime/angle.h"

#include <cmath>

namespace kel::runtime {

double normalize_angle(double degrees, int mode) {
  double a = std::fmod(degrees, 360.0);  // sign follows the angle; NaN for infinities
  if (a > 180.0 || a < -180.0) a = a >= 0.0 ? a - 360.0 : a + 360.0;
  if (a > 90.0 || a < -90.0) {
    if (mode == 0) a = a >= 0.0 ? a - 180.0 : a + 180.0;
    else if (mode == 2) a = a >= 0.0 ? 180.0 - a : -180.0 - a;
  }
  return a * 3.141592653589793 / 180.0;
}

}  // namespace kel::runtime
