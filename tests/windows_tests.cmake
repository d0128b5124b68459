# The Windows-side runtime suite, the same for each architecture: the unit
# tests under Wine in code pages 1252 and 932, and the end-to-end runs of
# setup.exe. Where the host cannot run the build, Wine's runner skips them.
# Each build's image is checked for its hardening and its manifest, and laid
# out on a medium; the shipped 32-bit one has the rest of the image and build
# checks.
if(WINDOWS_ARCH STREQUAL i686)
    set(SUITE windows)
else()
    set(SUITE windows-x64)
endif()

add_executable(unit_tests ${UNIT_TESTS})
target_compile_options(unit_tests PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(unit_tests PRIVATE launcher_core GTest::gtest_main)
target_link_options(unit_tests PRIVATE -static)

# The prefix, and Wine kept up for the whole suite (wine_run.sh serve) and
# ended after it.
add_test(NAME ${SUITE}.wine_prefix COMMAND ${WINE_RUN} serve)
set_tests_properties(${SUITE}.wine_prefix PROPERTIES FIXTURES_SETUP wine SKIP_RETURN_CODE 77)
add_test(NAME ${SUITE}.wine_end COMMAND ${WINE_RUN} end)
set_tests_properties(${SUITE}.wine_end PROPERTIES FIXTURES_CLEANUP wine SKIP_RETURN_CODE 77)

set(RUNTIME_TESTS "")
foreach(codePage IN ITEMS 1252 932)
    add_test(NAME ${SUITE}.unit.cp${codePage} COMMAND unit_tests)
    list(APPEND RUNTIME_TESTS ${SUITE}.unit.cp${codePage})
endforeach()
set_tests_properties(${SUITE}.unit.cp1252 PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8;EXPECTED_ACP=1252")
set_tests_properties(${SUITE}.unit.cp932 PROPERTIES ENVIRONMENT "LC_ALL=ja_JP.UTF-8;EXPECTED_ACP=932")

# End to end: the real setup.exe started by a Windows-side parent, with a
# probe for the installer.
add_executable(starter e2e/starter.cpp e2e/inject.cpp)
add_executable(probe WIN32 e2e/probe.cpp)
foreach(tool IN ITEMS starter probe)
    target_compile_options(${tool} PRIVATE ${LAUNCHER_WARNINGS})
    target_link_options(${tool} PRIVATE -static)
endforeach()

# For the cases of a network drive: MPR and SHELL32 as the launcher alone
# loads them, mpr.dll and shell32.dll.
foreach(standin IN ITEMS mpr shell32)
    add_library(standin_${standin} SHARED e2e/network_standins.cpp)
    string(TOUPPER STANDIN_${standin} define)
    target_compile_definitions(standin_${standin} PRIVATE ${define})
    target_compile_options(standin_${standin} PRIVATE ${LAUNCHER_WARNINGS})
    target_link_options(standin_${standin} PRIVATE -static -Wl,--kill-at)  # undecorated exports
    set_target_properties(standin_${standin} PROPERTIES OUTPUT_NAME ${standin} PREFIX "")
endforeach()

set(E2E_CASES
    quoted quoted_blanks unquoted_blanks quoted_arguments planted_at_blank
    installer_missing overlong_command_line dbcs_directory dbcs_launcher_name
    mapped_drive bare_relative_name busy_installer
    fullwidth_quote cyrillic_folder not_in_cp932 hyou_cp932 ascii_cp932
    elevation_ansi elevation_wide cpinfo_fails share_ansi share_wide share_local share_unnamed)
set(E2E_ENVIRONMENT PROBE_EXE=$<TARGET_FILE:probe> STARTER_EXE=$<TARGET_FILE:starter>
                    MPR_STANDIN=$<TARGET_FILE:standin_mpr> SHELL32_STANDIN=$<TARGET_FILE:standin_shell32>
                    E2E_DIR=${CMAKE_CURRENT_BINARY_DIR}/e2e)
foreach(case IN LISTS E2E_CASES)
    add_test(NAME ${SUITE}.e2e.${case}
             COMMAND ${WINE_RUN} env SETUP_EXE=${SETUP_EXE} ${E2E_ENVIRONMENT}
                     bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_case.sh ${case})
    list(APPEND RUNTIME_TESTS ${SUITE}.e2e.${case})
endforeach()
set_tests_properties(${RUNTIME_TESTS} PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77)

# What the build promises, each in fresh build trees of its own: for each
# build, a medium (whose extracted launcher starts where the host runs it);
# for the shipped 32-bit image also the same bytes every time, the branding,
# and the signature.
function(add_variant_test mode)
    add_test(NAME ${SUITE}.build.${mode}
             COMMAND ${CMAKE_COMMAND} -E env SOURCE_DIR=${CMAKE_SOURCE_DIR}
                     WORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/variants TOOLCHAIN=${CMAKE_TOOLCHAIN_FILE}
                     PROCESSOR=${WINDOWS_ARCH} ${E2E_ENVIRONMENT} WINE_PREFIX=${WINE_PREFIX}
                     bash ${CMAKE_CURRENT_SOURCE_DIR}/build_variants.sh ${mode})
endfunction()
add_variant_test(medium)
set_tests_properties(${SUITE}.build.medium PROPERTIES FIXTURES_REQUIRED wine)

# The deployment build, built by its variant check and started by its own
# end-to-end cases.
add_variant_test(deployment)
set_tests_properties(${SUITE}.build.deployment PROPERTIES FIXTURES_SETUP deployment)
set(DEPLOYMENT_CASES deploy_arguments deploy_cp932 deploy_outside_cp deploy_exit_codes deploy_no_installer
                     deploy_elevation_ansi deploy_elevation_wide deploy_share_declined)
foreach(case IN LISTS DEPLOYMENT_CASES)
    add_test(NAME ${SUITE}.e2e.${case}
             COMMAND ${WINE_RUN} env SETUP_EXE=${CMAKE_CURRENT_BINARY_DIR}/variants/deployment/tree/setup.exe
                     ${E2E_ENVIRONMENT} bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_case.sh ${case})
    set_tests_properties(${SUITE}.e2e.${case} PROPERTIES FIXTURES_REQUIRED "wine;deployment" SKIP_RETURN_CODE 77)
endforeach()

foreach(check IN ITEMS hardening manifest)
    add_test(NAME ${SUITE}.image.${check}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/image_checks.sh ${check} ${SETUP_EXE})
endforeach()

if(WINDOWS_ARCH STREQUAL x86_64)
    # The shipped 32-bit image, started by this build's starter and starting
    # its probe, where the host cannot run the 32-bit suite: under emulation,
    # or skipped with the reason.
    set(SHIPPED_SETUP_EXE ${CMAKE_SOURCE_DIR}/build/windows/setup.exe CACHE FILEPATH
        "The 32-bit setup.exe that the emulated end-to-end case starts")
    add_test(NAME ${SUITE}.e2e.shipped_i686
             COMMAND env SETUP_EXE=${SHIPPED_SETUP_EXE} ${E2E_ENVIRONMENT} WINE_PREFIX=${WINE_PREFIX}
                     bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/emulated.sh quoted)
    set_tests_properties(${SUITE}.e2e.shipped_i686 PROPERTIES
        SKIP_RETURN_CODE 77 RUN_SERIAL ON TIMEOUT 1500 FIXTURES_REQUIRED wine)
    return()
endif()

# The image as shipped.
foreach(check IN ITEMS imports size subsystem icon version)
    add_test(NAME windows.image.${check}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/image_checks.sh ${check} ${SETUP_EXE})
endforeach()
foreach(mode IN ITEMS reproducible branding icon_rejected signed)
    add_variant_test(${mode})
endforeach()
