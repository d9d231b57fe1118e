// The math helpers' routines: radian trigonometry and sqrt over the math natives, and the
// local zone in effect at a date's instant for to-local-date.
#pragma once

namespace kel::math_routines {

// Start-up: adds cos ... atan2, sqrt and to-local-date's zone routine to the registry.
void register_routines();

}  // namespace kel::math_routines
