// date!: calendar dates with an optional time of day and zone (packed word plus universal
// seconds), the day-number calendar, fields, setters, arithmetic, make/to, text and compare.
#include "runtime/datatypes/date.h"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/cell_api.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/locale.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/string.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/evaluator/lexer_load.h"
#include "runtime/random.h"
#include "runtime/stack.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace kel::date {

namespace {

constexpr double DAY = 86400.0;

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

int32_t year_of(uint32_t p) { return int32_t(p) >> 17; }
int32_t month_of(uint32_t p) { return int32_t((p >> 12) & 15); }
int32_t day_of(uint32_t p) { return int32_t((p >> 7) & 31); }
bool has_time(uint32_t p) { return (p & TIME_FLAG) != 0; }

Cell word_cell(const char* name) {
  return Cell{T_WORD, 0, uint32_t(symbol::intern_c_text(name)), 0xFFFFFFFF};
}
Cell datatype_cell(uint32_t t) { return Cell{T_DATATYPE, t, 0, 0}; }

[[noreturn]] void raise_limit() {
  Cell w = word_cell("date!");
  error::raise(err::script::type_limit, &w);
}
[[noreturn]] void raise_bad_to(const Cell* spec) {
  Cell w = word_cell("date!");
  error::raise(err::script::bad_to_arg, &w, spec);
}
[[noreturn]] void raise_invalid_arg(const Cell* value) {
  error::raise(err::script::invalid_arg, value);
}

int64_t jan_first(uint32_t p) { return to_day_number(year_of(p), 1, 1); }

uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool time) {
  if (year < -16384 || year > 16383) raise_limit();
  return (uint32_t(year) << 17) | (time ? TIME_FLAG : 0) | uint32_t(month) << 12 |
         uint32_t(day) << 7 | (time ? zone & ZONE_MASK : 0);
}

// Moves whole days between the seconds and the day number, so that the local time
// (seconds + offset) lies in [0, 86400).
int64_t carry_days(int64_t day_number, double* seconds, uint32_t zone) {
  double local = *seconds + zone_offset(zone);
  double m = std::floor(local / DAY);
  if (!std::isfinite(m) || std::fabs(m) > 1e8) raise_limit();
  *seconds -= m * DAY;
  return day_number + int64_t(m);
}

// The date rebuilt from a day number and universal seconds (zone and time flag kept).
void store(Cell* d, int64_t day_number, double seconds, uint32_t zone, bool time) {
  if (time) day_number = carry_days(day_number, &seconds, zone);
  else seconds = 0, zone = 0;
  d->header = T_DATE;
  d->w1 = from_day_number(day_number, zone, time);
  cell::put_double(d, seconds);
}

void normalize(Cell* d, double seconds, bool to_utc) {
  uint32_t p = d->w1;
  uint32_t zone = p & ZONE_MASK;
  if (to_utc) seconds -= zone_offset(zone);
  store(d, day_number_of(p), seconds, zone, true);
}

double local_seconds(const Cell* d) { return seconds_of(d) + zone_offset(d->w1 & ZONE_MASK); }

// Start of ISO week 1 of the year and the ISO weekday (1-7) of its 1 January.
int64_t iso_week_one(int32_t year, int32_t* weekday) {
  int64_t j = to_day_number(year, 1, 1);
  int64_t w = floor_mod(j + 2, 7);
  if (weekday) *weekday = int32_t(w) + 1;
  int64_t start = j - w;
  if (w >= 4) start += 7;
  return start;
}

int32_t iso_week(uint32_t p) {
  int32_t year = year_of(p);
  int64_t d = day_number_of(p);
  int32_t wd;
  int64_t s = iso_week_one(year, &wd);
  if (d < s) {
    if (wd == 5) return 53;
    if (wd == 6) return leap_year_q(year - 1) ? 53 : 52;
    return 52;
  }
  int64_t next = iso_week_one(year + 1, nullptr);
  if (d < next) return int32_t((d - s) / 7 + 1);
  return 1;
}

int32_t sunday_week(uint32_t p) {
  int64_t j = jan_first(p);
  int64_t e = floor_mod(j + 3, 7);
  int64_t yd = day_number_of(p) - j + 1;
  if (yd > 7 - e) return int32_t((yd + e - 1) / 7 + 1);
  return 1;
}

Cell time_cell(double seconds) {
  Cell t{T_TIME, 0, 0, 0};
  cell::put_double(&t, seconds);
  return t;
}

