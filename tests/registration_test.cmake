# Self-registration through regsvr32, and a client that creates the host by
# ProgID from a process of its own.
ztolvera_add_test(NAME registration_test SOURCES registration_test.cpp LIBS ole32 oleaut32 advapi32)

add_executable(progid_client progid_client.cpp)
target_link_options(progid_client PRIVATE -municode)
target_link_libraries(progid_client PRIVATE ztolvera_interface Ravlin ole32 oleaut32 uuid)

# The test starts these; it registers the servers itself.
add_dependencies(registration_test progid_client zTolvera)
if(TARGET ScpWin32Ext)
  add_dependencies(registration_test ScpWin32Ext)
endif()
# Unregistering takes the class away from every other test for a moment.
set_tests_properties(registration_test PROPERTIES RUN_SERIAL TRUE)
