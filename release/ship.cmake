# Shipping setup.exe: made from the linked image (setup_unsigned), signed
# and timestamped where a key is named, a plain copy otherwise; and the
# distribution medium around it. Expects SETUP_EXE, the shipped file's path,
# SETUP_UNSIGNED, the linked image's, and SETUP_UNSIGNED_DEPENDS, what makes
# it; MEDIUM_RUN, where set, is the command the layout step runs under.

# setup.exe is signed with a key in a PKCS#12 file, with one that never
# leaves its token (a USB token, an HSM, a cloud key service), reached through
# the vendor's PKCS#11 module, or by a signing command of the publisher's (a
# cloud signer's tool, jsign, a signing service). The password or PIN is
# read from LAUNCHER_SIGN_PASSWORD, or from the file LAUNCHER_SIGN_PASSWORD_FILE
# names (both in the environment), when setup.exe is signed, and is never
# kept in the cache, the build files or the log.
set(LAUNCHER_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 certificate to sign setup.exe with; empty: unsigned")
set(LAUNCHER_SIGN_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the signing key in a token; empty: none")
set(LAUNCHER_SIGN_PKCS11_MODULE "" CACHE FILEPATH "The token vendor's PKCS#11 module")
set(LAUNCHER_SIGN_CERTS "" CACHE FILEPATH "PEM: the token key's certificate, then its intermediates")
set(LAUNCHER_SIGN_COMMAND "" CACHE STRING
    "A signing command (a ;-list: program, arguments), given the unsigned file and the signed file's path")
set(LAUNCHER_SIGN_COMMAND_TIMEOUT 600 CACHE STRING
    "Seconds the signing command may take; past them it is ended, with every process it started")
set(LAUNCHER_SIGN_ROOTS "" CACHE FILEPATH "PEM: a private root the signature is verified against, besides the system's")
option(LAUNCHER_SIGN_ALLOW_NON_RSA "Accept a non-RSA signing key, which Smart App Control refuses" OFF)
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp servers, tried in order (a ;-list); empty: none")
set(LAUNCHER_SIGN_TIMESTAMP_CERTS "" CACHE FILEPATH "PEM: roots of a private timestamp authority, trusted besides the system's")
set(LAUNCHER_SIGN_URL "" CACHE STRING "The product's URL in the signature; empty: none")

# The absolute path of the file a setting names, in <setting>_FILE.
function(require_file setting)
    if("${${setting}}" STREQUAL "")
        message(FATAL_ERROR "${setting} is not set: signing with a token's key needs it")
    endif()
    get_filename_component(file "${${setting}}" ABSOLUTE)
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        message(FATAL_ERROR "${setting} ${file}: no such file")
    endif()
    set(${setting}_FILE "${file}" PARENT_SCOPE)
endfunction()

set(SIGN_ROUTE "")
set(routes 0)
foreach(named IN ITEMS LAUNCHER_SIGN_PKCS12 LAUNCHER_SIGN_PKCS11_KEY LAUNCHER_SIGN_COMMAND)
    if(${named} OR (named STREQUAL LAUNCHER_SIGN_PKCS11_KEY AND (LAUNCHER_SIGN_PKCS11_MODULE OR LAUNCHER_SIGN_CERTS)))
        math(EXPR routes "${routes} + 1")
    endif()
endforeach()
if(routes GREATER 1)
    message(FATAL_ERROR "LAUNCHER_SIGN_PKCS12, LAUNCHER_SIGN_PKCS11_KEY and LAUNCHER_SIGN_COMMAND: "
                        "sign with a PKCS#12 file, a token's key or a signing command, one of them")
elseif(LAUNCHER_SIGN_COMMAND)
    if(NOT LAUNCHER_SIGN_COMMAND_TIMEOUT MATCHES "^[1-9][0-9]*$")
        message(FATAL_ERROR "LAUNCHER_SIGN_COMMAND_TIMEOUT \"${LAUNCHER_SIGN_COMMAND_TIMEOUT}\": "
                            "a whole number of seconds, 1 or more")
    endif()
    set(SIGN_ROUTE command ${LAUNCHER_SIGN_COMMAND})
    set(SIGN_INPUT "the signing command")
elseif(LAUNCHER_SIGN_PKCS12)
    require_file(LAUNCHER_SIGN_PKCS12)
    set(SIGN_ROUTE pkcs12 ${LAUNCHER_SIGN_PKCS12_FILE})
    set(SIGN_INPUT ${LAUNCHER_SIGN_PKCS12_FILE})
    set(SIGN_FILES ${SIGN_INPUT})
elseif(LAUNCHER_SIGN_PKCS11_KEY OR LAUNCHER_SIGN_PKCS11_MODULE OR LAUNCHER_SIGN_CERTS)
    if(NOT LAUNCHER_SIGN_PKCS11_KEY MATCHES "^pkcs11:")
        message(FATAL_ERROR "LAUNCHER_SIGN_PKCS11_KEY \"${LAUNCHER_SIGN_PKCS11_KEY}\": "
                            "not a pkcs11: URI, such as pkcs11:token=Contoso;object=codesign;type=private")
    endif()
    if(LAUNCHER_SIGN_PKCS11_KEY MATCHES "pin-value|pin-source")
        message(FATAL_ERROR "LAUNCHER_SIGN_PKCS11_KEY holds a PIN, which the cache would keep: "
                            "leave it out and set LAUNCHER_SIGN_PASSWORD in the environment")
    endif()
    require_file(LAUNCHER_SIGN_PKCS11_MODULE)
    require_file(LAUNCHER_SIGN_CERTS)
    execute_process(COMMAND openssl engine -t pkcs11 RESULT_VARIABLE engine OUTPUT_QUIET ERROR_QUIET)
    if(NOT engine EQUAL 0)
        message(FATAL_ERROR "LAUNCHER_SIGN_PKCS11_KEY: OpenSSL's pkcs11 engine is not installed "
                            "(Debian: libengine-pkcs11-openssl)")
    endif()
    # A URI holds ';', which would split the command's argument.
    string(REPLACE ";" "$<SEMICOLON>" key "${LAUNCHER_SIGN_PKCS11_KEY}")
    set(SIGN_ROUTE pkcs11 "${key}" ${LAUNCHER_SIGN_PKCS11_MODULE_FILE} ${LAUNCHER_SIGN_CERTS_FILE})
    set(SIGN_INPUT ${LAUNCHER_SIGN_CERTS_FILE})
    set(SIGN_FILES ${SIGN_INPUT})
endif()
# Any change of these settings makes setup.exe again, as a newer link does.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/setup.exe.settings CONTENT
     "${SIGN_ROUTE}\n${LAUNCHER_SIGN_COMMAND_TIMEOUT}\n${LAUNCHER_PRODUCT_NAME}\n${LAUNCHER_SIGN_URL}\n${LAUNCHER_SIGN_TIMESTAMP_URL}\n${LAUNCHER_SIGN_TIMESTAMP_CERTS}\n${LAUNCHER_SIGN_ROOTS}\n${LAUNCHER_SIGN_ALLOW_NON_RSA}\n")
if(SIGN_ROUTE)
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    foreach(roots IN ITEMS TIMESTAMP_CERTS ROOTS)
        set(${roots} "")
        if(LAUNCHER_SIGN_${roots})
            require_file(LAUNCHER_SIGN_${roots})
            set(${roots} ${LAUNCHER_SIGN_${roots}_FILE})
        endif()
    endforeach()
    string(REPLACE ";" "$<SEMICOLON>" servers "${LAUNCHER_SIGN_TIMESTAMP_URL}")
    string(REPLACE ";" "$<SEMICOLON>" product "${LAUNCHER_PRODUCT_NAME}")
    add_custom_command(OUTPUT ${SETUP_EXE}
        BYPRODUCTS ${SETUP_EXE}.sig
        COMMAND ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${OSSLSIGNCODE}
                /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/release/sign.py ${SETUP_UNSIGNED} ${SETUP_EXE}
                "${product}" "${LAUNCHER_SIGN_URL}" "${servers}" "${TIMESTAMP_CERTS}" "${ROOTS}"
                "${LAUNCHER_SIGN_ALLOW_NON_RSA}" "${LAUNCHER_SIGN_COMMAND_TIMEOUT}" ${SIGN_ROUTE}
        DEPENDS ${SETUP_UNSIGNED_DEPENDS} ${SIGN_FILES} ${TIMESTAMP_CERTS} ${ROOTS} release/sign.py release/signature.py
                release/pe_image.py release/shown.py
                ${CMAKE_CURRENT_BINARY_DIR}/setup.exe.settings
        COMMENT "Signing setup.exe with ${SIGN_INPUT}"
        VERBATIM)
else()
    # Through a temporary name: a copy cut short never stands as setup.exe.
    # No signature, so none beside it from an earlier signed build.
    add_custom_command(OUTPUT ${SETUP_EXE}
        COMMAND ${CMAKE_COMMAND} -E rm -f ${SETUP_EXE}.sig
        COMMAND ${CMAKE_COMMAND} -E copy ${SETUP_UNSIGNED} ${SETUP_EXE}.partial
        COMMAND ${CMAKE_COMMAND} -E rename ${SETUP_EXE}.partial ${SETUP_EXE}
        DEPENDS ${SETUP_UNSIGNED_DEPENDS} ${CMAKE_CURRENT_BINARY_DIR}/setup.exe.settings
        VERBATIM)
endif()
add_custom_target(setup ALL DEPENDS ${SETUP_EXE})

# The medium: the tree in medium/ (for USB sticks and shares) and the same as
# an ISO 9660 image with Joliet names, medium.iso (for discs and downloads).
set(LAUNCHER_MEDIUM_INSTALLER "" CACHE FILEPATH "The publisher's installer, laid out as windows\\setup\\setup.exe")
set(LAUNCHER_MEDIUM_FILES "" CACHE PATH "A folder of further files for the medium, copied as they are")
set(LAUNCHER_MEDIUM_LABEL "SETUP" CACHE STRING "The medium's volume label")
option(LAUNCHER_MEDIUM_REQUIRE_SIGNED "Refuse a medium with a program that is unsigned, broken, or signed with a non-RSA key or MD5 or SHA-1" OFF)
add_custom_target(medium
    COMMAND ${MEDIUM_RUN} bash ${CMAKE_CURRENT_SOURCE_DIR}/release/medium.sh ${SETUP_EXE}
            "${LAUNCHER_MEDIUM_INSTALLER}" "${LAUNCHER_MEDIUM_FILES}" "${LAUNCHER_MEDIUM_LABEL}"
            ${CMAKE_CURRENT_BINARY_DIR}/medium ${CMAKE_CURRENT_BINARY_DIR}/medium.iso
            $<BOOL:${LAUNCHER_MEDIUM_REQUIRE_SIGNED}>
    DEPENDS setup
    COMMENT "Laying out the medium and writing medium.iso"
    VERBATIM)
