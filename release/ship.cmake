# Shipping setup.exe: made from the linked image (setup_unsigned), signed
# and timestamped where a key is named, a plain copy otherwise; and the
# distribution medium around it. Expects SETUP_EXE, the shipped file's path.

# setup.exe is signed with a key in a PKCS#12 file, or with one that never
# leaves its token (a USB token, an HSM, a cloud key service), reached through
# the vendor's PKCS#11 module. The password or PIN is read from
# LAUNCHER_SIGN_PASSWORD when setup.exe is signed, and is never kept in the
# cache, the build files or the log.
set(LAUNCHER_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 certificate to sign setup.exe with; empty: unsigned")
set(LAUNCHER_SIGN_PKCS11_KEY "" CACHE STRING "pkcs11: URI of the signing key in a token; empty: none")
set(LAUNCHER_SIGN_PKCS11_MODULE "" CACHE FILEPATH "The token vendor's PKCS#11 module")
set(LAUNCHER_SIGN_CERTS "" CACHE FILEPATH "PEM: the token key's certificate, then its intermediates")
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
if(LAUNCHER_SIGN_PKCS12 AND (LAUNCHER_SIGN_PKCS11_KEY OR LAUNCHER_SIGN_PKCS11_MODULE OR LAUNCHER_SIGN_CERTS))
    message(FATAL_ERROR "LAUNCHER_SIGN_PKCS12 and LAUNCHER_SIGN_PKCS11_KEY: sign with a PKCS#12 file "
                        "or with a token's key, not both")
elseif(LAUNCHER_SIGN_PKCS12)
    require_file(LAUNCHER_SIGN_PKCS12)
    set(SIGN_ROUTE pkcs12 ${LAUNCHER_SIGN_PKCS12_FILE})
    set(SIGN_INPUT ${LAUNCHER_SIGN_PKCS12_FILE})
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
endif()
# Any change of these settings makes setup.exe again, as a newer link does.
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/setup.exe.settings CONTENT
     "${SIGN_ROUTE}\n${LAUNCHER_PRODUCT_NAME}\n${LAUNCHER_SIGN_URL}\n${LAUNCHER_SIGN_TIMESTAMP_URL}\n${LAUNCHER_SIGN_TIMESTAMP_CERTS}\n")
if(SIGN_ROUTE)
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    set(timestamp_certs "")
    if(LAUNCHER_SIGN_TIMESTAMP_CERTS)
        get_filename_component(timestamp_certs "${LAUNCHER_SIGN_TIMESTAMP_CERTS}" ABSOLUTE)
        if(NOT EXISTS "${timestamp_certs}" OR IS_DIRECTORY "${timestamp_certs}")
            message(FATAL_ERROR "LAUNCHER_SIGN_TIMESTAMP_CERTS ${timestamp_certs}: no such file")
        endif()
    endif()
    string(REPLACE ";" "$<SEMICOLON>" servers "${LAUNCHER_SIGN_TIMESTAMP_URL}")
    string(REPLACE ";" "$<SEMICOLON>" product "${LAUNCHER_PRODUCT_NAME}")
    add_custom_command(OUTPUT ${SETUP_EXE}
        BYPRODUCTS ${SETUP_EXE}.sig
        COMMAND ${CMAKE_COMMAND} -E env OSSLSIGNCODE=${OSSLSIGNCODE}
                bash ${CMAKE_CURRENT_SOURCE_DIR}/release/sign.sh $<TARGET_FILE:setup_unsigned> ${SETUP_EXE}
                "${product}" "${LAUNCHER_SIGN_URL}" "${servers}" "${timestamp_certs}" ${SIGN_ROUTE}
        DEPENDS setup_unsigned ${SIGN_INPUT} ${timestamp_certs} release/sign.sh
                ${CMAKE_CURRENT_BINARY_DIR}/setup.exe.settings
        COMMENT "Signing setup.exe with ${SIGN_INPUT}"
        VERBATIM)
else()
    # Through a temporary name: a copy cut short never stands as setup.exe.
    # No signature, so none beside it from an earlier signed build.
    add_custom_command(OUTPUT ${SETUP_EXE}
        COMMAND ${CMAKE_COMMAND} -E rm -f ${SETUP_EXE}.sig
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:setup_unsigned> ${SETUP_EXE}.partial
        COMMAND ${CMAKE_COMMAND} -E rename ${SETUP_EXE}.partial ${SETUP_EXE}
        DEPENDS setup_unsigned ${CMAKE_CURRENT_BINARY_DIR}/setup.exe.settings
        VERBATIM)
endif()
add_custom_target(setup ALL DEPENDS ${SETUP_EXE})

# The medium: the tree in medium/ (for USB sticks and shares) and the same as
# an ISO 9660 image with Joliet names, medium.iso (for discs and downloads).
set(LAUNCHER_MEDIUM_INSTALLER "" CACHE FILEPATH "The publisher's installer, laid out as windows\\setup\\setup.exe")
set(LAUNCHER_MEDIUM_FILES "" CACHE PATH "A folder of further files for the medium, copied as they are")
set(LAUNCHER_MEDIUM_LABEL "SETUP" CACHE STRING "The medium's volume label")
add_custom_target(medium
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/release/medium.sh ${SETUP_EXE}
            "${LAUNCHER_MEDIUM_INSTALLER}" "${LAUNCHER_MEDIUM_FILES}" "${LAUNCHER_MEDIUM_LABEL}"
            ${CMAKE_CURRENT_BINARY_DIR}/medium ${CMAKE_CURRENT_BINARY_DIR}/medium.iso
    DEPENDS setup
    COMMENT "Laying out the medium and writing medium.iso"
    VERBATIM)
