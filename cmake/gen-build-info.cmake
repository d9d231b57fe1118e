# system/build: the build's date (SOURCE_DATE_EPOCH, else the last commit's time, so that a
# build is reproducible) and its settings. Written at every build, replaced only when it
# changed, so an unchanged tree rebuilds nothing.
add_custom_command(
  OUTPUT ${KEL_GEN_DIR}/build_info.h ${KEL_GEN_DIR}/build_info.always
  COMMAND ${CMAKE_COMMAND} -DOUT=${KEL_GEN_DIR}/build_info.h -DSRC=${CMAKE_SOURCE_DIR}
          -DBUILD_TYPE=${CMAKE_BUILD_TYPE} -DCOMPILER=${CMAKE_CXX_COMPILER_ID}
          -DCOMPILER_VERSION=${CMAKE_CXX_COMPILER_VERSION} -DSANITIZE=${KEL_SANITIZE}
          -P ${CMAKE_SOURCE_DIR}/cmake/build-info.cmake
  COMMENT "Checking the build date")
set_source_files_properties(${KEL_GEN_DIR}/build_info.always PROPERTIES SYMBOLIC TRUE)
list(APPEND KEL_GENERATED_SOURCES ${KEL_GEN_DIR}/build_info.h)
