# The two-way road's pieces in Quenta: the shared block and sleeps (Brimsa links them too),
# the BiDiService stubs made by this width's widl, the RPC guard and the client.

# Stubs of BiDiService, one interface definition for both sides.
set(TOLVA_BIDI_GEN_DIR "${CMAKE_BINARY_DIR}/generated/bidi")
set(TOLVA_BIDI_GEN_DIR "${TOLVA_BIDI_GEN_DIR}" PARENT_SCOPE)
file(MAKE_DIRECTORY "${TOLVA_BIDI_GEN_DIR}")
if(TOLVA_WIDTH STREQUAL "x86")
  set(_widl_width --win32)
else()
  set(_widl_width --win64)
endif()
add_custom_command(
  OUTPUT "${TOLVA_BIDI_GEN_DIR}/BiDiService.h" "${TOLVA_BIDI_GEN_DIR}/BiDiService_c.c"
         "${TOLVA_BIDI_GEN_DIR}/BiDiService_s.c"
  COMMAND ${TOLVA_TRIPLE}-widl -Oif ${_widl_width}
          -h -H "${TOLVA_BIDI_GEN_DIR}/BiDiService.h"
          -c -C "${TOLVA_BIDI_GEN_DIR}/BiDiService_c.c"
          -s -S "${TOLVA_BIDI_GEN_DIR}/BiDiService_s.c"
          "${CMAKE_CURRENT_SOURCE_DIR}/BiDiService.idl"
  DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/BiDiService.idl"
  COMMENT "widl BiDiService.idl (${TOLVA_WIDTH})")
add_custom_target(bidiservice_idl DEPENDS
  "${TOLVA_BIDI_GEN_DIR}/BiDiService.h" "${TOLVA_BIDI_GEN_DIR}/BiDiService_c.c"
  "${TOLVA_BIDI_GEN_DIR}/BiDiService_s.c")

# Shared block and sleeps.
add_library(bidishare STATIC BiDiShare.cpp TimerSleep.cpp)
target_link_libraries(bidishare PUBLIC foundation advapi32)

# The guard: on x64 clang's __try/__except (GCC has none), linked with the GCC objects; on
# i686 GCC's hand-linked handler.
if(TOLVA_WIDTH STREQUAL "x86")
  set(_rpcguard_src RpcGuard.c)
else()
  set(_rpcguard_obj "${CMAKE_CURRENT_BINARY_DIR}/RpcGuard.obj")
  add_custom_command(
    OUTPUT "${_rpcguard_obj}"
    COMMAND clang --target=x86_64-w64-mingw32 -fms-extensions -O2 -Wall -Wextra -Werror
            -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0A00 -I "${CMAKE_SOURCE_DIR}"
            -c "${CMAKE_CURRENT_SOURCE_DIR}/RpcGuard.c" -o "${_rpcguard_obj}"
    DEPENDS RpcGuard.c RpcGuard.h
    COMMENT "clang RpcGuard.c (x64 structured exception handling)")
  set_source_files_properties("${_rpcguard_obj}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  set(_rpcguard_src "${_rpcguard_obj}")
endif()

# The client (with the client stub and the guard).
set_source_files_properties("${TOLVA_BIDI_GEN_DIR}/BiDiService_c.c" PROPERTIES GENERATED TRUE
  COMPILE_OPTIONS "-Wno-unused-parameter")
add_library(bidiclient STATIC BiDiClient.cpp ${_rpcguard_src} "${TOLVA_BIDI_GEN_DIR}/BiDiService_c.c")
add_dependencies(bidiclient bidiservice_idl)
target_include_directories(bidiclient PUBLIC "${TOLVA_BIDI_GEN_DIR}")
target_link_libraries(bidiclient PUBLIC bidishare storage foundation rpcrt4)
