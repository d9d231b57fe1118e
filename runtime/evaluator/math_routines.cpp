// The math helpers' routines: radian trigonometry and sqrt over the math natives, and the
// local zone in effect at a date's instant for to-local-date.
#include "runtime/evaluator/math_routines.h"

#include <cmath>

#include "runtime/cell_api.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/time.h"
#include "runtime/evaluator/natives_math.h"
#include "runtime/platform.h"
#include "runtime/stack.h"

namespace kel::math_routines {

namespace {

// The natives' radians refinement given (any index at or above 0 means it is set). The
// routine's own spec has checked the argument types; the natives do not check again.
constexpr int32_t kRadians[1] = {0};
constexpr int32_t kNoRefinement[1] = {-1};

void cos_routine() { natives::cosine(0, kRadians); }
void sin_routine() { natives::sine(0, kRadians); }
void tan_routine() { natives::tangent(0, kRadians); }
void acos_routine() { natives::arccosine(0, kRadians); }
void asin_routine() { natives::arcsine(0, kRadians); }
void atan_routine() { natives::arctangent(0, kRadians); }
void atan2_routine() { natives::arctangent2(0, kRadians); }
void sqrt_routine() { natives::square_root(0, kNoRefinement); }

// The offset of the local zone at the date's instant, cut to quarter hours as `now/zone`
// cuts it (a date far from today may lie on the other side of a daylight-saving change).
void local_zone_routine() {
  const Cell* d = stack::state().base;
  int64_t days = date::day_number_of(d->w1) - date::to_day_number(1970, 1, 1);
  double seconds = std::floor(date::seconds_of(d));
  int64_t instant = days * 86400 + int64_t(std::isfinite(seconds) ? seconds : 0.0);
  long offset = platform::zone_offset_at(instant);
  Cell r{T_NONE, 0, 0, 0};
  time::init_cell(&r, double(date::zone_offset(platform::zone_bits(offset))));
  stack::set_only_result(&r);
}

const routine::Entry kRoutines[] = {
    {"cos", "\"Returns the trigonometric cosine\" angle [float!] \"Angle in radians\" "
            "return: [float!]",
     cos_routine, T_FLOAT},
    {"sin", "\"Returns the trigonometric sine\" angle [float!] return: [float!]", sin_routine,
     T_FLOAT},
    {"tan", "\"Returns the trigonometric tangent\" angle [float!] return: [float!]", tan_routine,
     T_FLOAT},
    {"acos",
     "\"Returns the trigonometric arccosine in radians in range [0,pi]\" cosine [float!] "
     "\"in range [-1,1]\" return: [float!]",
     acos_routine, T_FLOAT},
    {"asin",
     "\"Returns the trigonometric arcsine in radians in range [-pi/2,pi/2])\" sine [float!] "
     "\"in range [-1,1]\" return: [float!]",
     asin_routine, T_FLOAT},
    {"atan",
     "\"Returns the trigonometric arctangent in radians in range [-pi/2,+pi/2]\" "
     "tangent [float!] \"in range [-inf,+inf]\" return: [float!]",
     atan_routine, T_FLOAT},
    {"atan2",
     "\"Returns the smallest angle between the vectors (1,0) and (x,y) in range (-pi,pi]\" "
     "y [float! integer!] x [float! integer!] return: [float!]",
     atan2_routine, T_FLOAT},
    {"sqrt",
     "\"Returns the square root of a number\" number [float! integer! percent!] "
     "return: [float!]",
     sqrt_routine, T_FLOAT},
    {"_local-zone", "date [date!] return: [time!]", local_zone_routine, T_TIME},
};

}  // namespace

void register_routines() {
  static bool done = false;
  if (done) return;
  done = true;
  for (const routine::Entry& e : kRoutines) routine::register_routine(e);
}

}  // namespace kel::math_routines
