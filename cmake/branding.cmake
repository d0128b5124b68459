# The publisher's branding of setup.exe: the icon embedded as group 1 and the
# version information. Sets BRANDING_RES, the compiled resources to link in.
set(LAUNCHER_ICON "" CACHE FILEPATH
    "Icon (.ico) with a 32x32 and a 16x16 image; empty for the launcher's own")
set(LAUNCHER_PRODUCT_NAME "Setup" CACHE STRING "Version information: product name")
set(LAUNCHER_COMPANY_NAME "" CACHE STRING "Version information: company")
set(LAUNCHER_FILE_DESCRIPTION "Setup launcher" CACHE STRING "Version information: file description")
set(LAUNCHER_FILE_VERSION "1.0.0.0" CACHE STRING "Version information: file version, as 1.2.3.4")
set(LAUNCHER_PRODUCT_VERSION "1.0.0.0" CACHE STRING "Version information: product version, as 1.2.3.4")
set(LAUNCHER_COPYRIGHT "" CACHE STRING "Version information: copyright")
# (A build in the pinned toolchain's root takes the settings alone here.)
if(BRANDING_SETTINGS_ONLY)
    return()
endif()

# A readable .ico whose images include a 32x32 and a 16x16 one.
function(check_icon file)
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        message(FATAL_ERROR "LAUNCHER_ICON ${file}: no such file")
    endif()
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    macro(read_u16 offset var)
        math(EXPR _at "(${offset}) * 2")
        string(SUBSTRING "${hex}" ${_at} 4 _pair)
        string(SUBSTRING "${_pair}" 2 2 _high)
        string(SUBSTRING "${_pair}" 0 2 _low)
        math(EXPR ${var} "0x${_high}${_low}")
    endmacro()
    if(size LESS 6)
        message(FATAL_ERROR "LAUNCHER_ICON ${file}: not an icon file (too short)")
    endif()
    read_u16(0 reserved)
    read_u16(2 type)
    read_u16(4 count)
    math(EXPR directoryEnd "6 + 16 * ${count}")
    if(NOT reserved EQUAL 0 OR NOT type EQUAL 1 OR count EQUAL 0 OR size LESS directoryEnd)
        message(FATAL_ERROR "LAUNCHER_ICON ${file}: not an icon file")
    endif()
    set(sizes "")
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        math(EXPR entry "6 + 16 * ${i}")
        math(EXPR widthAt "${entry} * 2")
        string(SUBSTRING "${hex}" ${widthAt} 2 width)
        math(EXPR heightAt "(${entry} + 1) * 2")
        string(SUBSTRING "${hex}" ${heightAt} 2 height)
        math(EXPR width "0x${width}")
        math(EXPR height "0x${height}")
        math(EXPR bytesAt "${entry} + 8")
        math(EXPR offsetAt "${entry} + 12")
        read_u16(${bytesAt} bytesLow)
        math(EXPR bytesHighAt "${bytesAt} + 2")
        read_u16(${bytesHighAt} bytesHigh)
        read_u16(${offsetAt} offsetLow)
        math(EXPR offsetHighAt "${offsetAt} + 2")
        read_u16(${offsetHighAt} offsetHigh)
        math(EXPR imageEnd "(${offsetHigh} << 16) + ${offsetLow} + (${bytesHigh} << 16) + ${bytesLow}")
        if(imageEnd GREATER size)
            message(FATAL_ERROR "LAUNCHER_ICON ${file}: image ${i} runs past the end of the file")
        endif()
        list(APPEND sizes "${width}x${height}")
    endforeach()
    foreach(needed IN ITEMS 32x32 16x16)
        if(NOT needed IN_LIST sizes)
            message(FATAL_ERROR "LAUNCHER_ICON ${file}: has no ${needed} image (it has: ${sizes})")
        endif()
    endforeach()
endfunction()

