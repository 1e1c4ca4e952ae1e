# ztolvera_add_test(NAME <name> SOURCES <file>... [LIBS <lib>...]
#                   [BOTH_ENGINES [WINDOWS_ENGINE_ENVIRONMENT <VAR=value>...]])
#
# Builds a GoogleTest executable for the target and registers it with CTest,
# run under Wine through the emulator wrapper from the bin folder, where the
# DLLs lie. One CTest entry per executable: test discovery would have to run
# the executable at build time, which a cross build cannot do.
#
# BOTH_ENGINES adds a second entry, <name>.windows-engine: the same
# executable with ZTOLVERA_TEST_ENGINE=windows, whose hosts run their jobs
# in the engine that behaves as the Active Scripting documentation says
# (tests/test_engine.h), with WINDOWS_ENGINE_ENVIRONMENT besides.
function(ztolvera_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "BOTH_ENGINES" "NAME" "SOURCES;LIBS;WINDOWS_ENGINE_ENVIRONMENT")
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
  if(ARG_BOTH_ENGINES)
    add_test(NAME ${ARG_NAME}.windows-engine COMMAND ${ARG_NAME} --gtest_brief=1)
    set_tests_properties(${ARG_NAME}.windows-engine PROPERTIES
      TIMEOUT 300
      WORKING_DIRECTORY ${ZTOLVERA_BIN_DIR}
      ENVIRONMENT "ZTOLVERA_TEST_ENGINE=windows;${ARG_WINDOWS_ENGINE_ENVIRONMENT}")
  endif()
endfunction()
