# Run at every build (cmake -P): writes into OUTPUT the commit the sources in
# SOURCE_DIR are, for the version information's Comments, so that a shipped
# setup.exe names what rebuilds it: "commit HASH", with " and uncommitted
# changes" where the working tree differs from it, after KIND and a comma
# where there is one ("deployment build"). The file is rewritten only when
# that changes, so an unchanged tree builds nothing again.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --verify --quiet HEAD
                OUTPUT_VARIABLE commit RESULT_VARIABLE failed
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(failed)
    set(text "no commit: not built from a git checkout")
else()
    # No optional locks: a build never writes the checkout's index.
    execute_process(COMMAND git --no-optional-locks -C "${SOURCE_DIR}" status --porcelain
                    OUTPUT_VARIABLE changes RESULT_VARIABLE failed ERROR_QUIET)
    set(text "commit ${commit}")
    if(failed OR NOT changes STREQUAL "")
        string(APPEND text " and uncommitted changes")
    endif()
endif()
if(KIND)
    set(text "${KIND}, ${text}")
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "#define LAUNCHER_SOURCE \"${text}\"\n")
