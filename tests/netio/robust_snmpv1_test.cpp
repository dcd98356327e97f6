// The SNMPv1 status read under hostile input: a responder on the printer's
// address floods the client with junk, cut, oversized and replayed datagrams,
// and strangers join in. No datagram but a well-formed answer may yield a
// record, no read may outlast its one receive, and hundreds of reads under
// attack leave memory and descriptors where they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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

using testnetio::RecordBytes;
using testnetio::Untouched;

using robust::Bytes;
using std::chrono::milliseconds;
using testenv::Reply;

const char kPrinter[] = "127.0.0.2";

Bytes Answer(uint8_t level) {
  const std::string id = testenv::DeviceIdWithLevel(level);
  return testmsg::Response(testmsg::kDeviceIdOid, 0x04, Bytes(id.begin(), id.end()));
}

Reply From(const Bytes& bytes, const std::string& sender, int ms = 0) {
  Reply r(bytes, milliseconds(ms));
  r.fromAddress = sender;
  r.fromPort = 161;
  return r;
}

class RobustV1 : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    netio::SetDiagnosticsSink(nullptr);
  }

  // Every copy of every request is answered by `script(index of the read)`.
  // The responder outlives the test body: scripts hold copies, not references.
  void Start(std::function<std::vector<Reply>(size_t read)> script) {
    printer_ = std::make_unique<testenv::Responder>(
        kPrinter, [script](const testenv::Datagram&, size_t index) { return script(index / 3); });
    std::string why;
    ASSERT_TRUE(printer_->Start(&why)) << why;
  }

  // A read against the responder; the one receive must end well inside a second.
  int Read(PRINTER_STATUS* status) {
    const auto start = std::chrono::steady_clock::now();
    const int result = NetworkReadStatus("public", kPrinter, status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    return result;
  }

  std::unique_ptr<testenv::Responder> printer_;
};

TEST_F(RobustV1, NoHostileDatagramYieldsARecord) {
  const std::vector<robust::Hostile> rows = robust::HostileFrom(Answer(0x21));
  ASSERT_NO_FATAL_FAILURE(Start([rows](size_t read) {
    return read < rows.size() ? std::vector<Reply>{Reply(rows[read].bytes)} : std::vector<Reply>{};
  }));
  // An earlier printer's device ID must not be decoded for a broken answer.
  const std::string earlier = testenv::DeviceIdWithLevel(0x63);
  for (const auto& row : rows) {
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(Read(&status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
  }
  EXPECT_TRUE(printer_->Errors().empty()) << printer_->Errors().front();
}

TEST_F(RobustV1, TheAnswerInAFloodIsReadAndTheFloodIsNot) {
  const Bytes answer = Answer(0x2A);
  std::vector<Reply> flood = {Reply(answer)};
  for (const auto& hostile : robust::HostileFrom(answer)) {
    flood.push_back(Reply(hostile.bytes));
    flood.push_back(From(hostile.bytes, "127.0.0.3"));
    flood.push_back(Reply(answer));  // replayed
  }
  // Read 0 is answered first; read 1 only by strangers, then by the flood without the answer.
  ASSERT_NO_FATAL_FAILURE(Start([flood, answer](size_t read) {
    if (read == 0) return flood;
    std::vector<Reply> strangers;
    for (int i = 0; i < 20; ++i) strangers.push_back(From(Answer(0x55), "127.0.0.3"));
    if (read == 1) return strangers;
    std::vector<Reply> rest(flood.begin() + 1, flood.end());
    rest.erase(std::remove_if(rest.begin(), rest.end(),
                              [&answer](const Reply& r) { return r.bytes == answer; }),
               rest.end());
    return rest;
  }));
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(Read(&status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x2A));
  for (const char* what : {"strangers only", "flood without the answer"}) {
    PRINTER_STATUS again = Untouched();
    EXPECT_EQ(Read(&again), 0) << what;
    EXPECT_EQ(RecordBytes(again), RecordBytes(Untouched())) << what;
  }
}

TEST_F(RobustV1, MemoryAndDescriptorsStayFlatUnderAttack) {
  const Bytes answer = Answer(0x30);
  std::vector<Reply> flood;
  for (const auto& hostile : robust::HostileFrom(answer)) flood.push_back(Reply(hostile.bytes));
  // Every fourth read gets the answer first; the others see only the flood.
  ASSERT_NO_FATAL_FAILURE(Start([flood, answer](size_t read) {
    std::vector<Reply> replies = flood;
    if (read % 4 == 0) replies.insert(replies.begin(), Reply(answer));
    return replies;
  }));
  PRINTER_STATUS status;
  Read(&status);  // first-use allocations of the C library are not ours
  const long residentBefore = robust::ResidentKiB();
  const int descriptorsBefore = robust::OpenDescriptors();
  int decoded = 0;
  const int kReads = 200;
  for (int i = 1; i <= kReads; ++i) {
    status = Untouched();
    if (Read(&status) == 1) {
      ++decoded;
      EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x30)) << "read " << i;
    }
  }
  EXPECT_EQ(decoded, kReads / 4);
  EXPECT_EQ(robust::OpenDescriptors(), descriptorsBefore);
  if (robust::kResidentSizeMeaningful) {
    EXPECT_LT(robust::ResidentKiB() - residentBefore, 512) << "KiB grown over " << kReads << " reads";
  }
}

}  // namespace
