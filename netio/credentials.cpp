#include <cstddef>

#include "netio/SnmpV3.h"
#include "netio/SnmpV3Credentials.h"

namespace {

template <size_t N>
void Unmask(const unsigned char (&masked)[N], unsigned char salt, char* out) {
  static_assert(N < kSnmpV3CredentialSize, "the record holds the text and its NUL");
  // Read through volatile so the compiler cannot fold the plain text into the code.
  const volatile unsigned char* octets = masked;
  for (size_t i = 0; i < N; ++i)
    out[i] = static_cast<char>(octets[i] ^ static_cast<unsigned char>(salt + i * 0x3B));
  out[N] = '\0';
}

}  // namespace

void SnmpV3FillCredentials(_SNMP_PARAM_V3* params) {
  using namespace snmpv3_credentials;
  Unmask(kMaskedUser, kUserSalt, params->userName);
  Unmask(kMaskedAuth, kAuthSalt, params->authPassword);
  Unmask(kMaskedPriv, kPrivSalt, params->privPassword);
}
