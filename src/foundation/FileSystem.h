#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qvr::fs {

bool fileExists(const std::string& path);
bool isDirectory(const std::string& path);
bool isReadableFile(const std::string& path);
// True when a file at `path` could be written: the file is writable, or it is absent and its
// folder is writable.
bool isWritable(const std::string& path);
std::optional<uint64_t> fileSize(const std::string& path);
// Creates the folder and its parents; true when it exists afterwards.
bool createDirectories(const std::string& path);
// Bytes available to an unprivileged user on the file system holding `path`.
std::optional<uint64_t> freeSpace(const std::string& path);
bool removeFile(const std::string& path);
// True when both paths name one existing file (the same device and inode, through links).
bool sameFile(const std::string& a, const std::string& b);
std::string parentPath(const std::string& path);
std::string fileName(const std::string& path);
// Lower-case extension without the dot ("" when none).
std::string extensionLower(const std::string& path);
std::string homeDirectory();
// ~/.cache/quenda-video-repair (XDG cache home), created when missing.
std::string workingDirectory();

}  // namespace qvr::fs
