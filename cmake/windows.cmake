# Windows build: setup.exe as shipped, and its tests under Wine.
enable_language(RC)
# The command lines are short enough on a Linux host without response files,
# into which CMake writes a '$' of the checkout's path doubled, as for make.
foreach(language IN ITEMS C CXX RC)
    foreach(kind IN ITEMS INCLUDES OBJECTS LIBRARIES)
        set(CMAKE_${language}_USE_RESPONSE_FILE_FOR_${kind} 0)
    endforeach()
endforeach()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# The publisher's opt-in for deployment tools (Intune, Configuration Manager,
# winget): setup.exe passes its arguments on, waits for the installer and
# exits with its exit code.
option(LAUNCHER_DEPLOYMENT "Build setup.exe for deployment tools: it passes its arguments on, waits, and returns the installer's exit code" OFF)
include(cmake/branding.cmake)

# setup.exe links no C runtime: its own start-up, only KERNEL32, no unwind
# tables, no timestamp, nothing naming the build. USER32 is loaded at run
# time, only for the failure message.
set(PRODUCT_FLAGS -Os -fno-ident -fomit-frame-pointer -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-stack-protector ${LAUNCHER_WARNINGS})
set(PRODUCT_LINK_FLAGS -Os -nostdlib -s -Wl,--no-insert-timestamp)
if(CMAKE_CXX_COMPILER_ID STREQUAL GNU)
    # Whole-program optimisation: a fifth less code. Loops stay loops.
    list(APPEND PRODUCT_FLAGS -flto -fno-tree-loop-distribute-patterns)
    list(APPEND PRODUCT_LINK_FLAGS -flto)
endif()
configure_file(cmake/setup-i686.ld setup-i686.ld COPYONLY)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Subsystem 4.0 runs on every 32-bit and 64-bit Windows; the layout
    # script keeps the image small. No code here raises or handles a
    # structured exception, so the image says it has no SEH handlers. The
    # link runs in the build folder and finds the script there by its bare
    # name: CMake hands the linker a '$' of the checkout's path doubled.
    list(APPEND PRODUCT_LINK_FLAGS -Wl,-e,_WinMainCRTStartup@0 -Wl,--subsystem,windows:4.0 -Wl,--no-seh
         -Wl,--major-os-version,4 -Wl,--minor-os-version,0 -Wl,-T,setup-i686.ld)
else()
    list(APPEND PRODUCT_LINK_FLAGS -Wl,-e,WinMainCRTStartup -Wl,--subsystem,windows:5.2)
endif()

# The link writes setup.unsigned.exe; the target setup makes setup.exe of it.
if(LAUNCHER_DEPLOYMENT)
    set(SETUP_SOURCES ${LAUNCHER_SOURCES} ${DEPLOYMENT_SOURCES} ${DEPLOYMENT_ENTRY})
else()
    set(SETUP_SOURCES ${LAUNCHER_SOURCES} ${LAUNCHER_ENTRY})
endif()
add_executable(setup_unsigned WIN32 ${SETUP_SOURCES} launcher/memory.cpp ${BRANDING_RES})
set_target_properties(setup_unsigned PROPERTIES OUTPUT_NAME setup.unsigned
                                                RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                                                LINK_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/setup-i686.ld)
target_compile_options(setup_unsigned PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${PRODUCT_FLAGS}>)
target_link_options(setup_unsigned PRIVATE ${PRODUCT_LINK_FLAGS})
target_link_libraries(setup_unsigned PRIVATE kernel32)
add_dependencies(setup_unsigned source_commit)
set(SETUP_EXE ${CMAKE_CURRENT_BINARY_DIR}/setup.exe)
set(SETUP_UNSIGNED $<TARGET_FILE:setup_unsigned>)
set(SETUP_UNSIGNED_DEPENDS setup_unsigned)
include(release/ship.cmake)

# The same text work for the unit tests, which bring their own runtime.
add_library(launcher_core STATIC ${LAUNCHER_SOURCES} ${DEPLOYMENT_SOURCES})
target_compile_options(launcher_core PRIVATE -Os ${LAUNCHER_WARNINGS})

# Every Windows-side program of the tests runs under Wine, in a prefix of the
# build's own, through the one script that knows what the host can run.
set(WINDOWS_ARCH ${CMAKE_SYSTEM_PROCESSOR})  # i686 or x86_64, as the toolchain has it
set(WINE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
set(WINE_RUN bash ${CMAKE_CURRENT_SOURCE_DIR}/cmake/wine_run.sh ${WINDOWS_ARCH} ${WINE_PREFIX})
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN})