void field_value(const Cell* d, int32_t field, Cell* out) {
  uint32_t p = d->w1;
  double local = local_seconds(d);
  int64_t whole = int64_t(std::floor(local));
  switch (field) {
    case 1:
      *out = Cell{T_DATE, p & ~(TIME_FLAG | ZONE_MASK), 0, 0};
      return;
    case 2: cell::set_integer(out, year_of(p)); return;
    case 3: cell::set_integer(out, month_of(p)); return;
    case 4: cell::set_integer(out, day_of(p)); return;
    case 5: case 12:
      *out = has_time(p) ? time_cell(zone_offset(p & ZONE_MASK)) : Cell{T_NONE, 0, 0, 0};
      return;
    case 6:
      *out = has_time(p) ? time_cell(local) : Cell{T_NONE, 0, 0, 0};
      return;
    case 7: cell::set_integer(out, int32_t(whole / 3600)); return;
    case 8: cell::set_integer(out, int32_t(whole % 3600 / 60)); return;
    case 9: {
      Cell f{T_FLOAT, 0, 0, 0};
      cell::put_double(&f, std::fmod(local, 60.0));
      *out = f;
      return;
    }
    case 10: cell::set_integer(out, int32_t(floor_mod(day_number_of(p) + 2, 7)) + 1); return;
    case 11: cell::set_integer(out, int32_t(day_number_of(p) - jan_first(p) + 1)); return;
    case 13: cell::set_integer(out, sunday_week(p)); return;
    default: cell::set_integer(out, iso_week(p)); return;
  }
}

// Field number of a path element or pick index (integer 1-14 or field word), else 0.
int32_t selector_field(const Cell* e) {
  if (cell::type(e) == T_INTEGER) {
    int32_t i = cell::get_int(e);
    return i >= 1 && i <= 14 ? i : 0;
  }
  int32_t f = field_index(e);
  return f > 0 ? f : 0;
}

// Zone bits from a setter's value: integer hours, or a time!'s hours and minutes.
bool zone_from_value(const Cell* v, uint32_t* bits) {
  if (cell::type(v) == T_INTEGER) {
    int32_t n = cell::get_int(v);
    return zone_bits(n < 0, n < 0 ? -n : n, 0, bits);
  }
  if (cell::type(v) == T_TIME) {
    double s = cell::get_double(v);
    if (!std::isfinite(s) || std::fabs(s) >= DAY) return false;
    int64_t whole = int64_t(std::fabs(s));
    if (double(whole) != std::fabs(s) || whole % 60 != 0) return false;
    return zone_bits(s < 0, int32_t(whole / 3600), int32_t(whole % 3600 / 60), bits);
  }
  return false;
}

uint32_t set_month(uint32_t p, int64_t n) {
  int64_t year = year_of(p) + floor_div(n - 1, 12);
  int64_t month = floor_mod(n - 1, 12) + 1;
  if (year < -16384 || year > 16383) raise_limit();
  int64_t dn = to_day_number(int32_t(year), int32_t(month), 1) + day_of(p) - 1;
  return from_day_number(dn, p & ZONE_MASK, has_time(p));
}

void set_day_number(Cell* d, int64_t dn) {
  uint32_t p = d->w1;
  d->w1 = from_day_number(dn, p & ZONE_MASK, has_time(p));
}

int32_t integer_arg(const Cell* v) {
  if (cell::type(v) != T_INTEGER) raise_invalid_arg(v);
  return cell::get_int(v);
}

