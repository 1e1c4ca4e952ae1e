# Registers the built COM servers in the build's Wine prefix with the
# platform's regsvr32, as an installation would, so that tests, the runner
# and `make run` create the host by ProgID. The stamp lies inside the prefix:
# a prefix made anew has nothing registered and gets registered again.
set(ztolvera_servers zTolvera)
# The companion object every host creates, where the build has it.
if(TARGET ScpWin32Ext)
  list(APPEND ztolvera_servers ScpWin32Ext)
endif()

set(ztolvera_register_commands)
foreach(server IN LISTS ztolvera_servers)
  list(APPEND ztolvera_register_commands
    COMMAND ${ZTOLVERA_WINE_RUN} regsvr32 /s "bin\\$<TARGET_FILE_NAME:${server}>")
endforeach()

list(JOIN ztolvera_servers ", " ztolvera_server_names)
set(ztolvera_register_stamp ${ZTOLVERA_WINEPREFIX}/.ztolvera-registered)
add_custom_command(
  OUTPUT ${ztolvera_register_stamp}
  ${ztolvera_register_commands}
  COMMAND ${CMAKE_COMMAND} -E touch ${ztolvera_register_stamp}
  DEPENDS ${ztolvera_servers} ${ZTOLVERA_WINEPREFIX}/.ztolvera-ready
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Registering ${ztolvera_server_names} in ${ZTOLVERA_WINEPREFIX}"
  VERBATIM)
add_custom_target(register_dlls ALL DEPENDS ${ztolvera_register_stamp})
add_dependencies(register_dlls wineprefix)
