# Cross build of edb2eml.exe for 64-bit Windows with the MinGW-w64 compilers (posix thread
# model, so std::thread and std::mutex work). The runtime is linked in statically: the .exe
# runs on a bare Windows without any compiler DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(EDB_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${EDB_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EDB_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${EDB_MINGW_TRIPLE}-windres)

# Target libraries from the MinGW sysroot only; header-only packages (CLI11, nlohmann-json)
# are found through their CMake config files on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${EDB_MINGW_TRIPLE} /usr/share/cmake /usr/lib/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
