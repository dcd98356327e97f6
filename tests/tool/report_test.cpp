#include <cstdio>
#include <string>

#include "env/TestEnv.h"
#include "tool/report.h"

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

TEST(Report, ExactBytes) {
  const std::string expected =
      R"(<?xml version="1.0" encoding="UTF-8"?> <!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">)"
      R"(<plist version="1.0"><dict><key>prtMarkerSuppliesTable</key><array><dict><key>prtMarkerSuppliesClass</key><integer>3</integer>)"
      R"(<key>prtMarkerSuppliesDescription</key><string>Black Print Cartridge</string><key>prtMarkerSuppliesLevel</key><integer>75</integer>)"
      R"(<key>prtMarkerSuppliesMaxCapacity</key><integer>100</integer><key>prtMarkerSRGBRepresentation</key><array><integer>00</integer><integer>00</integer><integer>00</integer></array>)"
      R"(<key>prtMarkerSuppliesSupplyUnit</key><integer>19</integer><key>prtMarkerSuppliesType</key><integer>3</integer><key>prtMarkerPartNumber</key><string> </string></dict></array></dict></plist>)";
  EXPECT_EQ(expected, Report("Black Print Cartridge", 0x4B));
}

TEST(Report, LevelIsTheLowSevenBits) {
  const struct {
    unsigned char byte;
    const char* level;
  } cases[] = {{0x4B, "75"}, {0xE4, "100"}, {0xFF, "127"}, {0x00, "0"}, {0x80, "0"}, {0x7F, "127"}};
  for (const auto& c : cases) {
    std::string want = std::string("<key>prtMarkerSuppliesLevel</key><integer>") + c.level + "<";
    EXPECT_NE(std::string::npos, Report("x", c.byte).find(want)) << int(c.byte);
  }
}

TEST(Report, DescriptionIsEscaped) {
  const struct {
    const char* description;
    const char* written;
  } cases[] = {
      {"Noir & <blanc>", "Noir &amp; &lt;blanc&gt;"},
      {"\"Ink\" 'n' toner", "&quot;Ink&quot; &apos;n&apos; toner"},
      {"&amp;", "&amp;amp;"},
  };
  for (const auto& c : cases) {
    const std::string want = std::string("<string>") + c.written + "</string>";
    EXPECT_NE(std::string::npos, Report(c.description, 0).find(want)) << c.description;
  }
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
