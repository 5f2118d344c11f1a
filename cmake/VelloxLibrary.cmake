# vellox_add_library(<target> [LIBS <targets...>])
# A static library of every .cpp/.h below the calling folder, with the source
# root on the include path so headers are included as "<folder>/<File>.h".
# Resources (.qrc) below the folder are compiled in.
function(vellox_add_library target)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  set(compiled ${sources})
  list(FILTER compiled INCLUDE REGEX "\\.cpp$")
  if(NOT compiled)
    message(STATUS "${target}: no sources yet")
    return()
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC vellox_platform ${ARG_LIBS})
  vellox_precompile_headers(${target})
endfunction()