void set_field(Cell* d, int32_t field, const Cell* v) {
  uint32_t p = d->w1;
  uint32_t zone = p & ZONE_MASK;
  double secs = seconds_of(d);
  switch (field) {
    case 1: {
      if (cell::type(v) != T_DATE) raise_invalid_arg(v);
      uint32_t q = v->w1;
      d->w1 = pack(year_of(q), month_of(q), day_of(q), zone, has_time(p));
      return;
    }
    case 2: {
      int32_t y = integer_arg(v);
      if (y < -16384 || y > 16383) raise_limit();
      set_day_number(d, to_day_number(y, month_of(p), day_of(p)));
      return;
    }
    case 3: d->w1 = set_month(p, integer_arg(v)); return;
    case 4: set_day_number(d, to_day_number(year_of(p), month_of(p), 1) - 1 + integer_arg(v)); return;
    case 5: case 12: {
      uint32_t bits;
      if (!zone_from_value(v, &bits)) raise_invalid_arg(v);
      double local = has_time(p) ? secs + zone_offset(zone) : 0;
      if (field == 5) {
        store(d, day_number_of(p), local - zone_offset(bits), bits, true);
      } else {
        double utc = has_time(p) ? secs : 0;
        store(d, day_number_of(p), utc, bits, true);
      }
      return;
    }
    case 6:
      if (cell::type(v) == T_NONE) {
        store(d, day_number_of(p), 0, 0, false);
        return;
      }
      if (cell::type(v) != T_TIME) raise_invalid_arg(v);
      d->w1 = p | TIME_FLAG;
      normalize(d, cell::get_double(v), true);
      return;
    case 7: case 8: case 9: {
      uint32_t tv = cell::type(v);
      if (tv != T_INTEGER && !(field == 9 && tv == T_FLOAT)) raise_invalid_arg(v);
      double local = has_time(p) ? secs + zone_offset(zone) : 0;
      double h = std::floor(local / 3600), m = std::floor((local - h * 3600) / 60);
      double s = local - h * 3600 - m * 60;
      double n = tv == T_INTEGER ? double(cell::get_int(v)) : cell::get_double(v);
      if (field == 7) h = n;
      else if (field == 8) m = n;
      else s = n;
      d->w1 = p | TIME_FLAG;
      normalize(d, h * 3600 + m * 60 + s, true);
      return;
    }
    case 10: {
      int64_t dn = day_number_of(p);
      set_day_number(d, dn - floor_mod(dn + 2, 7) + integer_arg(v) - 1);
      return;
    }
    case 11: set_day_number(d, jan_first(p) + integer_arg(v) - 1); return;
    case 13: {
      int64_t n = integer_arg(v);
      int64_t j = jan_first(p);
      int64_t e = floor_mod(j + 3, 7);
      set_day_number(d, n > 1 ? j + 7 * n - e - 7 : j);
      return;
    }
    default:
      set_day_number(d, iso_week_one(year_of(p), nullptr) + 7 * int64_t(integer_arg(v)) - 7);
      return;
  }
}

// The text up to the time (day, month, year); the time and zone follow through the buffer.
std::string date_text(const Cell* d) {
  uint32_t p = d->w1;
  int32_t year = year_of(p);
  std::string s = std::to_string(day_of(p));
  char sep = year < 0 ? '/' : '-';
  s += sep;
  int32_t abbreviation[3];
  int32_t n = locale::month_abbreviation(month_of(p), abbreviation);
  for (int32_t i = 0; i < n; ++i) {
    uint8_t bytes[4];
    int32_t k = unicode::encode_utf8_char(abbreviation[i], bytes);
    s.append(reinterpret_cast<const char*>(bytes), size_t(k));
  }
  s += sep;
  if (year < 0) s += '-';
  int32_t a = year < 0 ? -year : year;
  std::string ys = std::to_string(a);
  if (a < 100) ys.insert(0, 4 - ys.size(), '0');
  s += ys;
  return s;
}

// "+hh:mm" or "-hh:mm"; nothing for zone 0.
std::string zone_text(uint32_t p) {
  std::string s;
  uint32_t zone = p & ZONE_MASK;
  if (!zone) return s;
  s += (zone & ZONE_SIGN) ? '-' : '+';
  int32_t h = int32_t((zone >> 2) & 15);
  if (h < 10) s += '0';
  s += std::to_string(h);
  s += ':';
  static const char* const quarters[4] = {"00", "15", "30", "45"};
  s += quarters[zone & 3];
  return s;
}

// The 14-state reader of make and to: values by class integer (0), time (1), float (2).
struct Spec {
  int32_t day = 0, month = 0, year = 0;
  double time = 0, second = 0;
  int32_t hour = 0, minute = 0;
  bool time_given = false, hour_given = false;
  int32_t zone_hours = 0, zone_minutes = 0;
  bool zone_negative = false, zone_given = false;
  int32_t count = 0;
};

