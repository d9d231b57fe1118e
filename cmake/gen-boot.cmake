# The specs of natives and actions (boot/), embedded as text and loaded at start until the
# boot image exists. Order: named typesets and actions first, then natives and operators.
set(KEL_BOOT_TEXT_SRC ${CMAKE_SOURCE_DIR}/boot/actions.kel ${CMAKE_SOURCE_DIR}/boot/natives.kel)
add_custom_command(
  OUTPUT ${KEL_GEN_DIR}/boot_text.cpp
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/gen_boot_text.py
          ${KEL_GEN_DIR}/boot_text.cpp ${KEL_BOOT_TEXT_SRC}
  DEPENDS ${KEL_BOOT_TEXT_SRC} ${CMAKE_SOURCE_DIR}/tools/gen_boot_text.py
  COMMENT "Embedding the boot specs")
list(APPEND KEL_GENERATED_SOURCES ${KEL_GEN_DIR}/boot_text.cpp)
