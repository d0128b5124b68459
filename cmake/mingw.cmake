# Cross build for Windows against MinGW-w64. MINGW_PROCESSOR is i686 (the
# default) or x86_64; MINGW_COMPILER is gcc (the default; its posix-thread
# variants, since GoogleTest needs std::mutex, which the win32-thread ones
# lack) or clang.
set(MINGW_PROCESSOR i686 CACHE STRING "i686 or x86_64")
set(MINGW_COMPILER gcc CACHE STRING "gcc or clang")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_PROCESSOR MINGW_COMPILER)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_PROCESSOR})
set(TARGET_TRIPLE ${MINGW_PROCESSOR}-w64-mingw32)

if(MINGW_COMPILER STREQUAL clang)
    set(CMAKE_C_COMPILER clang)
    set(CMAKE_CXX_COMPILER clang++)
    set(CMAKE_C_COMPILER_TARGET ${TARGET_TRIPLE})
    set(CMAKE_CXX_COMPILER_TARGET ${TARGET_TRIPLE})
    # clang does not recognise Debian's versioned directory of MinGW-w64's
    # GCC (12-posix) and so misses libgcc, which programs with the C runtime
    # need.
    file(GLOB MINGW_GCC_DIRECTORIES /usr/lib/gcc/${TARGET_TRIPLE}/*-posix)
    if(MINGW_GCC_DIRECTORIES)
        list(GET MINGW_GCC_DIRECTORIES 0 MINGW_GCC_DIRECTORY)
        set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${MINGW_GCC_DIRECTORY}")
    endif()
else()
    set(CMAKE_C_COMPILER ${TARGET_TRIPLE}-gcc-posix)
    set(CMAKE_CXX_COMPILER ${TARGET_TRIPLE}-g++-posix)
endif()
set(CMAKE_RC_COMPILER ${TARGET_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
