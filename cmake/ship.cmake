# Shipping setup.exe: Authenticode signing after it links, where a
# certificate is named, and the distribution medium around it.

# The password is read from LAUNCHER_SIGN_PASSWORD when setup.exe is signed,
# and is never kept in the cache, the build files or the log.
set(LAUNCHER_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 certificate to sign setup.exe with; empty: unsigned")
set(LAUNCHER_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signature; empty: none")
set(LAUNCHER_SIGN_URL "" CACHE STRING "The product's URL in the signature; empty: none")
if(LAUNCHER_SIGN_PKCS12)
    get_filename_component(certificate "${LAUNCHER_SIGN_PKCS12}" ABSOLUTE)
    if(NOT EXISTS "${certificate}" OR IS_DIRECTORY "${certificate}")
        message(FATAL_ERROR "LAUNCHER_SIGN_PKCS12 ${certificate}: no such file")
    endif()
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    add_custom_command(TARGET setup POST_BUILD
        COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cmake/sign.sh $<TARGET_FILE:setup> ${certificate}
                "${LAUNCHER_PRODUCT_NAME}" "${LAUNCHER_SIGN_URL}" "${LAUNCHER_SIGN_TIMESTAMP_URL}"
        COMMENT "Signing setup.exe with ${certificate}"
        VERBATIM)
    set_property(TARGET setup APPEND PROPERTY LINK_DEPENDS ${certificate})
endif()

# The medium: the tree in medium/ (for USB sticks and shares) and the same as
# an ISO 9660 image with Joliet names, medium.iso (for discs and downloads).
set(LAUNCHER_MEDIUM_INSTALLER "" CACHE FILEPATH "The publisher's installer, laid out as windows\\setup\\setup.exe")
set(LAUNCHER_MEDIUM_FILES "" CACHE PATH "A folder of further files for the medium, copied as they are")
set(LAUNCHER_MEDIUM_LABEL "SETUP" CACHE STRING "The medium's volume label")
add_custom_target(medium
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cmake/medium.sh $<TARGET_FILE:setup>
            "${LAUNCHER_MEDIUM_INSTALLER}" "${LAUNCHER_MEDIUM_FILES}" "${LAUNCHER_MEDIUM_LABEL}"
            ${CMAKE_CURRENT_BINARY_DIR}/medium ${CMAKE_CURRENT_BINARY_DIR}/medium.iso
    DEPENDS setup
    COMMENT "Laying out the medium and writing medium.iso"
    VERBATIM)
