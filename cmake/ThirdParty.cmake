# zlib from the MinGW package; libpng (read side) and minizip (unzip) compiled here from Debian's
# source packages, which tools/setup unpacks into TOLVA_DEPS_SRC. Nothing third-party is in the repo.

find_library(TOLVA_ZLIB_LIBRARY NAMES libz.a z REQUIRED)
find_path(TOLVA_ZLIB_INCLUDE zlib.h REQUIRED)
add_library(tolva_zlib INTERFACE)
target_link_libraries(tolva_zlib INTERFACE ${TOLVA_ZLIB_LIBRARY})
target_include_directories(tolva_zlib SYSTEM INTERFACE ${TOLVA_ZLIB_INCLUDE})
add_library(tolva::zlib ALIAS tolva_zlib)

file(GLOB _png_dirs LIST_DIRECTORIES true "${TOLVA_DEPS_SRC}/libpng1.6-*")
file(GLOB _zlib_dirs LIST_DIRECTORIES true "${TOLVA_DEPS_SRC}/zlib-*")
list(FILTER _png_dirs EXCLUDE REGEX "\\.(tar|dsc)")
list(FILTER _zlib_dirs EXCLUDE REGEX "\\.(tar|dsc)")
if(NOT _png_dirs OR NOT _zlib_dirs)
  message(FATAL_ERROR "libpng and zlib sources not found under ${TOLVA_DEPS_SRC}: run tools/setup first")
endif()
list(GET _png_dirs 0 TOLVA_PNG_SRC)
list(GET _zlib_dirs 0 TOLVA_ZLIBSRC_DIR)

# libpng: the prebuilt configuration header is the library's own default set of features.
set(_png_gen "${CMAKE_BINARY_DIR}/_deps/png")
configure_file("${TOLVA_PNG_SRC}/scripts/pnglibconf.h.prebuilt" "${_png_gen}/pnglibconf.h" COPYONLY)
add_library(tolva_png STATIC
  ${TOLVA_PNG_SRC}/png.c ${TOLVA_PNG_SRC}/pngerror.c ${TOLVA_PNG_SRC}/pngget.c
  ${TOLVA_PNG_SRC}/pngmem.c ${TOLVA_PNG_SRC}/pngpread.c ${TOLVA_PNG_SRC}/pngread.c
  ${TOLVA_PNG_SRC}/pngrio.c ${TOLVA_PNG_SRC}/pngrtran.c ${TOLVA_PNG_SRC}/pngrutil.c
  ${TOLVA_PNG_SRC}/pngset.c ${TOLVA_PNG_SRC}/pngtrans.c
  # The default configuration keeps the write side; only the read side is used.
  ${TOLVA_PNG_SRC}/pngwio.c ${TOLVA_PNG_SRC}/pngwrite.c ${TOLVA_PNG_SRC}/pngwtran.c ${TOLVA_PNG_SRC}/pngwutil.c)
target_include_directories(tolva_png SYSTEM PUBLIC ${TOLVA_PNG_SRC} ${_png_gen})
target_compile_options(tolva_png PRIVATE -w)
target_compile_definitions(tolva_png PRIVATE PNG_ARM_NEON_OPT=0 PNG_POWERPC_VSX_OPT=0 PNG_INTEL_SSE_OPT=0)
target_link_libraries(tolva_png PUBLIC tolva_zlib)
add_library(tolva::png ALIAS tolva_png)

set(_mz "${TOLVA_ZLIBSRC_DIR}/contrib/minizip")
add_library(tolva_minizip STATIC ${_mz}/unzip.c ${_mz}/ioapi.c ${_mz}/iowin32.c)
target_include_directories(tolva_minizip SYSTEM PUBLIC ${_mz})
target_compile_options(tolva_minizip PRIVATE -w)
target_link_libraries(tolva_minizip PUBLIC tolva_zlib)
add_library(tolva::minizip ALIAS tolva_minizip)
