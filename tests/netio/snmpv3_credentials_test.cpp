// The configured SNMPv3 credentials: their form, and that they do not stand
// in the program as plain text.
#include <gtest/gtest.h>

#include <string>

#include "env/TestEnv.h"
#include "netio/NetIO.h"

namespace {

bool Printable(const std::string& s) {
  for (char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

TEST(SnmpV3Credentials, FillTheRecordInTheirConfiguredForm) {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  const std::string user = params.userName, auth = params.authPassword, priv = params.privPassword;
  EXPECT_EQ(user.size(), 8u);
  EXPECT_EQ(auth.size(), 20u);
  EXPECT_EQ(priv.size(), 20u);
  EXPECT_TRUE(Printable(user) && Printable(auth) && Printable(priv));
}

TEST(SnmpV3Credentials, AreNotInTheBinaryAsText) {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  const std::string image = testenv::ReadFile("/proc/self/exe");
  ASSERT_GT(image.size(), 10000u);
  for (const std::string text : {params.userName, params.authPassword, params.privPassword})
    EXPECT_EQ(image.find(text), std::string::npos) << text;
}

}  // namespace
