#include "foundation/FileSystem.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>

namespace qvr::fs {

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isReadableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

bool isWritable(const std::string& path) {
  if (fileExists(path)) return ::access(path.c_str(), W_OK) == 0;
  std::string parent = parentPath(path);
  return ::access(parent.empty() ? "." : parent.c_str(), W_OK) == 0;
}

std::optional<uint64_t> fileSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

bool createDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return isDirectory(path);
}

std::optional<uint64_t> freeSpace(const std::string& path) {
  struct statvfs sv {};
  if (::statvfs(path.c_str(), &sv) != 0) return std::nullopt;
  return static_cast<uint64_t>(sv.f_bavail) * sv.f_frsize;
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string parentPath(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string extensionLower(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string workingDirectory() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) {
    base = xdg;
  } else {
    base = homeDirectory() + "/.cache";
  }
  std::string dir = base + "/quenda-video-repair";
  createDirectories(dir);
  return dir;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace qvr::fs
