#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// What the save panel offers: the typed name becomes a new folder, so no overwrite question.
struct SavePanelOptions {
  std::string prompt;          // the accept button's title
  std::string nameFieldValue;  // preset name
  std::string startingFolder;
  bool canCreateDirectories = true;
  bool showsHiddenFiles = false;
};

// The desktop calls of saving, previewing and updating. The application uses the Qt
// implementation; tests script the answers and record the requests.
class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // A modal save panel; the chosen path, or none when cancelled.
  virtual std::optional<std::string> runSavePanel(const SavePanelOptions& options) = 0;
  // A modal chooser for a program: an executable or an installed .desktop application.
  virtual std::optional<std::string> runApplicationPanel(const std::string& startingFolder) = 0;
  // True when new entries can be made in the folder.
  virtual bool isWritableFolder(const std::string& folder) = 0;
  // Bytes free for the user on the volume of `path`; none when that cannot be read.
  virtual std::optional<uint64_t> freeSpace(const std::string& path) = 0;
  // Shows the file in the desktop's file manager (its folder opened).
  virtual bool revealFile(const std::string& path) = 0;
  // Starts `program` as a process of its own with exactly these arguments, no shell involved.
  virtual bool startDetached(const std::string& program, const std::vector<std::string>& arguments) = 0;
  // The built-in preview window playing `path`.
  virtual void showPreview(const std::string& path) = 0;
};

}  // namespace qvr
