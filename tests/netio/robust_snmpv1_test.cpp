// The SNMPv1 status read under hostile input: a responder on the printer's
// address answers with junk, cut and oversized datagrams, and strangers join in. No datagram but a well-formed answer may yield a
// record, and hundreds of reads under attack leave memory and descriptors
// where they were.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/Messages.h"
#include "tests/netio/RobustPeer.h"
#include "tests/netio/StatusRecords.h"

namespace {

using robust::Bytes;
using testenv::Reply;
using testnetio::RecordBytes;
using testnetio::Untouched;

const char kPrinter[] = "127.0.0.2";

Bytes Answer(uint8_t level) {
  return testmsg::Response(testmsg::kDeviceIdOid, 0x04,
                           testmsg::Text(testenv::DeviceIdWithLevel(level)));
}

std::vector<Reply> Replies(const std::vector<Bytes>& datagrams, const std::string& from = "") {
  std::vector<Reply> out;
  for (const auto& d : datagrams) {
    out.push_back(Reply(d));
    if (!from.empty()) {
      out.back().fromAddress = from;
      out.back().fromPort = 161;
    }
  }
  return out;
}

class RobustV1 : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    netio::SetDiagnosticsSink(nullptr);
  }

  // The first copy of each read's request is answered by `script(read)`.
  void Start(std::function<std::vector<Reply>(size_t read)> script) {
    printer_ = std::make_unique<testenv::Responder>(
        kPrinter, [script](const testenv::Datagram&, size_t index) {
          return index % 3 ? std::vector<Reply>{} : script(index / 3);
        });
    std::string why;
    ASSERT_TRUE(printer_->Start(&why)) << why;
  }

  std::unique_ptr<testenv::Responder> printer_;
};

// The read judges the printer's first datagram: each hostile one alone, then
// strangers' answers ahead of the printer's, then strangers only.
TEST_F(RobustV1, NoDatagramButTheAnswerYieldsARecord) {
  const Bytes answer = Answer(0x2A);
  const std::vector<robust::Hostile> rows = robust::HostileFrom(answer);
  std::vector<Reply> strangers = Replies(std::vector<Bytes>(10, Answer(0x55)), "127.0.0.3");
  std::vector<Reply> strangersFirst = strangers;
  strangersFirst.push_back(Reply(answer));
  strangers.resize(20, strangers[0]);
  ASSERT_NO_FATAL_FAILURE(Start([=](size_t read) {
    return read < rows.size() ? std::vector<Reply>{Reply(rows[read].bytes)}
           : read == rows.size() ? strangersFirst : strangers;
  }));
  // An earlier printer's device ID must not be decoded for a broken answer.
  const std::string earlier = testenv::DeviceIdWithLevel(0x63);
  for (const auto& row : rows) {
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatus("public", kPrinter, &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
  }
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatus("public", kPrinter, &status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x2A));
  status = Untouched();
  EXPECT_EQ(NetworkReadStatus("public", kPrinter, &status), 0) << "strangers only";
  EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched()));
  EXPECT_TRUE(printer_->Errors().empty()) << printer_->Errors().front();
}

TEST_F(RobustV1, MemoryAndDescriptorsStayFlatUnderAttack) {
  const Bytes answer = Answer(0x30);
  const std::vector<Reply> without = Replies(robust::Flood(answer, false));
  std::vector<Reply> with = without;
  with.insert(with.begin(), Reply(answer));
  // Every fourth read gets the answer first; the others see only the flood.
  ASSERT_NO_FATAL_FAILURE(Start([=](size_t read) { return read % 4 ? without : with; }));
  PRINTER_STATUS status;
  NetworkReadStatus("public", kPrinter, &status);  // first-use allocations of the C library
  const long residentBefore = robust::ResidentKiB();
  const int descriptorsBefore = robust::OpenDescriptors();
  int decoded = 0;
  for (int i = 0; i < 200; ++i) {
    status = Untouched();
    if (NetworkReadStatus("public", kPrinter, &status) == 1) {
      ++decoded;
      EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x30)) << "read " << i;
    }
  }
  EXPECT_EQ(decoded, 200 / 4);
  EXPECT_EQ(robust::OpenDescriptors(), descriptorsBefore);
  if (robust::kResidentSizeMeaningful) {
    EXPECT_LT(robust::ResidentKiB() - residentBefore, 512) << "KiB grown over 200 reads";
  }
}

}  // namespace
