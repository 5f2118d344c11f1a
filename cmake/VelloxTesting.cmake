# vellox_add_gtest(<name> LABEL <label> SOURCES <files...> LIBS <targets...>)
# One GoogleTest executable per area; every case becomes a CTest test carrying
# the label that tells scripts/test which environment it needs.
function(vellox_add_gtest name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE vellox_test_support ${ARG_LIBS})
  vellox_precompile_headers(${name} TESTS)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 120)
endfunction()

# vellox_glob_gtest(<name> LABEL <label> DIR <folder> LIBS <targets...>)
# The same, with every .cpp file directly in <folder> as sources. A folder with
# no sources yet adds nothing.
function(vellox_glob_gtest name)
  cmake_parse_arguments(ARG "" "LABEL;DIR" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp ${ARG_DIR}/*.h)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  if(sources)
    file(GLOB all CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp ${ARG_DIR}/*.h)
    vellox_add_gtest(${name} LABEL ${ARG_LABEL} SOURCES ${all} LIBS ${ARG_LIBS})
  endif()
endfunction()
