// Own network namespace per test (port 161 never shared), diagnostics silenced.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"

namespace testnetio {

class IsolatedNetio : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    netio::SetDiagnosticsSink(nullptr);
  }
  CNetIO netio_;
};

}  // namespace testnetio
