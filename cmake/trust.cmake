# The certificates an https server's chain must lead to. Empty: the system's trust store.
# A publisher's own CA, or a pin of the server's certificate, replaces that store entirely; the
# tests' builds name their own CA here too.
set(UPDATER_CA_FILE "" CACHE FILEPATH
    "PEM file of the certificates to trust for https in place of the system's store; empty for the system's store")
set(_trusted_pem "")
if(NOT UPDATER_CA_FILE STREQUAL "")
    get_filename_component(_ca_file "${UPDATER_CA_FILE}" ABSOLUTE)
    if(NOT EXISTS "${_ca_file}" OR IS_DIRECTORY "${_ca_file}")
        message(FATAL_ERROR "UPDATER_CA_FILE \"${UPDATER_CA_FILE}\" is no file")
    endif()
    file(READ "${_ca_file}" _trusted_pem)
    # Whole blocks of base64 only: a half-copied certificate would otherwise reach the program,
    # which then trusts nothing at all.
    string(REGEX MATCHALL
        "-----BEGIN CERTIFICATE-----[\r\n]+[A-Za-z0-9+/=\r\n]+-----END CERTIFICATE-----"
        _blocks "${_trusted_pem}")
    string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----" _starts "${_trusted_pem}")
    list(LENGTH _blocks _block_count)
    list(LENGTH _starts _start_count)
    if(_block_count EQUAL 0 OR NOT _block_count EQUAL _start_count)
        message(FATAL_ERROR "UPDATER_CA_FILE \"${UPDATER_CA_FILE}\" holds no PEM certificate, or "
                            "one cut short: it must hold whole \"-----BEGIN CERTIFICATE-----\" "
                            "blocks")
    endif()
    # Only the certificates are compiled in, never a key that may sit beside them in the file.
    string(JOIN "\n" _trusted_pem ${_blocks})
    string(APPEND _trusted_pem "\n")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_ca_file}")
    message(STATUS "https trusts the ${_block_count} certificate(s) of ${_ca_file}")
endif()

# As the bytes of a char array: any size, any character, no escaping to get wrong.
string(HEX "${_trusted_pem}" _hex)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," _bytes "${_hex}")
set(_source "// Made at configure time from UPDATER_CA_FILE; do not edit.\n")
string(APPEND _source "static const char trustedPem[] = { ${_bytes} '\\0' };\n")
set(updater_generated_dir "${CMAKE_BINARY_DIR}/generated")
# Written only when it changes, so a configure run does not force a rebuild.
file(WRITE "${updater_generated_dir}/trustedpem.inc.new" "${_source}")
configure_file("${updater_generated_dir}/trustedpem.inc.new" "${updater_generated_dir}/trustedpem.inc"
               COPYONLY)
