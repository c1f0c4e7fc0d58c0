#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/gui/DesktopServices.h"
#include "app/gui/PlatformServices.h"

namespace qvr {

// Where the VLC download page is when the configuration names none.
inline constexpr const char* kDefaultVlcDownloadLink = "https://www.videolan.org/vlc/";

enum class PreviewChoice {
  Vlc,           // the external player, for either file kind
  BuiltIn,       // the preview window (MOV family without VLC)
  AskForPlayer,  // AVI without VLC: download VLC or pick another player
};
PreviewChoice choosePreview(bool vlcInstalled, bool aviFile);

// The command of a desktop entry's Exec key with `file` as its one file argument: quoting and
// escapes undone, %f %F %u %U replaced by the file, %k by the entry's path, %% by %, other
// field codes dropped; the file is appended when the line has no file code. None when the text
// has no usable Exec line.
std::optional<std::vector<std::string>> desktopEntryCommand(const std::string& entryText, const std::string& entryPath,
                                                            const std::string& file);

// The command that opens `file` with the chosen program: an executable gets the file as its one
// argument, a .desktop application its Exec line. None when `program` is neither.
std::optional<std::vector<std::string>> playerCommand(const std::string& program, const std::string& file);

// "You don't have "VLC Player" Installed" with its two buttons.
AlertRequest vlcMissingAlert();

// The Preview button: VLC when installed, the built-in preview for the MOV family, else a choice
// between downloading VLC and another player. Players run as processes of their own, started
// with an argument list and never through a shell, so no file name can become a command.
class PreviewLauncher {
 public:
  PreviewLauncher(PlatformServices& platform, DesktopServices& desktop, std::string vlcDownloadLink);

  void playWithVLC(const std::string& repairedFilePath, bool aviFile);
  void OpenVLCPage();
  // Lets the user pick a program and starts it with `file`; false when nothing was started.
  bool openWithOtherPlayer(const std::string& file);

 private:
  PlatformServices& platform_;
  DesktopServices& desktop_;
  std::string vlcDownloadLink_;
};

}  // namespace qvr
