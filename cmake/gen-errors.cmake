# Error catalogue positions and embedded text, generated from boot/errors.kel.
set(KEL_ERRORS_SRC ${CMAKE_SOURCE_DIR}/boot/errors.kel)
add_custom_command(
  OUTPUT ${KEL_GEN_DIR}/errors_gen.h ${KEL_GEN_DIR}/errors_text.cpp
  COMMAND ${Python3_EXECUTABLE} -B ${CMAKE_SOURCE_DIR}/tools/gen_errors.py
          ${KEL_ERRORS_SRC} ${KEL_GEN_DIR}/errors_gen.h ${KEL_GEN_DIR}/errors_text.cpp
  DEPENDS ${KEL_ERRORS_SRC} ${CMAKE_SOURCE_DIR}/tools/gen_errors.py
          ${CMAKE_SOURCE_DIR}/tools/kel_text.py
  COMMENT "Generating error catalogue positions")
list(APPEND KEL_GENERATED_SOURCES ${KEL_GEN_DIR}/errors_gen.h ${KEL_GEN_DIR}/errors_text.cpp)
