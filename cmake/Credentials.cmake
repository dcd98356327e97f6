# The SNMPv3 credentials of the printers addressed: one USM user, MD5
# authentication and DES privacy passwords. They are checked here so that a
# wrong length or character stops the configure, and are written masked into a
# generated header so the texts do not stand in the binary as string literals.

set(SNMPV3_USER "inkprobe" CACHE STRING "SNMPv3 USM user name (8 printable ASCII characters)")
set(SNMPV3_AUTH_PASSWORD "Mx7-kQ2v.Lr9_Tz4wB6p" CACHE STRING
    "SNMPv3 MD5 authentication password (20 printable ASCII characters)")
set(SNMPV3_PRIV_PASSWORD "Dp3+Hs8n.Wc5=Gy1qJ0f" CACHE STRING
    "SNMPv3 DES privacy password (20 printable ASCII characters)")

function(_usbink_check_credential var length)
  string(LENGTH "${${var}}" actual)
  if(NOT actual EQUAL length)
    message(FATAL_ERROR "${var} must be exactly ${length} printable ASCII characters; "
                        "the value given has ${actual}.")
  endif()
  # Printable ASCII is 0x20 (space) to 0x7E (tilde).
  if(NOT "${${var}}" MATCHES "^[ -~]+$")
    message(FATAL_ERROR "${var} must hold printable ASCII characters only (0x20 to 0x7E).")
  endif()
endfunction()

# Octets of `text` XORed with a position-dependent mask, as a C initializer list.
function(_usbink_masked_octets text salt out)
  string(HEX "${text}" hex)
  string(LENGTH "${hex}" hexlen)
  set(list "")
  set(i 0)
  set(pos 0)
  while(pos LESS hexlen)
    string(SUBSTRING "${hex}" ${pos} 2 octet)
    math(EXPR masked "0x${octet} ^ ((${salt} + ${i} * 0x3B) & 0xFF)" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND list "${masked}, ")
    math(EXPR i "${i} + 1")
    math(EXPR pos "${pos} + 2")
  endwhile()
  set(${out} "${list}" PARENT_SCOPE)
endfunction()

_usbink_check_credential(SNMPV3_USER 8)
_usbink_check_credential(SNMPV3_AUTH_PASSWORD 20)
_usbink_check_credential(SNMPV3_PRIV_PASSWORD 20)

set(USBINK_USER_SALT 0x5A)
set(USBINK_AUTH_SALT 0xA7)
set(USBINK_PRIV_SALT 0x3C)
_usbink_masked_octets("${SNMPV3_USER}" ${USBINK_USER_SALT} USBINK_MASKED_USER)
_usbink_masked_octets("${SNMPV3_AUTH_PASSWORD}" ${USBINK_AUTH_SALT} USBINK_MASKED_AUTH)
_usbink_masked_octets("${SNMPV3_PRIV_PASSWORD}" ${USBINK_PRIV_SALT} USBINK_MASKED_PRIV)

set(USBINK_CREDENTIALS_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
configure_file(${PROJECT_SOURCE_DIR}/cmake/SnmpV3Credentials.h.in
               ${USBINK_CREDENTIALS_DIR}/netio/SnmpV3Credentials.h @ONLY)
