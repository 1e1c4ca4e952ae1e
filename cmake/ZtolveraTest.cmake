# ztolvera_add_test(NAME <name> SOURCES <file>... [LIBS <lib>...])
#
# Builds a GoogleTest executable for the target and registers it with CTest,
# run under Wine through the emulator wrapper from the bin folder, where the
# DLLs lie. One CTest entry per executable: test discovery would have to run
# the executable at build time, which a cross build cannot do.
function(ztolvera_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "NAME" "SOURCES;LIBS")
  if(NOT ARG_NAME OR NOT ARG_SOURCES)
    message(FATAL_ERROR "ztolvera_add_test needs NAME and SOURCES")
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LIBS} gtest_main)
  add_dependencies(${ARG_NAME} wineprefix)
  add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME} --gtest_brief=1)
  set_tests_properties(${ARG_NAME} PROPERTIES
    TIMEOUT 300
    WORKING_DIRECTORY ${ZTOLVERA_BIN_DIR})
endfunction()
