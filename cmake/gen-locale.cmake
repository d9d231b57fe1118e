# The start-up currency list and month names, generated from boot/locale.kel.
set(KEL_LOCALE_SRC ${CMAKE_SOURCE_DIR}/boot/locale.kel)
add_custom_command(
  OUTPUT ${KEL_GEN_DIR}/locale_gen.h
  COMMAND ${Python3_EXECUTABLE} -B ${CMAKE_SOURCE_DIR}/tools/gen_locale.py
          ${KEL_LOCALE_SRC} ${KEL_GEN_DIR}/locale_gen.h
  DEPENDS ${KEL_LOCALE_SRC} ${CMAKE_SOURCE_DIR}/tools/gen_locale.py
          ${CMAKE_SOURCE_DIR}/tools/kel_text.py
  COMMENT "Generating the start-up locale")
list(APPEND KEL_GENERATED_SOURCES ${KEL_GEN_DIR}/locale_gen.h)