void read_spec(Cell* spec, Spec* out) {
  struct Step { int8_t next; int8_t slot; };
  // Slots: 1 day, 2 month, 3 year, 4 hour, 5 time, 6 zone hours, 7 zone as time,
  // 8 zone minutes, 9 minute, 10 second.
  static const Step table[14][3] = {
      {{1, 1}, {-1, 0}, {-1, 0}},  {{2, 2}, {-1, 0}, {-1, 0}},  {{3, 3}, {-1, 0}, {-1, 0}},
      {{8, 4}, {4, 5}, {-1, 0}},   {{6, 6}, {5, 7}, {-1, 0}},   {{-1, 0}, {-1, 0}, {-1, 0}},
      {{7, 8}, {-1, 0}, {-1, 0}},  {{-1, 0}, {-1, 0}, {-1, 0}}, {{9, 9}, {-1, 0}, {-1, 0}},
      {{10, 10}, {-1, 0}, {10, 10}}, {{12, 6}, {11, 7}, {-1, 0}}, {{-1, 0}, {-1, 0}, {-1, 0}},
      {{13, 8}, {-1, 0}, {-1, 0}}, {{-1, 0}, {-1, 0}, {-1, 0}}};
  int32_t n = block::count_from_head(spec);
  int32_t state = 0;
  for (int32_t i = 0; i < n; ++i) {
    Cell v = *block::cell_at_index(spec, int32_t(spec->w1) + i);
    int32_t cls;
    switch (cell::type(&v)) {
      case T_INTEGER: cls = 0; break;
      case T_TIME: cls = 1; break;
      case T_FLOAT: cls = 2; break;
      default: raise_bad_to(spec);
    }
    Step s = table[state][cls];
    if (s.next < 0) raise_bad_to(spec);
    int32_t iv = cls == 0 ? cell::get_int(&v) : 0;
    double dv = cls == 0 ? double(iv) : cell::get_double(&v);
    switch (s.slot) {
      case 1: out->day = iv; break;
      case 2: out->month = iv; break;
      case 3: out->year = iv; break;
      case 4: out->hour = iv, out->hour_given = true; break;
      case 5: out->time = dv, out->time_given = true; break;
      case 6: out->zone_hours = iv, out->zone_negative = iv < 0, out->zone_given = true; break;
      case 7: {
        double a = std::fabs(dv);
        if (!std::isfinite(a) || a >= DAY) raise_bad_to(spec);
        out->zone_negative = dv < 0;
        out->zone_hours = int32_t(a / 3600);
        out->zone_minutes = int32_t(std::fmod(a, 3600) / 60);
        if (std::fmod(a, 60) != 0) raise_bad_to(spec);
        out->zone_given = true;
        break;
      }
      case 8: out->zone_minutes = iv; break;
      case 9: out->minute = iv; break;
      default: out->second = dv; break;
    }
    state = s.next;
    ++out->count;
  }
  if (out->count < 3) raise_bad_to(spec);
  if (state == 4 || state == 8) {
    // A time must be complete up to the minute when given as numbers.
    if (state == 8) raise_bad_to(spec);
  }
}

void from_block(Cell* out, Cell* spec, bool validate) {
  Spec s;
  read_spec(spec, &s);
  if (s.day > 99 && s.year < s.day) std::swap(s.day, s.year);
  uint32_t zone = 0;
  if (s.zone_given) {
    int32_t h = s.zone_hours < 0 ? -s.zone_hours : s.zone_hours;
    int32_t m = s.zone_minutes < 0 ? -s.zone_minutes : s.zone_minutes;
    if (!zone_bits(s.zone_negative || s.zone_minutes < 0, h, m, &zone)) raise_bad_to(spec);
  }
  double time = s.time_given ? s.time
                             : double(s.hour) * 3600 + double(s.minute) * 60 + s.second;
  if (validate) {
    bool ok = true;
    if (s.time_given) ok = s.time >= 0 && s.time < DAY;
    else if (s.hour_given)
      ok = s.hour >= 0 && s.hour < 24 && s.minute >= 0 && s.minute < 60 && s.second >= 0 &&
           s.second < 60;
    if (!ok) raise_bad_to(spec);
  }
  if (s.year < -16384 || s.year > 16383) {
    if (validate) raise_bad_to(spec);
    raise_limit();
  }
  uint32_t month_start = set_month(uint32_t(s.year) << 17 | 1u << 7, s.month);
  int64_t dn = day_number_of(month_start) - 1 + s.day;
  bool time_flag = s.count > 3;
  uint32_t p = from_day_number(dn, zone, time_flag);
  if (validate && (year_of(p) != s.year || month_of(p) != s.month || day_of(p) != s.day))
    raise_bad_to(spec);
  Cell d{T_DATE, p, 0, 0};
  if (time_flag) normalize(&d, time, true);
  *out = d;
}

