# Test wiring beyond the globs: probe paths for the unit tests, the case-file driver and the
# case files themselves.
if(TARGET kel_unit)
  target_compile_definitions(kel_unit PRIVATE KEL_PROBE_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  target_include_directories(kel_unit PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/unit)
  foreach(src ${KEL_PROBE_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_dependencies(kel_unit probe-${name})
  endforeach()
  add_dependencies(kel_unit kel)
endif()

# Case files: the reader and runner, the driver program, one ctest per file.
add_library(kel_case_file STATIC ${CMAKE_CURRENT_SOURCE_DIR}/driver/case_file.cpp
                                 ${CMAKE_CURRENT_SOURCE_DIR}/driver/case_evaluator.cpp
                                 ${CMAKE_CURRENT_SOURCE_DIR}/driver/http_fixture.cpp)
target_include_directories(kel_case_file PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/driver)
target_link_libraries(kel_case_file PUBLIC kelrt)
add_executable(kel_cases ${CMAKE_CURRENT_SOURCE_DIR}/driver/case_driver.cpp)
target_link_libraries(kel_cases PRIVATE kel_case_file)
target_compile_definitions(kel_cases PRIVATE
  KEL_HTTP_FIXTURE="${CMAKE_CURRENT_SOURCE_DIR}/http/server.py")
if(TARGET kel_unit)
  target_link_libraries(kel_unit PRIVATE kel_case_file)
endif()

file(GLOB KEL_CASE_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cases/*.kel)
foreach(case_file ${KEL_CASE_FILES})
  get_filename_component(name ${case_file} NAME_WE)
  set(args "")
  if(name MATCHES "^driver-selftest")
    set(args --evaluator=fake)
  elseif(name MATCHES "^io-")
    set(args --scratch)  # cases that touch files run in a directory of their own
  endif()
  set(runner "")
  if(name STREQUAL "clipboard")
    # The process's own clipboard: no display of either kind.
    set(runner ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY)
  elseif(name STREQUAL "clipboard-wayland")
    # Stand-ins of wl-copy and wl-paste first on PATH, their store in the build folder.
    set(runner ${CMAKE_COMMAND} -E env --unset=DISPLAY WAYLAND_DISPLAY=kel-stand-in
        KEL_STANDIN_CLIPBOARD=${CMAKE_CURRENT_BINARY_DIR}/standin-clipboard
        "PATH=${CMAKE_CURRENT_SOURCE_DIR}/clipboard:$ENV{PATH}")
  endif()
  add_test(NAME case-${name} COMMAND ${runner} $<TARGET_FILE:kel_cases> ${args} ${case_file})
  set_tests_properties(case-${name} PROPERTIES LABELS "stress" TIMEOUT 900)
  # Once more with the interpreter's short paths off: the full calls give the same answers.
  # Not recursion-depth: its depths are the short paths' (the full calls open more records
  # a level, so the frame stack ends them sooner).
  if(NOT name MATCHES "^(driver-selftest|clipboard|recursion-depth)")
    add_test(NAME case-${name}-no-fast-paths
             COMMAND ${CMAKE_COMMAND} -E env KEL_NO_FAST_PATHS=1 $<TARGET_FILE:kel_cases> ${args} ${case_file})
    set_tests_properties(case-${name}-no-fast-paths PROPERTIES LABELS "no-fast-paths" TIMEOUT 900)
  endif()
endforeach()

# Image files against ImageMagick, and the X11 clipboard under an Xvfb the test starts: each
# skipped (77, with a message) when its tools are missing.
add_test(NAME image-interop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/image/interop.sh $<TARGET_FILE:kel>)
add_test(NAME clipboard-x11 COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/clipboard/x11_clipboard.sh $<TARGET_FILE:kel>)
set_tests_properties(image-interop clipboard-x11 PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
# Decompression bombs and an endless HTTP body against memory bounds (skipped without zstd).
add_test(NAME outside-data-limits COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/limits/outside_data.sh $<TARGET_FILE:kel>)
set_tests_properties(outside-data-limits PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

# The driver must fail, and say where, on a wrong expectation and on an unsplittable line.
set(fixtures ${CMAKE_CURRENT_SOURCE_DIR}/driver/fixtures)
add_test(NAME driver-reports-mismatch COMMAND kel_cases --evaluator=fake ${fixtures}/mismatch.kel)
set_tests_properties(driver-reports-mismatch PROPERTIES PASS_REGULAR_EXPRESSION
  "mismatch.kel:3: 1 \\+ 1\n    expected: 3\n    got:      2\n.*2 cases, 1 failed")
add_test(NAME driver-rejects-unsplittable COMMAND kel_cases --evaluator=fake ${fixtures}/unsplittable.kel)
set_tests_properties(driver-rejects-unsplittable PROPERTIES PASS_REGULAR_EXPRESSION
  "unsplittable.kel:2: not a case.*1 cases, 1 failed")
add_test(NAME driver-fails-without-evaluator COMMAND kel_cases ${fixtures}/mismatch.kel)
set_tests_properties(driver-fails-without-evaluator PROPERTIES WILL_FAIL TRUE)

# Escape sequences on a real terminal (tmux): skipped when tmux is missing.
add_test(NAME tmux-color COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_color.sh $<TARGET_FILE:probe-startup>)
set_tests_properties(tmux-color PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
# The line editor's keys, history, wrapping and modes on a real terminal (tmux).
add_test(NAME tmux-editor COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_editor.sh $<TARGET_FILE:kel>
         ${CMAKE_CURRENT_SOURCE_DIR}/probes/editor_harness.kel)
set_tests_properties(tmux-editor PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# The console's loop as a user sees it on a real terminal (tmux).
add_test(NAME tmux-console COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_console.sh $<TARGET_FILE:kel>)
set_tests_properties(tmux-console PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# The debugger's prompt and the history after a debug run (tmux).
add_test(NAME tmux-debugger COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_debugger.sh $<TARGET_FILE:kel>)
set_tests_properties(tmux-debugger PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# Tab completion and help at the console on a real terminal (tmux).
add_test(NAME tmux-complete COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_complete.sh $<TARGET_FILE:kel>)
set_tests_properties(tmux-complete PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# The GUI backend's terminal layer: size, resize during a wait, Ctrl-C, restores on every exit.
add_test(NAME tmux-gui-terminal COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_gui_terminal.sh
         $<TARGET_FILE:probe-gui_terminal>)
set_tests_properties(tmux-gui-terminal PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# Widget kinds made through system/view/platform, typed at in a real terminal (tmux).
add_test(NAME tmux-gui-widgets COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_gui_widgets.sh
         $<TARGET_FILE:kel> ${CMAKE_CURRENT_SOURCE_DIR}/probes/gui_widgets.kel)
set_tests_properties(tmux-gui-widgets PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)

# A VID window in a real terminal: its texts, and `view` returning when a timer closes it.
add_test(NAME tmux-vid COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_vid.sh $<TARGET_FILE:kel>)
set_tests_properties(tmux-vid PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)

# JSON and CSV against python3's json and csv modules: the corpus and seeded random documents,
# also under the collector stress (skipped without python3).
add_test(NAME json-csv-interop
  COMMAND sh -c "command -v python3 >/dev/null || exit 77; exec python3 \"$0\" \"$1\" \"$2\""
          ${CMAKE_CURRENT_SOURCE_DIR}/json-csv/interop.py $<TARGET_FILE:kel> ${CMAKE_CURRENT_BINARY_DIR}/json-csv)
set_tests_properties(json-csv-interop PROPERTIES LABELS "stress" SKIP_RETURN_CODE 77 TIMEOUT 300)

# Fuzz drivers of the decoders of outside bytes: each runs briefly in CI (--seconds).
file(GLOB KEL_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*.cpp)
foreach(src ${KEL_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(fuzz-${name} ${src})
  target_link_libraries(fuzz-${name} PRIVATE kelrt)
  # The KELBIN decoder reads whole files from outside: it gets the longer run.
  set(seconds 2)
  if(name STREQUAL "kelbin_decode")
    set(seconds 60)
  endif()
  add_test(NAME fuzz-${name} COMMAND fuzz-${name} --seconds ${seconds})
  set_tests_properties(fuzz-${name} PROPERTIES TIMEOUT 120)
endforeach()

# The boot image: the probe compares its modules with the manifest's text loads; kel-mkboot
# gives the same bytes on every run, under the collector stress too, and `kel` holds none of
# the boot sources' text.
string(REPLACE ";" "|" boot_sources "${KEL_BOOT_TEXT_SRC}")
target_compile_definitions(probe-kelbin PRIVATE KEL_BOOT_SOURCES="${boot_sources}")
add_test(NAME boot-image-reproducible
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/boot_image.sh $<TARGET_FILE:kel-mkboot> $<TARGET_FILE:kel>
          ${KEL_GEN_DIR}/boot_image.bin ${CMAKE_CURRENT_BINARY_DIR}/boot-image ${KEL_BOOT_TEXT_SRC})
set_tests_properties(boot-image-reproducible PROPERTIES TIMEOUT 600)
# The stress pass starts its stress after the boot library (KEL_GC_STRESS_AFTER_BOOT, set by
# test.sh): this test boots under the whole stress, once.
add_test(NAME boot-under-stress
  COMMAND ${CMAKE_COMMAND} -E env --unset=KEL_GC_STRESS_AFTER_BOOT KEL_GC_STRESS=1
          $<TARGET_FILE:kel> ${CMAKE_CURRENT_SOURCE_DIR}/probes/boot_stress.kel)
set_tests_properties(boot-under-stress PROPERTIES PASS_REGULAR_EXPRESSION "^boot ok 3 " TIMEOUT 900)

# quit's exit statuses, typed on standard input.
add_test(NAME quit-status COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/quit_status.sh $<TARGET_FILE:kel>)
# The GUI's screen, inline and full screen, and the loop's way out (tmux).
add_test(NAME tmux-gui-screen COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_gui_screen.sh
         $<TARGET_FILE:probe-gui_screen>)
set_tests_properties(tmux-gui-screen PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# Escape, the file requester and alert as a user meets them (tmux; skipped without the
# backend's routines).
add_test(NAME tmux-gui-events COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_gui_events.sh $<TARGET_FILE:kel>)
set_tests_properties(tmux-gui-events PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# Faces' draw blocks drawn with character cells (tmux).
add_test(NAME tmux-gui-draw COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_gui_draw.sh
         $<TARGET_FILE:probe-gui_screen>)
set_tests_properties(tmux-gui-draw PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# The colour requester's HSV to RGB against python3's colorsys.
add_test(NAME request-color-hsv COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/request_color_hsv.sh
         $<TARGET_FILE:kel>)
set_tests_properties(request-color-hsv PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
# The colour requester's dialog in a real terminal (tmux; skipped until VID is there).
add_test(NAME tmux-request-color COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_request_color.sh
         $<TARGET_FILE:kel>)
set_tests_properties(tmux-request-color PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
# Windows shown by view: a button pressed, a field typed into, the modes put back (tmux).
add_test(NAME tmux-gui-view COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/tmux_gui_view.sh $<TARGET_FILE:kel>)
set_tests_properties(tmux-gui-view PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
# The view engine over the backend's own routines (skipped until they are there).
add_test(NAME gui-view-backend COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/probes/gui_view_backend.sh
         $<TARGET_FILE:kel> $<TARGET_FILE:kel_cases> ${CMAKE_CURRENT_SOURCE_DIR}/gui/view-backend.kel)
set_tests_properties(gui-view-backend PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
