# Sources generated at build time. Each generator appends to KEL_GENERATED_SOURCES.
file(GLOB KEL_GENERATOR_FRAGMENTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/gen-*.cmake)
foreach(frag ${KEL_GENERATOR_FRAGMENTS})
  include(${frag})
endforeach()
