#include "tool/l10n.h"

#include <libintl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <string>

namespace {

constexpr char kDomain[] = "usbink";

// Catalogues lie at ../share/locale from the binary both in the build tree
// and under the install prefix; the configured directory covers a binary
// copied elsewhere.
std::string CatalogueDirectory() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, static_cast<size_t>(n));
    std::string dir = path.substr(0, path.rfind('/')) + "/" USBINK_RELATIVE_LOCALEDIR;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  }
  return USBINK_LOCALEDIR;
}

}  // namespace

const char* LocalizedDescription() {
  setlocale(LC_ALL, "");
  bindtextdomain(kDomain, CatalogueDirectory().c_str());
  bind_textdomain_codeset(kDomain, "UTF-8");
  return dgettext(kDomain, "Black Print Cartridge");
}
