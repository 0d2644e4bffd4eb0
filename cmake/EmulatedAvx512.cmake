# tabulon_add_emulated_avx512(target): builds the AVX-512 MD5 transform's code into `target` a
# second time, as Md5TransformAvx512Emulated, on instructions emulated by SIMDe (header only,
# Debian package libsimde-dev), so that tests and fuzzing check it on machines without AVX-512.
# Only SIMDe's folder goes on the include path, which a cross build may use too.
function(tabulon_add_emulated_avx512 target)
  find_path(TABULON_SIMDE_INCLUDE_DIR simde/x86/avx512.h NO_CMAKE_FIND_ROOT_PATH)
  if(NOT TABULON_SIMDE_INCLUDE_DIR)
    message(FATAL_ERROR "SIMDe is missing (Debian package libsimde-dev; scripts/install-deps.sh)")
  endif()
  set(link_dir ${CMAKE_BINARY_DIR}/simde-include)
  file(MAKE_DIRECTORY ${link_dir})
  file(CREATE_LINK ${TABULON_SIMDE_INCLUDE_DIR}/simde ${link_dir}/simde SYMBOLIC)

  set(source ${PROJECT_SOURCE_DIR}/src/digest/md5_avx512.cpp)
  target_sources(${target} PRIVATE ${source})
  target_include_directories(${target} SYSTEM PRIVATE ${link_dir})
  set_source_files_properties(${source} PROPERTIES
    COMPILE_DEFINITIONS TABULON_MD5_AVX512_EMULATED=1)
  # SIMDe's 512-bit vectors pass only between functions of this file, never across a library's
  # interface, so the compilers' note that their calling convention differs with AVX-512 does not
  # apply.
  set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS -Wno-psabi)
endfunction()