// ---- The literal reader: the text is checked by the lexer beforehand ----

const char* const MONTH_NAMES[12] = {"january", "february", "march",     "april",
                                     "may",     "june",     "july",      "august",
                                     "september", "october", "november", "december"};

struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool at(uint8_t b) const { return p < end && *p == b; }
  int32_t digits(int32_t max, int32_t* value) {
    int32_t n = 0, v = 0;
    while (p < end && *p >= '0' && *p <= '9' && n < max) v = v * 10 + (*p++ - '0'), ++n;
    *value = v;
    return n;
  }
};

// Seconds with an optional fraction (ss[.fff]).
double read_seconds(Reader& r) {
  const uint8_t* start = r.p;
  int32_t v;
  r.digits(2, &v);
  if (r.at('.') || r.at(',')) {
    ++r.p;
    while (r.p < r.end && *r.p >= '0' && *r.p <= '9') ++r.p;
  }
  std::string text(reinterpret_cast<const char*>(start), size_t(r.p - start));
  for (char& c : text)
    if (c == ',') c = '.';
  return dtoa::text_to_float(text.data(), text.data() + text.size(), 0, nullptr);
}

// Z, or a signed zone of hours with optional ':' and minutes. False for minutes that are
// not quarters.
bool read_zone(Reader& r, uint32_t* zone) {
  *zone = 0;
  if (r.p >= r.end) return true;
  if (*r.p == 'Z' || *r.p == 'z') return true;
  bool negative = *r.p == '-';
  ++r.p;
  int32_t h = 0, m = 0;
  r.digits(2, &h);
  if (r.at(':')) ++r.p;
  r.digits(2, &m);
  return zone_bits(negative, h, m, zone);
}

bool read_time(Reader& r, double* seconds, uint32_t* zone) {
  int32_t h = 0, m = 0;
  r.digits(2, &h);
  if (r.at(':')) ++r.p;
  r.digits(2, &m);
  double s = 0;
  if (r.at(':')) {
    ++r.p;
    s = read_seconds(r);
  }
  *seconds = h * 3600.0 + m * 60.0 + s;
  return read_zone(r, zone);
}

}  // namespace

// ---- The calendar ----

bool leap_year_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int64_t to_day_number(int32_t year, int32_t month, int32_t day) {
  int64_t m = floor_mod(int64_t(month) + 9, 12);
  int64_t y = int64_t(year) + floor_div(int64_t(month) - 3, 12);
  return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) + (306 * m + 5) / 10 +
         (day - 1);
}

int64_t day_number_of(uint32_t p) { return to_day_number(year_of(p), month_of(p), day_of(p)); }

uint32_t from_day_number(int64_t g, uint32_t zone, bool time) {
  auto year_start = [](int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
  };
  int64_t y = int64_t(std::floor((10000.0 * double(g) + 14780.0) / 3652425.0));
  int64_t r = g - year_start(y);
  if (r < 0) {
    --y;
    r = g - year_start(y);
  }
  int64_t mi = (100 * r + 52) / 3060;
  int64_t month = (mi + 2) % 12 + 1;
  int64_t year = y + (mi + 2) / 12;
  int64_t day = r - (306 * mi + 5) / 10 + 1;
  if (year < -16384 || year > 16383) raise_limit();
  return pack(int32_t(year), int32_t(month), int32_t(day), zone, time);
}

int32_t zone_offset(uint32_t zone) {
  int32_t s = int32_t((zone >> 2) & 15) * 3600 + int32_t(zone & 3) * 900;
  return (zone & ZONE_SIGN) ? -s : s;
}

bool zone_bits(bool negative, int32_t hours, int32_t minutes, uint32_t* bits) {
  if (hours < 0 || hours > 15 || minutes < 0 || minutes >= 60 || minutes % 15 != 0) return false;
  uint32_t b = uint32_t(hours) << 2 | uint32_t(minutes / 15);
  *bits = b && negative ? b | ZONE_SIGN : b;
  return true;
}

// ---- Cells ----

void init_cell(Cell* cell, int32_t year, int32_t month, int32_t day, double seconds,
               uint32_t zone, bool time) {
  *cell = Cell{T_DATE, pack(year, month, day, zone, time), 0, 0};
  cell::put_double(cell, time ? seconds - zone_offset(zone) : 0.0);
}

