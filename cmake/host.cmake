# Host build: the launcher's code against the platform stand-in, with
# AddressSanitizer and UndefinedBehaviorSanitizer, for fast unit tests; with
# LAUNCHER_FUZZ (clang) also the fuzz targets, their code instrumented for it.
option(LAUNCHER_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
if(LAUNCHER_FUZZ)
    list(APPEND SANITIZERS -fsanitize=fuzzer-no-link)
endif()

add_library(platform_standin STATIC standin/windows.cpp)
target_include_directories(platform_standin PUBLIC standin)
target_compile_options(platform_standin PUBLIC ${SANITIZERS} PRIVATE ${LAUNCHER_WARNINGS})
target_link_options(platform_standin PUBLIC ${SANITIZERS})

add_library(launcher_core STATIC ${LAUNCHER_SOURCES} ${DEPLOYMENT_SOURCES} ${LAUNCHER_ENTRY})
target_compile_options(launcher_core PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(launcher_core PUBLIC platform_standin)
