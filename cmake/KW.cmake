# Helpers that keep the per-folder CMake files to one call per target.

# kw_add_plugin_library(NAME SOURCES ... [LIBS ...])
# The plug-in code of one area as a static library: linked into its module and into
# the in-process tests. Hidden visibility, so a module exports nothing of it.
function(kw_add_plugin_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC kwhost ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# kw_add_module(NAME SOURCES ... [LIBS ...] [RES dir ...])
# A plug-in module: build/plugins/<name>/<name>.cdl64 exporting only c4d_main, with
# the listed resource folders merged into build/plugins/<name>/res.
function(kw_add_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;RES" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kw_frame ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".cdl64"
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${KW_PLUGIN_DIR}/${name})
  target_link_options(${name} PRIVATE "LINKER:--exclude-libs,ALL" "LINKER:--no-undefined")
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}_res.stamp)
  set(copies)
  set(deps)
  foreach(dir ${ARG_RES})
    file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*)
    list(APPEND deps ${files})
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_directory ${dir} ${KW_PLUGIN_DIR}/${name}/res)
  endforeach()
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${KW_PLUGIN_DIR}/${name}/res
    ${copies}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${deps} VERBATIM)
  add_custom_target(${name}_res DEPENDS ${stamp})
  add_dependencies(${name} ${name}_res)
  set_property(GLOBAL APPEND PROPERTY KW_MODULES ${name})
endfunction()

# kw_add_test(NAME SOURCES ... [LIBS ...])
# One GoogleTest executable; every test in it is registered with CTest.
function(kw_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kw_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KW_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KW_PLUGIN_DIR="${KW_PLUGIN_DIR}"
    KW_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  get_property(modules GLOBAL PROPERTY KW_MODULES)
  if(modules)
    add_dependencies(${name} ${modules})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