void init_cell_from_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                        int32_t minute, int32_t second, int32_t nanoseconds) {
  init_cell(cell, year, month, day,
            hour * 3600.0 + minute * 60.0 + second + nanoseconds * 1e-9, 0, true);
}

bool valid_q(uint32_t p, double seconds) {
  static const int32_t days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int32_t m = month_of(p), d = day_of(p);
  if (m < 1 || m > 12 || d < 1 || d > days[m - 1]) return false;
  if (m == 2 && d == 29 && !leap_year_q(year_of(p))) return false;
  if (!has_time(p)) return (p & ZONE_MASK) == 0 && seconds == 0.0;
  double local = seconds + zone_offset(p & ZONE_MASK);
  return std::isfinite(seconds) && local >= 0 && local < DAY;
}

Cell* push_new(uint32_t packed, double seconds) {
  if (!valid_q(packed, seconds)) return nullptr;
  Cell d{T_DATE, packed, 0, 0};
  cell::put_double(&d, seconds);
  return stack::push_copy(&d);
}

Cell* add_to_block(Cell* block, uint32_t packed, double seconds) {
  if (!valid_q(packed, seconds)) return nullptr;
  Cell d{T_DATE, packed, 0, 0};
  cell::put_double(&d, seconds);
  return block::append_copy(block, &d);
}

double seconds_of(const Cell* d) { return cell::get_double(d); }

int32_t seconds_since_1970(const Cell* d) {
  int64_t days = day_number_of(d->w1) - to_day_number(1970, 1, 1);
  double s = std::floor(seconds_of(d) + 0.5);
  double total = double(days) * DAY + s;
  if (!(total >= -2147483648.0 && total <= 2147483647.0)) {
    Cell w = word_cell("integer!");
    error::raise(err::script::type_limit, &w);
  }
  return int32_t(total);
}

void time_between(Cell* a, const Cell* b) {
  double days = double(day_number_of(a->w1) - day_number_of(b->w1));
  Cell t = time_cell(days * DAY + (seconds_of(a) - seconds_of(b)));
  *a = t;
}

int32_t field_index(const Cell* word) {
  uint32_t t = cell::type(word);
  if (t < T_WORD || t > T_REFINEMENT) return -1;
  using runtime::runtime_word_index;
  using runtime::WordKind;
  // Field words in field order; julian names field 11 as yearday does.
  static constexpr size_t words[] = {
      runtime_word_index("date", WordKind::SYMBOL),     runtime_word_index("year", WordKind::SYMBOL),
      runtime_word_index("month", WordKind::SYMBOL),    runtime_word_index("day", WordKind::SYMBOL),
      runtime_word_index("zone", WordKind::SYMBOL),     runtime_word_index("time", WordKind::SYMBOL),
      runtime_word_index("hour", WordKind::SYMBOL),     runtime_word_index("minute", WordKind::SYMBOL),
      runtime_word_index("second", WordKind::SYMBOL),   runtime_word_index("weekday", WordKind::SYMBOL),
      runtime_word_index("yearday", WordKind::SYMBOL),  runtime_word_index("timezone", WordKind::SYMBOL),
      runtime_word_index("week", WordKind::SYMBOL),     runtime_word_index("isoweek", WordKind::SYMBOL),
      runtime_word_index("julian", WordKind::SYMBOL)};
  int32_t id = symbol::canonical_id(int32_t(word->w2));
  for (int32_t i = 0; i < 15; ++i)
    if (symbol::canonical_id(symbol::runtime_id(words[i])) == id) return i < 14 ? i + 1 : 11;
  return -1;
}

// ---- Arithmetic ----

namespace {

Cell* math(bool subtract) {
  Cell* a = stack::state().base;
  Cell* b = a + 1;
  uint32_t p = a->w1;
  int64_t dn = day_number_of(p);
  double secs = seconds_of(a);
  bool time = has_time(p);
  uint32_t zone = p & ZONE_MASK;
  switch (cell::type(b)) {
    case T_INTEGER: {
      int64_t n = cell::get_int(b);
      dn += subtract ? -n : n;
      break;
    }
    case T_TIME: {
      double t = cell::get_double(b);
      secs += subtract ? -t : t;
      time = true;
      break;
    }
    case T_DATE: {
      if (!subtract) {
        Cell w = word_cell("add");
        Cell d = word_cell("date!");
        error::raise(err::script::not_related, &w, &d);
      }
      int64_t days = dn - day_number_of(b->w1);
      double diff = secs - seconds_of(b);
      days = carry_days(days, &diff, zone);
      if (days < INT32_MIN || days > INT32_MAX) raise_limit();
      cell::set_integer(a, int32_t(days));
      return a;
    }
    default: {
      Cell d = datatype_cell(cell::type(b));
      error::raise(err::script::invalid_type, &d);
    }
  }
  if (dn < -7000000 || dn > 7000000) raise_limit();
  store(a, dn, secs, zone, time);
  return a;
}

}  // namespace

