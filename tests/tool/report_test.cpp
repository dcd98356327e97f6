// The supply report byte for byte, and read back by a real property-list parser.
#include "tool/report.h"

#include <cstdio>
#include <string>

#include "PrinterScript.h"
#include "env/TestEnv.h"

namespace {

std::string Report(const char* description, unsigned char level) {
  FILE* f = tmpfile();
  EXPECT_TRUE(WriteSupplyReport(f, description, level));
  rewind(f);
  std::string out;
  for (int c; (c = fgetc(f)) != EOF;) out.push_back(static_cast<char>(c));
  fclose(f);
  return out;
}

// The level is the low seven bits; the description is escaped once.
TEST(Report, ExactBytes) {
  const struct {
    const char* description;
    unsigned char byte;
    const char* written;
    int level;
  } cases[] = {
      {"Black Print Cartridge", 0x4B, "Black Print Cartridge", 75},
      {"x", 0xE4, "x", 100},
      {"x", 0xFF, "x", 127},
      {"x", 0x80, "x", 0},
      {"Noir & <blanc>", 0, "Noir &amp; &lt;blanc&gt;", 0},
      {"\"Ink\" 'n' toner", 0, "&quot;Ink&quot; &apos;n&apos; toner", 0},
      {"&amp;", 0, "&amp;amp;", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(tooltest::ReportFor(c.written, c.level), Report(c.description, c.byte)) << c.description;
}

TEST(Report, ParsesAsPropertyList) {
  std::string python = testenv::FindProgram("python3");
  REQUIRE_ENV(!python.empty(), "python3 is not installed");
  const char* script =
      "import json, plistlib, sys\n"
      "d = plistlib.loads(sys.stdin.buffer.read())\n"
      "print(json.dumps(d, sort_keys=True, ensure_ascii=False))\n";
  auto r = testenv::Run({python, "-c", script}, {}, std::chrono::seconds(30),
                        Report("Cartouche d’impression <noire> & \"bleue\"", 0xE4));
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(
      R"({"prtMarkerSuppliesTable": [{"prtMarkerPartNumber": " ", "prtMarkerSRGBRepresentation": [0, 0, 0], )"
      R"("prtMarkerSuppliesClass": 3, "prtMarkerSuppliesDescription": "Cartouche d’impression <noire> & \"bleue\"", )"
      R"("prtMarkerSuppliesLevel": 100, "prtMarkerSuppliesMaxCapacity": 100, "prtMarkerSuppliesSupplyUnit": 19, )"
      R"("prtMarkerSuppliesType": 3}]})"
      "\n",
      r.out);
}

TEST(Report, FullOutputIsAFailure) {
  FILE* f = fopen("/dev/full", "w");
  ASSERT_NE(nullptr, f);
  EXPECT_FALSE(WriteSupplyReport(f, "Black Print Cartridge", 75));
  fclose(f);
}

}  // namespace
