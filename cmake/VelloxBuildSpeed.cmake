# How the project's own targets are compiled quickly: a unity build (several
# .cpp files of a target compiled as one) and precompiled headers. Both are on
# in every build and can be switched off to check a file on its own
# (-DVELLOX_UNITY_BUILD=OFF, -DVELLOX_PCH=OFF).
#
# A file that cannot share a unity batch with the others of its target (it
# defines a file-scope name another file of the target also defines, or a
# macro that leaks into the files after it) either gets its helpers renamed or
# opts out where its target is defined:
#   set_source_files_properties(File.cpp PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
# A whole target opts out with set_target_properties(<t> PROPERTIES UNITY_BUILD OFF).
option(VELLOX_UNITY_BUILD "Compile the files of each target in batches (unity build)" ON)
option(VELLOX_PCH "Precompile the Qt, QCoro, STL and GoogleTest headers" ON)

if(VELLOX_UNITY_BUILD)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE 8)
  # GCC warns when a class derives from one in an anonymous namespace of an
  # included file, which is what every .cpp is to a unity batch: test
  # fixtures in anonymous namespaces are fine.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-subobject-linkage>)
  endif()
endif()

# vellox_precompile_headers(<target> [TESTS] [OWN])
# The shared header set for a project target (C++ files only); TESTS adds
# GoogleTest. With GCC the libraries share the header that vellox_pch
# precompiles, and the test programs the one of vellox_test_pch, so each set is
# compiled once per build. GCC takes a precompiled header when every macro
# defined at its making is defined the same way again; further macros are fine
# as long as the headers do not read them. So the two owners have only the
# usage every library (every test program) has, and -Winvalid-pch (an error
# with -Werror) says when a target cannot share: one whose own definitions
# reach the headers (vellox_platform's _REENTRANT) makes its own (OWN). Clang
# takes a precompiled header only with the very same macros, so there every
# library makes its own, and the few test programs a clang build makes (the
# crash tests, one batch each) go without.
function(vellox_precompile_headers target)
  cmake_parse_arguments(ARG "TESTS;OWN" "" "" ${ARGN})
  if(NOT VELLOX_PCH)
    return()
  endif()
  if(ARG_TESTS)
    set(header ${PROJECT_SOURCE_DIR}/cmake/pch/VelloxTestPch.h)
    set(owner vellox_test_pch)
  else()
    set(header ${PROJECT_SOURCE_DIR}/cmake/pch/VelloxPch.h)
    set(owner vellox_pch)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT ARG_OWN AND NOT target STREQUAL owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT ARG_TESTS)
    target_precompile_headers(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${header}>")
  endif()
endfunction()

# vellox_add_pch_owner([TESTS] LIBS <targets...>)
# With GCC, the target that precompiles the shared header (vellox_pch, or
# vellox_test_pch with TESTS) with the usage of LIBS and nothing else.
function(vellox_add_pch_owner)
  cmake_parse_arguments(ARG "TESTS" "" "LIBS" ${ARGN})
  if(VELLOX_PCH AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    if(ARG_TESTS)
      set(owner vellox_test_pch)
      set(tests TESTS)
    else()
      set(owner vellox_pch)
      set(tests "")
    endif()
    add_library(${owner} OBJECT ${PROJECT_SOURCE_DIR}/cmake/pch/VelloxPch.cpp)
    target_link_libraries(${owner} PRIVATE ${ARG_LIBS})
    vellox_precompile_headers(${owner} ${tests})
  endif()
endfunction()
