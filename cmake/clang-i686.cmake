# Cross build for 32-bit Windows with clang, against MinGW-w64's headers and
# libraries and its linker.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARGET_TRIPLE i686-w64-mingw32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TARGET_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${TARGET_TRIPLE})
set(CMAKE_RC_COMPILER ${TARGET_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# clang does not recognise Debian's versioned directory of MinGW-w64's GCC
# (12-posix) and so misses libgcc, which programs with the C runtime need.
file(GLOB MINGW_GCC_DIRECTORIES /usr/lib/gcc/${TARGET_TRIPLE}/*-posix)
if(MINGW_GCC_DIRECTORIES)
    list(GET MINGW_GCC_DIRECTORIES 0 MINGW_GCC_DIRECTORY)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${MINGW_GCC_DIRECTORY}")
endif()