Cell* add() { return math(false); }
Cell* subtract() { return math(true); }

Cell* add_number_first() {
  Cell* a = stack::state().base;
  std::swap(a[0], a[1]);
  return add();
}

// ---- Slots ----

Cell* to(Cell* proto, Cell* spec, uint32_t) {
  switch (cell::type(spec)) {
    case T_DATE: return spec;
    case T_BLOCK: case T_PAREN: case T_HASH: from_block(proto, spec, false); return proto;
    case T_INTEGER: {
      int64_t n = cell::get_int(spec);
      Cell d{T_DATE, 0, 0, 0};
      store(&d, to_day_number(1970, 1, 1) + floor_div(n, 86400), double(floor_mod(n, 86400)), 0,
            true);
      *proto = d;
      return proto;
    }
    default: raise_bad_to(spec);
  }
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
  switch (cell::type(spec)) {
    case T_DATE: return spec;
    case T_BLOCK: case T_PAREN: case T_HASH: from_block(proto, spec, true); return proto;
    default: return to(proto, spec, type);
  }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
  uint32_t p = value->w1;
  if (seed) {
    random::seed(int32_t(p + uint32_t(int64_t(std::trunc(seconds_of(value))))));
    cell::set_unset(value);
    return value;
  }
  int64_t dn = day_number_of(p);
  int32_t n = dn > INT32_MAX ? INT32_MAX : dn < INT32_MIN ? INT32_MIN : int32_t(dn);
  int64_t r = random::pick_1_to_n(secure, n) - 1;
  uint32_t zone = p & ZONE_MASK;
  if (!has_time(p)) {
    store(value, r, 0, 0, false);
    return value;
  }
  uint32_t bits = uint32_t(secure ? random::secure_31() : random::next_word()) & ZONE_MASK;
  if (((bits >> 2) & 15) == 0 && (bits & 3) == 0) bits = 0;
  zone = bits;
  double h;
  if (secure) {
    double first = random::secure_31(), second = random::secure_31();
    h = (second + first / 2147483647.0) / (2147483648.0 / 3600.0);
  } else {
    h = double(uint32_t(random::next_word()) & 0x7FFFFFFF) / 2147483647.0 * 3600.0;
  }
  double secs = 24 * std::floor(h);
  value->w1 = from_day_number(r, zone, true);
  normalize(value, secs, true);
  return value;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t limit, int32_t) {
  std::string s = date_text(value);
  if (!has_time(value->w1)) {
    string::add_c_text(buffer, s.c_str());
    return limit - int32_t(s.size());
  }
  s += '/';
  string::add_c_text(buffer, s.c_str());
  limit = time::write_text(local_seconds(value), buffer, limit - int32_t(s.size()));
  std::string z = zone_text(value->w1);
  string::add_c_text(buffer, z.c_str());
  return limit - int32_t(z.size());
}

int32_t form(Cell* value, Cell* buffer, Cell* part, int32_t limit) {
  return mold(value, buffer, false, false, false, part, limit, 0);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
  if (cell::type(b) != T_DATE) return -2;
  int64_t days = day_number_of(a->w1) - day_number_of(b->w1);
  double sa = seconds_of(a), sb = seconds_of(b);
  if (op == 9) {
    bool same = (a->w1 >> 7 & ~(TIME_FLAG >> 7)) == (b->w1 >> 7 & ~(TIME_FLAG >> 7)) &&
                a->w2 == b->w2 && a->w3 == b->w3;
    return same ? 0 : 1;
  }
  // One instant: the day difference folded into a's seconds.
  double x = sa + double(days) * DAY;
  bool equal = float_::equal_double_q(x, sb);
  if (op <= 2 || op == 12) return equal ? 0 : 1;
  if (equal) return 0;
  return x < sb ? -1 : 1;
}

