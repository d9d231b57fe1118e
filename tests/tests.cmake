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
