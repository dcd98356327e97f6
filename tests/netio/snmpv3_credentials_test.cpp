// The configured SNMPv3 credentials: their form, and that they do not stand
// in the program as plain text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "env/TestEnv.h"
#include "netio/NetIO.h"

namespace {

TEST(SnmpV3Credentials, HaveTheirFormAndAreNotInTheBinaryAsText) {
  _SNMP_PARAM_V3 params{};
  SnmpV3FillCredentials(&params);
  const std::string image = testenv::ReadFile("/proc/self/exe");
  ASSERT_GT(image.size(), 10000u);
  const struct {
    std::string text;
    size_t size;
  } rows[] = {{params.userName, 8}, {params.authPassword, 20}, {params.privPassword, 20}};
  for (const auto& row : rows) {
    EXPECT_EQ(row.text.size(), row.size) << row.text;
    EXPECT_TRUE(std::all_of(row.text.begin(), row.text.end(),
                            [](char c) { return c >= 0x20 && c <= 0x7E; }))
        << row.text;
    EXPECT_EQ(image.find(row.text), std::string::npos) << row.text;
  }
}

}  // namespace
