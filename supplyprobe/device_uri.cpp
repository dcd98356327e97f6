#include "supplyprobe/device_uri.h"

#include <cups/http.h>
#include <strings.h>

#include <cctype>
#include <cstring>

#include "supplyprobe/device_id.h"

namespace supplyprobe {

namespace {

std::string Lookup(const std::string& id, const char* longKey, const char* shortKey) {
  std::string value = DeviceIdValue(id, longKey);
  return value.empty() ? DeviceIdValue(id, shortKey) : value;
}

void CutAt(std::string* uri, const char* marker) {
  size_t at = uri->find(marker);
  if (at != std::string::npos) uri->resize(at);
}

bool Has(const std::string& uri, const char* marker) { return uri.find(marker) != std::string::npos; }

}  // namespace

std::string MakeDeviceUri(const UriParts& parts) {
  std::string make = Lookup(parts.deviceId, "MANUFACTURER", "MFG");
  if (make.empty()) make = parts.descriptorMake;
  std::string model = Lookup(parts.deviceId, "MODEL", "MDL");
  if (model.empty()) model = parts.descriptorModel;
  std::string description = Lookup(parts.deviceId, "DESCRIPTION", "DES");

  // Names the original character-device backends used.
  if (strcasecmp(make.c_str(), "Hewlett-Packard") == 0) make = "HP";
  else if (strcasecmp(make.c_str(), "Lexmark International") == 0) make = "Lexmark";
  if (make.empty()) {
    // The first word of the model or description stands in for the make.
    make = !model.empty() ? model : !description.empty() ? description : "Unknown";
    make = make.substr(0, make.find(' '));
  }
  if (model.empty()) {
    if (!description.empty()) model = description;
    else model = strncasecmp(make.c_str(), "Unknown", 7) == 0 ? "Printer" : "Unknown Model";
  }
  if (strncasecmp(model.c_str(), make.c_str(), make.size()) == 0 && model.size() > make.size() &&
      isspace(static_cast<unsigned char>(model[make.size()]))) {
    size_t start = make.size() + 1;
    while (start < model.size() && isspace(static_cast<unsigned char>(model[start]))) ++start;
    model.erase(0, start);
  }

  std::string options;
  if (!parts.serial.empty()) options = "?serial=" + parts.serial;
  if (parts.interfaceNumber > 0)
    options += (options.empty() ? "?interface=" : "&interface=") + std::to_string(parts.interfaceNumber);

  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "usb", nullptr, make.c_str(), 0, "/%s%s",
                   model.c_str(), options.c_str());
  return uri;
}

bool CanonicalUsbUri(const std::string& uri, std::string* canonical) {
  char scheme[32], user[256], host[1024], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                      host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK ||
      strcasecmp(scheme, "usb") != 0 || !host[0])
    return false;
  char assembled[1024];
  if (httpAssembleURI(HTTP_URI_CODING_ALL, assembled, sizeof assembled, "usb", nullptr, host, 0,
                      resource) < HTTP_URI_STATUS_OK)
    return false;
  *canonical = assembled;
  return true;
}

bool UriMatches(const std::string& requested, const std::string& detected) {
  if (requested == detected) return true;
  std::string want = requested;
  std::string have = detected;
  bool wantInterface = Has(want, "?interface=") || Has(want, "&interface=");
  bool haveInterface = Has(have, "?interface=") || Has(have, "&interface=");
  if (!wantInterface && haveInterface) {
    CutAt(&have, "?interface=");
    CutAt(&have, "&interface=");
  } else if (wantInterface && !haveInterface) {
    CutAt(&want, "?interface=");
    CutAt(&want, "&interface=");
  }
  CutAt(&want, "?serial=?");
  bool wantSerial = Has(want, "?serial=");
  bool haveSerial = Has(have, "?serial=");
  if (!wantSerial && haveSerial) CutAt(&have, "?serial=");
  else if (wantSerial && !haveSerial) CutAt(&want, "?serial=");
  return want == have;
}

}  // namespace supplyprobe
