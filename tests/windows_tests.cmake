# The unit tests under Wine on the real platform, once in the default code
# page and once in 932; end-to-end runs of setup.exe; checks of the image.
add_executable(unit_tests ${UNIT_TESTS})
target_compile_options(unit_tests PRIVATE ${LAUNCHER_WARNINGS})
target_link_libraries(unit_tests PRIVATE launcher_core GTest::gtest_main)
target_link_options(unit_tests PRIVATE -static)

add_test(NAME windows.wine_prefix
         COMMAND ${CMAKE_COMMAND} -E env ${WINE_ENVIRONMENT}
                 sh -c "wineboot -i && wineserver -w")
set_tests_properties(windows.wine_prefix PROPERTIES FIXTURES_SETUP wine)

foreach(codePage IN ITEMS 1252 932)
    add_test(NAME windows.unit.cp${codePage} COMMAND unit_tests)
endforeach()
set_tests_properties(windows.unit.cp1252 PROPERTIES ENVIRONMENT "LC_ALL=C.UTF-8;EXPECTED_ACP=1252")
set_tests_properties(windows.unit.cp932 PROPERTIES ENVIRONMENT "LC_ALL=ja_JP.UTF-8;EXPECTED_ACP=932")
set_tests_properties(windows.unit.cp1252 windows.unit.cp932 PROPERTIES FIXTURES_REQUIRED wine)

# End to end: the real setup.exe started by a Windows-side parent, with a
# probe for the installer.
add_executable(starter e2e/starter.cpp)
add_executable(probe WIN32 e2e/probe.cpp)
foreach(tool IN ITEMS starter probe)
    target_compile_options(${tool} PRIVATE ${LAUNCHER_WARNINGS})
    target_link_options(${tool} PRIVATE -static)
endforeach()

set(E2E_CASES
    quoted quoted_blanks unquoted_blanks quoted_arguments planted_at_blank
    installer_missing overlong_command_line dbcs_directory dbcs_launcher_name
    mapped_drive bare_relative_name busy_installer)
foreach(case IN LISTS E2E_CASES)
    add_test(NAME windows.e2e.${case}
             COMMAND ${CMAKE_COMMAND} -E env ${WINE_ENVIRONMENT}
                     SETUP_EXE=$<TARGET_FILE:setup> PROBE_EXE=$<TARGET_FILE:probe>
                     STARTER_EXE=$<TARGET_FILE:starter> E2E_DIR=${CMAKE_CURRENT_BINARY_DIR}/e2e
                     bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_case.sh ${case})
    set_tests_properties(windows.e2e.${case} PROPERTIES FIXTURES_REQUIRED wine)
endforeach()

# The image as shipped.
foreach(check IN ITEMS imports size subsystem icon version)
    add_test(NAME windows.image.${check}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/image_checks.sh ${check} $<TARGET_FILE:setup>)
endforeach()

# What the build promises, each in fresh build trees of its own.
foreach(mode IN ITEMS reproducible branding icon_rejected)
    add_test(NAME windows.build.${mode}
             COMMAND ${CMAKE_COMMAND} -E env SOURCE_DIR=${CMAKE_SOURCE_DIR}
                     WORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/variants TOOLCHAIN=${CMAKE_TOOLCHAIN_FILE}
                     bash ${CMAKE_CURRENT_SOURCE_DIR}/build_variants.sh ${mode})
endforeach()
