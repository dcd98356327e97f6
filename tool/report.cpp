#include "tool/report.h"

namespace {

// XML needs white space between the public and the system identifier; without
// it no property-list parser accepts the report.
constexpr char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?> "
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
    "<plist version=\"1.0\"><dict><key>prtMarkerSuppliesTable</key><array><dict>"
    "<key>prtMarkerSuppliesClass</key><integer>3</integer>"
    "<key>prtMarkerSuppliesDescription</key>";

constexpr char kLevelKey[] = "<key>prtMarkerSuppliesLevel</key>";

constexpr char kTail[] =
    "<key>prtMarkerSuppliesMaxCapacity</key><integer>100</integer>"
    "<key>prtMarkerSRGBRepresentation</key><array><integer>00</integer><integer>00</integer>"
    "<integer>00</integer></array>"
    "<key>prtMarkerSuppliesSupplyUnit</key><integer>19</integer>"
    "<key>prtMarkerSuppliesType</key><integer>3</integer>"
    "<key>prtMarkerPartNumber</key><string> </string>"
    "</dict></array></dict></plist>";

// A catalogue text may hold "&" or "<": unescaped, the report would not parse.
void WriteEscaped(FILE* out, const char* text) {
  for (const char* p = text; *p; ++p) {
    switch (*p) {
      case '&': fputs("&amp;", out); break;
      case '<': fputs("&lt;", out); break;
      case '>': fputs("&gt;", out); break;
      case '"': fputs("&quot;", out); break;
      case '\'': fputs("&apos;", out); break;
      default: fputc(*p, out);
    }
  }
}

}  // namespace

bool WriteSupplyReport(FILE* out, const char* description, unsigned char blackLevel) {
  fprintf(out, "%s<string>", kHeader);
  WriteEscaped(out, description);
  fputs("</string>", out);
  fprintf(out, "%s<integer>%d</integer>", kLevelKey, blackLevel & 127);
  fprintf(out, "%s", kTail);
  return fflush(out) == 0 && !ferror(out);
}
