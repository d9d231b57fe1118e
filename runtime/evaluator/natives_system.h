// The system and conversion natives: memory (stats, recycle), time (now, wait), the host
// (environment, call, size?, browse, to-local-file), case, value builders, line markers and
// transcode over the lexer's drivers.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/natives.h"

namespace kel::natives {

void stats(int32_t check, const int32_t* refs);
void uppercase(int32_t check, const int32_t* refs);
void lowercase(int32_t check, const int32_t* refs);
void as_pair(int32_t check, const int32_t* refs);
void as_point2D(int32_t check, const int32_t* refs);
void as_point3D(int32_t check, const int32_t* refs);
void as_money(int32_t check, const int32_t* refs);
void to_local_file(int32_t check, const int32_t* refs);
void wait(int32_t check, const int32_t* refs);
void new_line(int32_t check, const int32_t* refs);
void new_line_q(int32_t check, const int32_t* refs);
void set_env(int32_t check, const int32_t* refs);
void get_env(int32_t check, const int32_t* refs);
void list_env(int32_t check, const int32_t* refs);
void now(int32_t check, const int32_t* refs);
void as(int32_t check, const int32_t* refs);
void call(int32_t check, const int32_t* refs);
void size_q(int32_t check, const int32_t* refs);
void browse(int32_t check, const int32_t* refs);
void recycle(int32_t check, const int32_t* refs);
void transcode(int32_t check, const int32_t* refs);

// Puts the natives of this unit into the entries being built (index = id - 1).
constexpr void install_system(NativeFn* entries) {
  entries[37 - 1] = &stats;
  entries[71 - 1] = &uppercase;
  entries[72 - 1] = &lowercase;
  entries[73 - 1] = &as_pair;
  entries[74 - 1] = &as_point2D;
  entries[75 - 1] = &as_point3D;
  entries[76 - 1] = &as_money;
  entries[85 - 1] = &to_local_file;
  entries[86 - 1] = &wait;
  entries[89 - 1] = &new_line;
  entries[90 - 1] = &new_line_q;
  entries[93 - 1] = &set_env;
  entries[94 - 1] = &get_env;
  entries[95 - 1] = &list_env;
  entries[96 - 1] = &now;
  entries[98 - 1] = &as;
  entries[99 - 1] = &call;
  entries[101 - 1] = &size_q;
  entries[102 - 1] = &browse;
  entries[105 - 1] = &recycle;
  entries[106 - 1] = &transcode;
}

}  // namespace kel::natives
