# The system libraries the runtime links (installed by setup.sh), as one interface target
# `kel_libs`. A missing one stops the configuration naming the Debian package to install.

# Fails the configuration unless `found` is set; `package` is found first unless it is "-".
macro(kel_require package found debian)
  if(NOT "${package}" STREQUAL "-")
    find_package(${package} QUIET)
  endif()
  if(NOT ${found})
    message(FATAL_ERROR "Kel needs ${debian}: install that Debian package (./setup.sh does).")
  endif()
endmacro()

kel_require(PkgConfig PkgConfig_FOUND pkg-config)
pkg_check_modules(ZSTD QUIET IMPORTED_TARGET libzstd)
find_package(OpenSSL QUIET COMPONENTS Crypto)
kel_require(ZLIB ZLIB_FOUND zlib1g-dev)
kel_require(- ZSTD_FOUND libzstd-dev)
kel_require(- OpenSSL_FOUND libssl-dev)
kel_require(CURL CURL_FOUND libcurl4-openssl-dev)
kel_require(PNG PNG_FOUND libpng-dev)
kel_require(JPEG JPEG_FOUND libjpeg-dev)
kel_require(GIF GIF_FOUND libgif-dev)
kel_require(TIFF TIFF_FOUND libtiff-dev)

add_library(kel_libs INTERFACE)
# libcurl is loaded by the HTTP client at its first request (dlopen), not linked: its
# thirty-odd dependencies took half of every start-up. libcrypto and libtiff likewise, at
# their first use. Only their headers are used here.
# The image and compression libraries link from their static archives when the -dev
# packages ship them (Debian's do): each shared one cost its mapping and symbol relocation
# at every start, a quarter of an empty script's run. The same library code either way.
set(KEL_STATIC_LIBS "")
foreach(lib png16 jpeg gif zstd z)
  find_library(KEL_STATIC_LIB_${lib} NAMES lib${lib}.a)
  if(KEL_STATIC_LIB_${lib})
    list(APPEND KEL_STATIC_LIBS ${KEL_STATIC_LIB_${lib}})
  endif()
endforeach()
list(LENGTH KEL_STATIC_LIBS KEL_STATIC_LIB_COUNT)
if(KEL_STATIC_LIB_COUNT EQUAL 5)
  target_link_libraries(kel_libs INTERFACE ${KEL_STATIC_LIBS} m ${CMAKE_DL_LIBS})
  target_include_directories(kel_libs INTERFACE
                             $<TARGET_PROPERTY:PNG::PNG,INTERFACE_INCLUDE_DIRECTORIES>
                             $<TARGET_PROPERTY:JPEG::JPEG,INTERFACE_INCLUDE_DIRECTORIES>
                             $<TARGET_PROPERTY:GIF::GIF,INTERFACE_INCLUDE_DIRECTORIES>
                             $<TARGET_PROPERTY:ZLIB::ZLIB,INTERFACE_INCLUDE_DIRECTORIES>
                             $<TARGET_PROPERTY:PkgConfig::ZSTD,INTERFACE_INCLUDE_DIRECTORIES>)
else()
  target_link_libraries(kel_libs INTERFACE ZLIB::ZLIB PkgConfig::ZSTD ${CMAKE_DL_LIBS}
                                           PNG::PNG JPEG::JPEG GIF::GIF)
endif()
target_include_directories(kel_libs INTERFACE
                           $<TARGET_PROPERTY:CURL::libcurl,INTERFACE_INCLUDE_DIRECTORIES>
                           $<TARGET_PROPERTY:OpenSSL::Crypto,INTERFACE_INCLUDE_DIRECTORIES>
                           $<TARGET_PROPERTY:TIFF::TIFF,INTERFACE_INCLUDE_DIRECTORIES>)
