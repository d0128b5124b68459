# Host build: the launcher's code against the platform stand-in, with
# AddressSanitizer and UndefinedBehaviorSanitizer, for fast unit tests.
set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

add_library(platform_standin STATIC standin/windows.cpp)
target_include_directories(platform_standin PUBLIC standin)
target_compile_options(platform_standin PUBLIC ${SANITIZERS} PRIVATE ${LAUNCHER_WARNINGS})
target_link_options(platform_standin PUBLIC ${SANITIZERS})

add_library(launcher_core STATIC ${LAUNCHER_SOURCES} ${LAUNCHER_ENTRY})
target_compile_options(launcher_core PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(launcher_core PUBLIC platform_standin)
