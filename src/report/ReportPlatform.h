#pragma once

#include <string>

namespace qvr {

// What the error report asks of the machine it runs on. Every method may be called from any thread.
class ReportPlatform {
 public:
  virtual ~ReportPlatform() = default;
  // True when the system currently has a route to the Internet.
  virtual bool isConnectedToInternet() = 0;
  // The operating system's name and version as the user would recognise it.
  virtual std::string operatingSystemVersion() = 0;
  // Where the list of files that could not be uploaded is written.
  virtual std::string errorLogPath() = 0;
};

// The Linux answers: a default route in the kernel's routing tables, PRETTY_NAME of
// /etc/os-release and "errorlog.txt" in the user's desktop folder.
class SystemReportPlatform : public ReportPlatform {
 public:
  bool isConnectedToInternet() override;
  std::string operatingSystemVersion() override;
  std::string errorLogPath() override;
};

// The pieces, open to tests with files of their own.
// True when an IPv4 table (/proc/net/route format) or an IPv6 table (/proc/net/ipv6_route format)
// holds a default route on an interface other than loopback.
bool hasDefaultRoute(const std::string& ipv4Table, const std::string& ipv6Table);
// PRETTY_NAME of an os-release file, unquoted; else NAME and VERSION; else "Linux".
std::string prettyNameFromOsRelease(const std::string& path);
// XDG_DESKTOP_DIR of the user-dirs file ("$HOME" expanded); `home`/Desktop when not set there.
std::string desktopDirectoryFrom(const std::string& userDirsFile, const std::string& home);
std::string desktopDirectory();

}  // namespace qvr
