# A release built in the root made from the pinned toolchain
# (release/toolchain.py): the image is linked there by this same source, in
# pinned/ with this build's settings but the signer's, signed here, where
# the publisher's key is, and laid out on the medium there.
set(PINNED_DIR ${CMAKE_BINARY_DIR}/pinned)

# The settings handed on, the branding's defaults among them, each as it is
# (in a bracket argument long enough that no value ends it). No tests are
# built there, whatever LAUNCHER_TESTS says (read here, so that CMake does
# not call it unused).
set(BRANDING_SETTINGS_ONLY ON)
include(cmake/branding.cmake)
set(tests_unbuilt "${LAUNCHER_TESTS}")
get_cmake_property(settings CACHE_VARIABLES)
set(handed "")
foreach(name IN LISTS settings)
    if((name MATCHES "^(LAUNCHER_|MINGW_)" AND NOT name MATCHES "^LAUNCHER_(SIGN_|MEDIUM_|TOOLCHAIN$|TESTS$)")
       OR name STREQUAL "CMAKE_BUILD_TYPE")
        set(equals "=")
        while("${${name}}" MATCHES "]${equals}]")
            string(APPEND equals "=")
        endwhile()
        string(APPEND handed "set(${name} [${equals}[${${name}}]${equals}] CACHE STRING \"\" FORCE)\n")
    endif()
endforeach()
string(APPEND handed "set(LAUNCHER_TESTS OFF CACHE BOOL \"\" FORCE)\nset(LAUNCHER_TOOLCHAIN host CACHE STRING \"\" FORCE)\n")
file(WRITE ${PINNED_DIR}.cmake.new "${handed}")
file(COPY_FILE ${PINNED_DIR}.cmake.new ${PINNED_DIR}.cmake ONLY_IF_DIFFERENT)
file(REMOVE ${PINNED_DIR}.cmake.new)

# What the root sees of this machine: the sources and the build folder, and
# the publisher's files the settings name.
set(PINNED_RUN /usr/bin/python3 ${CMAKE_SOURCE_DIR}/release/toolchain.py run ${CMAKE_SOURCE_DIR}/release/toolchain.lock
               --read ${CMAKE_SOURCE_DIR} --write ${CMAKE_BINARY_DIR})
foreach(named IN ITEMS LAUNCHER_ICON LAUNCHER_MEDIUM_INSTALLER LAUNCHER_MEDIUM_FILES)
    if(${named})
        get_filename_component(path "${${named}}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
        if(NOT EXISTS "${path}")
            message(FATAL_ERROR "${named} ${path}: no such file")
        endif()
        list(APPEND PINNED_RUN --read ${path})
    endif()
endforeach()
list(APPEND PINNED_RUN --)

# Every build asks the root's: its own make builds again only what changed.
# The image lands where this machine's build would link it, and is copied
# only when it changed, so that an unchanged image is not signed again.
add_custom_target(setup_unsigned_pinned
    COMMAND ${PINNED_RUN} sh -c "cmake -S \"$0\" -B \"$1\" -C \"$1.cmake\" -DCMAKE_TOOLCHAIN_FILE=\"$2\" > /dev/null && cmake --build \"$1\" --target setup_unsigned"
            ${CMAKE_SOURCE_DIR} ${PINNED_DIR} ${CMAKE_TOOLCHAIN_FILE}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PINNED_DIR}/setup.unsigned.exe ${CMAKE_BINARY_DIR}/setup.unsigned.exe
    BYPRODUCTS ${CMAKE_BINARY_DIR}/setup.unsigned.exe
    COMMENT "Linking setup.exe in the pinned toolchain's root"
    VERBATIM)
set(SETUP_EXE ${CMAKE_BINARY_DIR}/setup.exe)
set(SETUP_UNSIGNED ${CMAKE_BINARY_DIR}/setup.unsigned.exe)
set(SETUP_UNSIGNED_DEPENDS setup_unsigned_pinned ${SETUP_UNSIGNED})
set(MEDIUM_RUN ${PINNED_RUN})
include(release/ship.cmake)
