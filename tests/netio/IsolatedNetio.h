// The fixture of every test that runs an agent or a responder: its own
// network namespace, so concurrent tests never share port 161, and the
// library's diagnostics silenced.
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
