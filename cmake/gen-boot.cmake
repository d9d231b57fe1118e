# The boot library's manifest: every Kel source of the boot image, in evaluation order (the
# start-up sections). kel-mkboot turns them into the boot image (cmake/boot-image.cmake);
# boot_manifest.h numbers the modules for the start-up steps the runtime runs between them.
set(KEL_BOOT_MODULES
  # native and action specs: definitions the image binds before any module runs
  boot/natives.kel
  boot/actions.kel
  # constants, typesets (the registry's routines are bound after them), colours
  boot/constants.kel
  boot/typesets.kel
  boot/colours.kel
  # `routine` and the first helpers, then the other library functions
  boot/helpers.kel
  boot/series.kel
  boot/conversions.kel
  boot/files.kel
  boot/math.kel
  boot/load-save.kel
  boot/scripts.kel
  # `system`, the operators (five more are made right after them), reactivity
  boot/system.kel
  boot/operators.kel
  boot/reactivity.kel
  # schemes and URL parser, preprocessor, tools, JSON, CSV, codec registration
  boot/schemes.kel
  boot/preprocessor.kel
  boot/debugger.kel
  boot/tracer.kel
  boot/profiler.kel
  boot/json.kel
  boot/csv.kel
  boot/codecs.kel
  # event! is registered here; the GUI objects, then the GUI words, the backend's init and
  # the Draw keywords, then the user-level GUI functions and the colour requester
  gui/faces.kel
  gui/view.kel
  gui/vid.kel
  gui/backend.kel
  gui/functions.kel
  gui/events.kel
  gui/request-color.kel
  # the console library; the runtime calls cli-console-ctx/launch last
  console/ask.kel
  console/complete.kel
  console/help.kel
  console/console.kel
  console/shell.kel)

set(KEL_BOOT_TEXT_SRC "")
set(manifest_entries "")
set(manifest_files "")
set(index 0)
foreach(module ${KEL_BOOT_MODULES})
  list(APPEND KEL_BOOT_TEXT_SRC ${CMAKE_SOURCE_DIR}/${module})
  string(REGEX REPLACE "\\.kel$" "" name "${module}")
  string(REGEX REPLACE "[/-]" "_" name "${name}")
  string(APPEND manifest_entries "  ${name} = ${index},\n")
  string(APPEND manifest_files "    \"${module}\",\n")
  math(EXPR index "${index} + 1")
endforeach()
file(CONFIGURE OUTPUT ${KEL_GEN_DIR}/boot_manifest.h CONTENT
"// Generated from cmake/gen-boot.cmake: the boot modules by position in the image.
#pragma once
#include <cstdint>

namespace kel::boot_manifest {
enum Module : uint32_t {
${manifest_entries}  module_count = ${index}
};
inline constexpr const char* module_files[module_count] = {
${manifest_files}};
}  // namespace kel::boot_manifest
" @ONLY)
