# Shared by both MinGW toolchain files; ORVO_TRIPLE names the target.
set(CMAKE_C_COMPILER   ${ORVO_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVO_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORVO_TRIPLE}-windres)
set(CMAKE_OBJDUMP      ${ORVO_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${ORVO_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The C++ runtime, libgcc and winpthread are linked into every binary: a shipped
# module must import nothing but system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
if(ORVO_ARCH STREQUAL "x86")
  # Lets the undecorated .def names bind to __stdcall symbols.
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")
endif()
