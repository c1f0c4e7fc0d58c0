#include "report/ReportPlatform.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "foundation/FileSystem.h"

namespace qvr {

namespace {

constexpr unsigned long kRouteUp = 0x1;

std::vector<std::string> fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string f; in >> f;) out.push_back(f);
  return out;
}

unsigned long hexValue(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 16); }

bool ipv4DefaultRoute(const std::string& table) {
  std::ifstream in(table);
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    auto f = fields(line);
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    if (f.size() < 8 || f[0] == "lo") continue;
    if (hexValue(f[1]) == 0 && hexValue(f[7]) == 0 && (hexValue(f[3]) & kRouteUp)) return true;
  }
  return false;
}

bool ipv6DefaultRoute(const std::string& table) {
  std::ifstream in(table);
  std::string line;
  while (std::getline(in, line)) {
    auto f = fields(line);
    // destination, prefix length, source, source prefix length, next hop, metric, refs, use, flags, iface
    if (f.size() < 10 || f[9] == "lo") continue;
    if (f[0].find_first_not_of('0') == std::string::npos && hexValue(f[1]) == 0 && (hexValue(f[8]) & kRouteUp)) {
      return true;
    }
  }
  return false;
}

std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool hasDefaultRoute(const std::string& ipv4Table, const std::string& ipv6Table) {
  return ipv4DefaultRoute(ipv4Table) || ipv6DefaultRoute(ipv6Table);
}

std::string prettyNameFromOsRelease(const std::string& path) {
  std::ifstream in(path);
  std::string line, pretty, name, version;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = unquote(line.substr(eq + 1));
    if (key == "PRETTY_NAME") pretty = value;
    if (key == "NAME") name = value;
    if (key == "VERSION") version = value;
  }
  if (!pretty.empty()) return pretty;
  if (!name.empty()) return version.empty() ? name : name + " " + version;
  return "Linux";
}

std::string desktopDirectoryFrom(const std::string& userDirsFile, const std::string& home) {
  std::ifstream in(userDirsFile);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("XDG_DESKTOP_DIR=", 0) != 0) continue;
    std::string value = unquote(line.substr(16));
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    // A relative entry is not a folder the desktop would show.
    if (!value.empty() && value.front() == '/') return value;
  }
  return home + "/Desktop";
}

std::string desktopDirectory() {
  std::string home = fs::homeDirectory();
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else {
    config = home + "/.config";
  }
  return desktopDirectoryFrom(config + "/user-dirs.dirs", home);
}

bool SystemReportPlatform::isConnectedToInternet() {
  return hasDefaultRoute("/proc/net/route", "/proc/net/ipv6_route");
}

std::string SystemReportPlatform::operatingSystemVersion() { return prettyNameFromOsRelease("/etc/os-release"); }

std::string SystemReportPlatform::errorLogPath() { return desktopDirectory() + "/errorlog.txt"; }

}  // namespace qvr
