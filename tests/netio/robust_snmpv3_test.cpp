// The SNMPv3 status read under hostile input: a responder on the printer's
// address wraps the Report and the Response in floods of junk, cut, oversized
// and replayed datagrams. Only the genuine answers may count, and the reads
// leave no descriptor behind. Forged and foreign answers are refused one by
// one in snmpv3_status_read_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "env/Responder.h"
#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "netio/diagnostics.h"
#include "tests/netio/RobustPeer.h"
#include "tests/netio/SnmpV3Peer.h"
#include "tests/netio/StatusRecords.h"

namespace {

using namespace snmpv3test;
using testenv::Reply;
using testnetio::RecordBytes;
using testnetio::Untouched;

const char kPrinter[] = "127.0.0.2";

// msgFlags of a request as the client builds it (msgMaxSize 2048 before it).
uint8_t RequestFlags(const testenv::Datagram& d) {
  const Bytes marker = Hex("02 02 08 00 04 01");
  auto at = std::search(d.bytes.begin(), d.bytes.end(), marker.begin(), marker.end());
  return at + 6 < d.bytes.end() ? *(at + 6) : 0;
}

std::vector<Reply> Replies(const std::vector<Bytes>& datagrams) {
  return std::vector<Reply>(datagrams.begin(), datagrams.end());
}

// An authenticated answer's flood also carries the answer with one bit flipped.
std::vector<Bytes> SignedFlood(const Bytes& answer, bool withAnswer) {
  std::vector<Bytes> out = robust::Flood(answer, withAnswer);
  Bytes flipped = answer;
  flipped[answer.size() - 3] ^= 0x01;
  out.insert(out.begin(), flipped);
  return out;
}

class RobustV3 : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    netio::SetDiagnosticsSink(nullptr);
  }

  // The discovery request is answered with `toDiscovery`, every
  // authenticated request with `toRequest`. Messages are made beforehand:
  // the MD5 context is the process's one.
  void Start(std::vector<Bytes> toDiscovery, std::vector<Bytes> toRequest) {
    printer_ = std::make_unique<testenv::Responder>(
        kPrinter, [=](const testenv::Datagram& d, size_t) {
          return Replies(RequestFlags(d) & kSnmpV3FlagAuth ? toRequest : toDiscovery);
        });
    std::string why;
    ASSERT_TRUE(printer_->Start(&why)) << why;
  }

  size_t AuthenticatedRequests() {
    size_t n = 0;
    for (const auto& d : printer_->Received()) n += (RequestFlags(d) & kSnmpV3FlagAuth) != 0;
    return n;
  }

  // Echoes msgID 1, the first authenticated request's in a fresh process.
  Bytes Answer(uint8_t level) {
    return Encode(Response(testnetio::kEngine, testnetio::Configured().name, keys_.auth,
                           keys_.priv, testenv::DeviceIdWithLevel(level)));
  }

  const testnetio::Keys keys_ = testnetio::LocalisedKeys(testnetio::kEngine);
  const Bytes report_ = Encode(Report(testnetio::kEngine, 7, 4000));
  std::unique_ptr<testenv::Responder> printer_;
};

TEST_F(RobustV3, TheAnswersInAFloodAreReadAndTheFloodIsNot) {
  const int descriptorsBefore = robust::OpenDescriptors();
  ASSERT_NO_FATAL_FAILURE(Start(robust::Flood(report_, true), SignedFlood(Answer(0x33), true)));
  PRINTER_STATUS status = Untouched();
  EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 1);
  EXPECT_EQ(RecordBytes(status), testenv::StatusRecord(0x33));
  // The Report and its replay each draw one authenticated request.
  EXPECT_EQ(AuthenticatedRequests(), 2u);
  EXPECT_TRUE(printer_->Errors().empty()) << printer_->Errors().front();
  printer_.reset();
  EXPECT_EQ(robust::OpenDescriptors(), descriptorsBefore);
}

TEST_F(RobustV3, FloodsWithoutAnAnswerNeverYieldARecord) {
  const struct {
    const char* what;
    std::vector<Bytes> toDiscovery, toRequest;
  } rows[] = {
      {"no Report", robust::Flood(report_, false), {}},
      {"no Response", {report_}, SignedFlood(Answer(0x44), false)},
  };
  // An earlier printer's device ID must not be decoded for a broken answer.
  const std::string earlier = testenv::DeviceIdWithLevel(0x63);
  for (const auto& row : rows) {
    ASSERT_NO_FATAL_FAILURE(Start(row.toDiscovery, row.toRequest));
    memcpy(g_deviceid, earlier.c_str(), earlier.size() + 1);
    PRINTER_STATUS status = Untouched();
    EXPECT_EQ(NetworkReadStatusSNMPv3("public", kPrinter, &status), 0) << row.what;
    EXPECT_EQ(RecordBytes(status), RecordBytes(Untouched())) << row.what;
    printer_->Stop();
  }
}

}  // namespace