Cell* pick(Cell* value, int32_t, Cell* index_cell) {
  int32_t f = selector_field(index_cell);
  if (!f) error::raise(err::script::out_of_range, index_cell);
  Cell out;
  field_value(value, f, &out);
  *value = out;
  return value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t,
                bool, bool, bool, bool) {
  int32_t f = selector_field(element);
  if (!f) error::raise(err::script::invalid_path, path, element);
  if (value) {
    set_field(parent, f, value);
    return value;
  }
  Cell out;
  field_value(parent, f, &out);
  return stack::push_copy(&out);
}

void install_type() {
  datatype::register_type(
      {.id = T_DATE, .parent = 0, .name = "date!",
       .slots = {.make = make, .random = random, .to = to, .form = form, .mold = mold,
                 .eval_path = eval_path, .compare = compare, .add = add,
                 .subtract = subtract, .pick = pick}});
}

}  // namespace kel::date

namespace kel::lexer::hook {

void load_date(Cell* out, const uint8_t* text, int32_t length) {
  using namespace kel::date;
  Reader r{text, text + length};
  int32_t year = 0, month = 0, day = 0;
  double seconds = 0;
  uint32_t zone = 0;
  bool time = false, ok = true;
  if (length >= 13 && text[8] == 'T') {
    r.digits(4, &year);
    r.digits(2, &month);
    r.digits(2, &day);
    ++r.p;
    int32_t h, m;
    r.digits(2, &h);
    r.digits(2, &m);
    double s = 0;
    if (r.p < r.end && *r.p >= '0' && *r.p <= '9') s = read_seconds(r);
    seconds = h * 3600.0 + m * 60.0 + s;
    time = true;
    ok = read_zone(r, &zone);
  } else {
    bool negative_first = r.at('-');
    if (negative_first) ++r.p;
    int32_t first;
    int32_t first_digits = r.digits(5, &first);
    uint8_t sep = *r.p++;
    int32_t last = 0;
    bool negative_last = false;
    int32_t last_digits = 0;
    if (sep == '-' && (r.at('W') || r.at('w'))) {
      ++r.p;
      int32_t w, wd = 1;
      r.digits(2, &w);
      if (r.at('-')) {
        ++r.p;
        r.digits(1, &wd);
      }
      year = negative_first ? -first : first;
      int64_t dn = to_day_number(year, 1, 1);
      int64_t j = floor_mod(dn + 2, 7);
      int64_t start = dn - j + (j >= 4 ? 7 : 0);
      uint32_t p = from_day_number(start + 7 * (w - 1) + wd - 1, 0, false);
      year = year_of(p), month = month_of(p), day = day_of(p);
    } else {
      const uint8_t* mstart = r.p;
      int32_t mdigits = r.digits(3, &month);
      if (mdigits == 3) {
        year = negative_first ? -first : first;
        uint32_t p = from_day_number(to_day_number(year, 1, 1) + month - 1, 0, false);
        year = year_of(p), month = month_of(p), day = day_of(p);
      } else {
        if (mdigits == 0) {
          while (r.p < r.end && ((*r.p | 0x20) >= 'a' && (*r.p | 0x20) <= 'z')) ++r.p;
          int32_t n = int32_t(r.p - mstart);
          for (int32_t m = 0; m < 12 && month == 0; ++m) {
            bool match = int32_t(std::strlen(MONTH_NAMES[m])) >= n;
            for (int32_t i = 0; i < n && match; ++i)
              match = (mstart[i] | 0x20) == uint8_t(MONTH_NAMES[m][i]);
            if (match) month = m + 1;
          }
        }
        ++r.p;  // the second separator
        negative_last = r.at('-');
        if (negative_last) ++r.p;
        last_digits = r.digits(5, &last);
        if (first_digits >= 3 && !negative_last && last <= 31) {
          year = negative_first ? -first : first;
          day = last;
        } else {
          day = first;
          year = negative_last ? -last : last;
          if (!negative_last && last_digits <= 2) year = last < 50 ? 2000 + last : 1900 + last;
        }
      }
    }
    if (r.at('/') || r.at('T')) {
      ++r.p;
      time = true;
      ok = read_time(r, &seconds, &zone);
    }
  }
  if (!ok || month < 1 || month > 12 || day < 1) {
    Cell d{T_DATATYPE, T_DATE, 0, 0};
    error::raise(err::syntax::invalid, &d);
  }
  init_cell(out, year, month, day, seconds, zone, time);
}

}  // namespace kel::lexer::hook
