// `netio status` over a fleet, end to end: snmpd printers on 127.0.0.x in the
// test's own network namespace, one answering SNMPv1, one SNMPv3 only, one
// with an engine of another vendor, and a silent address.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "env/Snmpd.h"
#include "env/TestEnv.h"
#include "netio/SnmpV3.h"

namespace {

using std::chrono::seconds;

const char kPrinterObjectId[] = "1.3.6.1.4.1.40719.886.1";

testenv::RunResult RunNetio(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), std::string(USBINK_BIN_DIR) + "/netio");
  return testenv::Run(args, {}, seconds(60), input);
}

// Lines in a fixed order: printers finish in the order their answers come.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class Fleet : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_ENV(testenv::Snmpd::Available(&why), why);
    REQUIRE_ENV(!testenv::FindProgram("python3").empty(), "python3 is not installed");
    REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
    _SNMP_PARAM_V3 params{};
    SnmpV3FillCredentials(&params);
    const testenv::SnmpUser user{params.userName, params.authPassword, params.privPassword};
    // address, SNMPv1, engine ID, black level
    const struct {
      const char* agentAddress;
      bool v1;
      const char* engine;
      uint8_t level;
    } rows[] = {
        {"udp:127.0.0.1:161,udp6:[::1]:161", true, "80000B9303000000000000002A", 0xAA},
        {"udp:127.0.0.3:161", false, "80000B9303000000000000002B", 17},
        {"udp:127.0.0.4:161", false, "80001F8803000000000000002C", 50},
    };
    for (const auto& row : rows) {
      testenv::SnmpdConfig config;
      config.agentAddress = row.agentAddress;
      config.v1 = row.v1;
      config.engineIdHex = row.engine;
      config.users = {user};
      config.deviceId = testenv::DeviceIdWithLevel(row.level);
      config.sysObjectID = kPrinterObjectId;
      agents_.push_back(std::make_unique<testenv::Snmpd>(config));
      ASSERT_TRUE(agents_.back()->Start(&why)) << why;
    }
  }

  std::vector<std::unique_ptr<testenv::Snmpd>> agents_;
};

TEST_F(Fleet, TextLinesFromAFileWithCommentsRepeatsAndABadLine) {
  const std::string input =
      "# printers\n127.0.0.1\n127.0.0.3   # SNMPv3 only\n\nprinter.local\n127.0.0.2\n"
      "127.0.0.4\n127.0.0.1\n0::1\n::1\n";
  const auto r = RunNetio({"status", "--from", "-"}, input);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err, "netio: standard input:5: not a numeric address, skipped\n");
  EXPECT_EQ(SortedLines(r.out), (std::vector<std::string>{
                                    "0::1  black: 42%  (SNMPv1)",
                                    "127.0.0.1  black: 42%  (SNMPv1)",
                                    "127.0.0.2  no answer",
                                    "127.0.0.3  black: 17%  (SNMPv3)",
                                    "127.0.0.4  no answer",
                                }));
  // Read once: the three copies of one SNMPv1 request.
  const std::string log = agents_[0]->Log();
  size_t toFirst = 0;
  for (size_t at = 0; (at = log.find("->[127.0.0.1]:161", at)) != std::string::npos; ++at)
    ++toFirst;
  EXPECT_EQ(toFirst, 3u) << log;
  // The refused engine got its discovery request and nothing more.
  EXPECT_EQ(agents_[2]->RequestCount(), 3 + 1);
}

TEST_F(Fleet, JsonLinesTakeDiscoverOutputAsInput) {
  const auto found =
      RunNetio({"discover", "--target", "127.0.0.1", "--sysobjectid", kPrinterObjectId, "--json"});
  ASSERT_EQ(found.exitCode, 0) << found.err;
  const auto r = RunNetio({"status", "127.0.0.3", "127.0.0.2", "--from", "-", "--json", "--raw"},
                          found.out);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const auto shape = testenv::Run(
      {testenv::FindProgram("python3"), "-c",
       "import json,sys\n"
       "for line in sys.stdin:\n"
       "  d = json.loads(line)\n"
       "  print(sorted(d), d['address'], d['protocol'], d.get('black_level'), d.get('error'),"
       " d.get('raw'))"},
      {}, seconds(10), r.out);
  ASSERT_EQ(shape.exitCode, 0) << r.out << shape.err;
  const std::string v1Raw = testenv::Hex(testenv::StatusRecord(0xAA));
  const std::string v3Raw = testenv::Hex(testenv::StatusRecord(17));
  EXPECT_EQ(SortedLines(shape.out),
            (std::vector<std::string>{
                "['address', 'black_level', 'protocol', 'raw'] 127.0.0.1 SNMPv1 42 None " + v1Raw,
                "['address', 'black_level', 'protocol', 'raw'] 127.0.0.3 SNMPv3 17 None " + v3Raw,
                "['address', 'error', 'protocol'] 127.0.0.2 None None no answer None",
            }));
}

TEST_F(Fleet, PrometheusTextPassesPromtool) {
  const std::string promtool = testenv::FindProgram("promtool");
  REQUIRE_ENV(!promtool.empty(), "promtool is not installed (Debian prometheus)");
  const auto r = RunNetio({"status", "127.0.0.1", "127.0.0.2", "--prometheus"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const auto check = testenv::Run({promtool, "check", "metrics"}, {}, seconds(10), r.out);
  EXPECT_EQ(check.exitCode, 0) << r.out << check.out << check.err;
  EXPECT_NE(r.out.find("netio_printer_up{address=\"127.0.0.2\"} 0\n"), std::string::npos);
  EXPECT_NE(r.out.find("netio_printer_black_percent{address=\"127.0.0.1\",protocol=\"SNMPv1\"} 42\n"),
            std::string::npos)
      << r.out;
}

TEST_F(Fleet, NoAddressAtAllIsAUsageError) {
  for (const std::string& input : {std::string(""), std::string("# none\nhost.example\n")}) {
    const auto r = RunNetio({"status", "--from", "-"}, input);
    EXPECT_EQ(r.exitCode, 2) << input;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(RunNetio({"status", "--from", "/nonexistent/list"}).exitCode, 2);
}

}  // namespace
