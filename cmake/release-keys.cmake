# The public keys a program trusts to sign its releases (NORVA_RELEASE_KEYS):
# one or two uncompressed ECDSA P-256 points, each 130 hexadecimal digits
# starting with 04, separated by ';'. Two keys let a vendor move to a new key.
#
# norva_release_key_initialisers(<keys> <out> <out_count>) checks the keys and
# sets <out> to their C++ initialisers, one {{0x..,...}} of the point's 64 bytes
# X and Y per key, and <out_count> to their number (0 and nothing for no key);
# a key of another form stops the configure step.
#
# As a script it only checks: cmake -DNORVA_RELEASE_KEYS=<keys> -P cmake/release-keys.cmake

function(norva_release_key_initialisers keys out out_count)
  list(LENGTH keys count)
  if(count GREATER 2)
    message(FATAL_ERROR "NORVA_RELEASE_KEYS names ${count} keys; at most two (the current and the next) are trusted")
  endif()
  set(initialisers "")
  set(valid 0)
  foreach(key IN LISTS keys)
    string(STRIP "${key}" key)
    if(NOT key MATCHES "^04[0-9A-Fa-f]+$")
      message(FATAL_ERROR "NORVA_RELEASE_KEYS: '${key}' is not an uncompressed P-256 point: 130 hexadecimal "
                          "digits starting with 04, as `tools/release/release-sign.py pubkey` prints it")
    endif()
    string(LENGTH "${key}" digits)
    if(NOT digits EQUAL 130)
      message(FATAL_ERROR "NORVA_RELEASE_KEYS: a key has 130 hexadecimal digits (04, X and Y), "
                          "not ${digits}: '${key}'")
    endif()
    string(SUBSTRING "${key}" 2 128 point)
    string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1," bytes "${point}")
    string(REGEX REPLACE ",$" "" bytes "${bytes}")
    list(APPEND initialisers "{{${bytes}}}")
    math(EXPR valid "${valid} + 1")
  endforeach()
  string(REPLACE ";" ",\n    " initialisers "${initialisers}")
  set(${out} "${initialisers}" PARENT_SCOPE)
  set(${out_count} ${valid} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  norva_release_key_initialisers("${NORVA_RELEASE_KEYS}" initialisers count)
  message(STATUS "NORVA_RELEASE_KEYS: ${count} key(s)")
endif()
