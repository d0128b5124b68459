# Cross build for 32-bit Windows with MinGW-w64. The posix-thread variants are
# used: GoogleTest needs std::mutex, which the win32-thread ones lack.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARGET_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER ${TARGET_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARGET_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARGET_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
