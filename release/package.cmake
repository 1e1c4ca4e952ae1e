# Lays out the release folder and packs it into a zip that the same build
# always packs to the same bytes: every file carries one pinned time, the
# entries are sorted, permissions are fixed and the zip holds no owner or
# extra time fields.
#   cmake -DVERSION=v -DTIME=t -DSOURCE=dir -DSTAGE=dir -DZIP=file
#         -DDLL=f -DRUNNER=f -DCORE=f -DCOMPANION=f -DFAKES=f -P package.cmake
foreach(var VERSION TIME SOURCE STAGE ZIP DLL RUNNER CORE COMPANION FAKES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package.cmake needs -D${var}=...")
  endif()
endforeach()

set(name ztolvera-${VERSION})
set(top ${STAGE}/${name})
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${top}/workbench/examples)

file(COPY ${DLL} DESTINATION ${top})
file(COPY ${RUNNER} ${CORE} ${COMPANION} ${FAKES} DESTINATION ${top}/workbench)
file(GLOB examples ${SOURCE}/examples/*.vbs ${SOURCE}/examples/*.toml)
file(COPY ${examples} DESTINATION ${top}/workbench/examples)

# What Windows users open or run gets Windows line ends.
configure_file(${SOURCE}/release/README.txt.in ${top}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${SOURCE}/release/install.cmd ${top}/install.cmd @ONLY NEWLINE_STYLE CRLF)
configure_file(${SOURCE}/release/uninstall.cmd ${top}/uninstall.cmd @ONLY NEWLINE_STYLE CRLF)
configure_file(${SOURCE}/LICENSE ${top}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

# In the form sha256sum -c reads; certutil shows the same hashes.
file(GLOB_RECURSE files RELATIVE ${top} ${top}/*)
list(SORT files)
set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${top}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${top}/SHA256SUMS.txt "${sums}")

file(CHMOD_RECURSE ${top}
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
file(CHMOD ${top} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The folder entries too, so that unpacking gives the folders the same time.
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${STAGE} ${top}/*)
list(APPEND entries ${name})
list(SORT entries)
set(list "")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY ${STAGE}/${entry})
    string(APPEND list "${entry}/\n")
  else()
    string(APPEND list "${entry}\n")
  endif()
endforeach()
file(WRITE ${STAGE}.list "${list}")
list(TRANSFORM entries PREPEND ${STAGE}/)
execute_process(COMMAND touch -h -d ${TIME} ${entries} COMMAND_ERROR_IS_FATAL ANY)

# zip adds to an archive that exists; DOS times are local, hence TZ.
get_filename_component(zipdir ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zipdir})
file(REMOVE ${ZIP})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=ZIPOPT TZ=UTC zip -X -9 -q ${ZIP} -@
  INPUT_FILE ${STAGE}.list
  WORKING_DIRECTORY ${STAGE}
  COMMAND_ERROR_IS_FATAL ANY)
file(SHA256 ${ZIP} hash)
get_filename_component(zipname ${ZIP} NAME)
file(WRITE ${ZIP}.sha256 "${hash}  ${zipname}\n")
