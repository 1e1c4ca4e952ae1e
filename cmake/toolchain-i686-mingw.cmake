# Cross build for 32-bit Windows with mingw-w64. The COM server is an i686 DLL,
# so everything, tests included, is built for that target and run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ZTOLVERA_TRIPLE i686-w64-mingw32)

# The -posix variants: GoogleTest and the thread helpers need std::mutex.
set(CMAKE_C_COMPILER   ${ZTOLVERA_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZTOLVERA_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ZTOLVERA_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZTOLVERA_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# Nothing may import the compiler's runtime DLLs (libgcc, libstdc++,
# libwinpthread): the DLL is loaded into a foreign process that has none.
# --enable-stdcall-fixup lets a .def file name the undecorated COM exports.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--enable-stdcall-fixup")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--enable-stdcall-fixup")

# IDL compiler for the type library. Interface definitions come from Wine's
# IDL folder; stdole2.tlb, which every type library imports, from Wine's
# 32-bit Windows library folder.
find_program(ZTOLVERA_WIDL NAMES ${ZTOLVERA_TRIPLE}-widl widl REQUIRED)
find_path(ZTOLVERA_WINE_IDL_DIR activscp.idl
  PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(ZTOLVERA_WINE_TLB_DIR stdole2.tlb
  PATHS /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/wine/i386-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
set(ZTOLVERA_WIDL_FLAGS --win32 -I${ZTOLVERA_WINE_IDL_DIR} -L${ZTOLVERA_WINE_TLB_DIR})