# "1.2.3" as the four numbers of a version resource: 1,2,3,0.
function(version_numbers variable text out)
    if(NOT text MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
        message(FATAL_ERROR "${variable} \"${text}\": a version is one to four numbers, as 1.2.3.4")
    endif()
    string(REPLACE "." ";" numbers "${text}")
    list(LENGTH numbers count)
    while(count LESS 4)
        list(APPEND numbers 0)
        math(EXPR count "${count} + 1")
    endwhile()
    foreach(number IN LISTS numbers)
        if(number GREATER 65535)
            message(FATAL_ERROR "${variable} \"${text}\": each number is at most 65535")
        endif()
    endforeach()
    string(REPLACE ";" "," numbers "${numbers}")
    set(${out} "${numbers}" PARENT_SCOPE)
endfunction()

function(rc_string text out)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "\"\"" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(BRANDING_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources)
if(LAUNCHER_ICON)
    get_filename_component(icon "${LAUNCHER_ICON}" ABSOLUTE)
    check_icon("${icon}")
else()
    set(icon ${BRANDING_DIR}/setup.ico)
    add_custom_command(
        OUTPUT ${icon}
        COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_icon.py
                ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon.txt ${icon}
        DEPENDS resources/make_icon.py resources/icon.txt
        COMMENT "Drawing the launcher's icon"
        VERBATIM)
endif()
rc_string("${icon}" BRANDING_ICON)
set(manifest ${CMAKE_CURRENT_SOURCE_DIR}/resources/setup.manifest)
rc_string("${manifest}" BRANDING_MANIFEST)
version_numbers(LAUNCHER_FILE_VERSION "${LAUNCHER_FILE_VERSION}" BRANDING_FILE_VERSION_NUMBERS)
version_numbers(LAUNCHER_PRODUCT_VERSION "${LAUNCHER_PRODUCT_VERSION}" BRANDING_PRODUCT_VERSION_NUMBERS)

# Empty values are left out of the version information.
set(BRANDING_STRINGS "")
foreach(entry IN ITEMS CompanyName=COMPANY_NAME FileDescription=FILE_DESCRIPTION
                       FileVersion=FILE_VERSION LegalCopyright=COPYRIGHT
                       ProductName=PRODUCT_NAME ProductVersion=PRODUCT_VERSION)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 key)
    list(GET entry 1 setting)
    if(NOT LAUNCHER_${setting} STREQUAL "")
        rc_string("${LAUNCHER_${setting}}" value)
        string(APPEND BRANDING_STRINGS "            VALUE \"${key}\", \"${value}\"\n")
    endif()
endforeach()

# The commit the sources are, asked at every build (cmake/source_commit.cmake),
# after what kind of build this is, where it is not the usual one.
set(BRANDING_SOURCE ${BRANDING_DIR}/source_commit.h)
set(BRANDING_KIND "")
if(LAUNCHER_DEPLOYMENT)
    set(BRANDING_KIND "deployment build")
endif()
add_custom_target(source_commit
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR} -DOUTPUT=${BRANDING_SOURCE}
            "-DKIND=${BRANDING_KIND}"
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/source_commit.cmake
    BYPRODUCTS ${BRANDING_SOURCE}
    VERBATIM)

# windres hands the script's path to its preprocessor through a shell (or,
# with a temporary file, its own word splitting, which a quote in the path
# breaks), so it is compiled in its own folder by its bare name: a '$', a '
# or a blank in the checkout's path never reaches either.
configure_file(resources/setup.rc.in ${BRANDING_DIR}/setup.rc @ONLY)
set(BRANDING_RES ${BRANDING_DIR}/setup.res.obj)
add_custom_command(OUTPUT ${BRANDING_RES}
    COMMAND ${CMAKE_RC_COMPILER} -O coff setup.rc setup.res.obj
    WORKING_DIRECTORY ${BRANDING_DIR}
    DEPENDS ${BRANDING_DIR}/setup.rc ${icon} ${manifest} ${BRANDING_SOURCE}
    COMMENT "Compiling the resources"
    VERBATIM)
