# Windows build: setup.exe as shipped, and tests run under Wine.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(WINE wine REQUIRED)

# setup.exe links no C runtime: its own start-up, only KERNEL32, no unwind
# tables, no timestamp. Copies and fills stay loops (no memset or memcpy to
# link), and USER32 is loaded at run time only for the failure message.
set(ICON_FILE ${CMAKE_CURRENT_BINARY_DIR}/resources/setup.ico)
add_custom_command(
    OUTPUT ${ICON_FILE}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_icon.py
            ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon.txt ${ICON_FILE}
    DEPENDS resources/make_icon.py resources/icon.txt
    COMMENT "Drawing the launcher's icon")
set_source_files_properties(resources/setup.rc PROPERTIES OBJECT_DEPENDS ${ICON_FILE})

set(PRODUCT_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -fno-tree-loop-distribute-patterns ${LAUNCHER_WARNINGS})

# The text work, linked into setup.exe and into the unit tests alike.
add_library(launcher_core STATIC ${LAUNCHER_SOURCES})
target_compile_options(launcher_core PRIVATE ${PRODUCT_FLAGS})

add_executable(setup WIN32 ${LAUNCHER_ENTRY} resources/setup.rc)
set_target_properties(setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
target_include_directories(setup PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/resources)
target_compile_options(setup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${PRODUCT_FLAGS}>)
target_link_options(setup PRIVATE
    -nostdlib -s
    -Wl,-e,_WinMainCRTStartup@0
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--no-insert-timestamp)
target_link_libraries(setup PRIVATE launcher_core kernel32)

# Every Windows-side program of the tests runs under Wine in a prefix of the
# build's own.
set(WINE_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/wineprefix)
set(WINE_ENVIRONMENT WINEPREFIX=${WINE_PREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${WINE_ENVIRONMENT} ${WINE})
