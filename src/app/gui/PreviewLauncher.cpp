#include "app/gui/PreviewLauncher.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "foundation/FileSystem.h"
#include "foundation/Log.h"

namespace qvr {

PreviewChoice choosePreview(bool vlcInstalled, bool aviFile) {
  if (vlcInstalled) return PreviewChoice::Vlc;
  return aviFile ? PreviewChoice::AskForPlayer : PreviewChoice::BuiltIn;
}

namespace {

// The string escapes of desktop entry values: \s \n \t \r \\.
std::string unescapeValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    switch (next) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += '\\';
        out += next;
        break;
    }
  }
  return out;
}

std::optional<std::string> execValue(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  bool inMainGroup = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (key != "Exec") continue;
    size_t start = eq + 1;
    while (start < line.size() && line[start] == ' ') ++start;
    return unescapeValue(line.substr(start));
  }
  return std::nullopt;
}

// Splits an Exec value into arguments: blanks separate, double quotes group, and inside quotes
// a backslash keeps the next character. A quote left open makes the line unusable.
std::optional<std::vector<std::string>> splitExec(const std::string& exec) {
  std::vector<std::string> args;
  std::string current;
  bool inArgument = false;
  bool quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        current += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (inArgument) args.push_back(std::move(current));
      current.clear();
      inArgument = false;
    } else if (c == '"') {
      quoted = true;
      inArgument = true;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inArgument) args.push_back(std::move(current));
  return args;
}

}  // namespace

std::optional<std::vector<std::string>> desktopEntryCommand(const std::string& entryText, const std::string& entryPath,
                                                            const std::string& file) {
  const std::optional<std::string> exec = execValue(entryText);
  if (!exec) return std::nullopt;
  const std::optional<std::vector<std::string>> split = splitExec(*exec);
  if (!split || split->empty()) return std::nullopt;

  std::vector<std::string> command;
  bool fileGiven = false;
  for (const std::string& arg : *split) {
    // A field code alone as an argument that expands to nothing removes the argument.
    if (arg == "%i" || arg == "%c" || arg == "%d" || arg == "%D" || arg == "%n" || arg == "%N" || arg == "%v" ||
        arg == "%m") {
      continue;
    }
    std::string expanded;
    for (size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] != '%' || i + 1 == arg.size()) {
        expanded += arg[i];
        continue;
      }
      const char code = arg[++i];
      switch (code) {
        case 'f':
        case 'F':
        case 'u':
        case 'U':
          expanded += file;
          fileGiven = true;
          break;
        case 'k':
          expanded += entryPath;
          break;
        case '%':
          expanded += '%';
          break;
        default:
          break;
      }
    }
    command.push_back(std::move(expanded));
  }
  if (command.empty() || command.front().empty()) return std::nullopt;
  if (!fileGiven) command.push_back(file);
  return command;
}

std::optional<std::vector<std::string>> playerCommand(const std::string& program, const std::string& file) {
  if (fs::extensionLower(program) == "desktop") {
    std::ifstream in(program, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return desktopEntryCommand(text.str(), program, file);
  }
  if (fs::isReadableFile(program) && ::access(program.c_str(), X_OK) == 0) {
    return std::vector<std::string>{program, file};
  }
  return std::nullopt;
}

AlertRequest vlcMissingAlert() {
  return {"You don't have \"VLC Player\" Installed",
          "Please install VLC player and try again\n(if it doesn't play with any players please contact our friendly "
          "customer support)",
          {"Download VLC", "Open With Other Players.."},
          AlertStyle::Warning};
}

PreviewLauncher::PreviewLauncher(PlatformServices& platform, DesktopServices& desktop, std::string vlcDownloadLink)
    : platform_(platform), desktop_(desktop), vlcDownloadLink_(std::move(vlcDownloadLink)) {
  if (vlcDownloadLink_.empty()) vlcDownloadLink_ = kDefaultVlcDownloadLink;
}

void PreviewLauncher::playWithVLC(const std::string& repairedFilePath, bool aviFile) {
  const std::optional<std::string> vlc = platform_.fullPathForApplication("VLC");
  switch (choosePreview(vlc.has_value(), aviFile)) {
    case PreviewChoice::Vlc:
      if (!desktop_.startDetached(*vlc, {repairedFilePath})) log("Could not start %s", vlc->c_str());
      return;
    case PreviewChoice::BuiltIn:
      desktop_.showPreview(repairedFilePath);
      return;
    case PreviewChoice::AskForPlayer:
      if (platform_.runAlert(vlcMissingAlert()) == 1) {
        openWithOtherPlayer(repairedFilePath);
      } else {
        OpenVLCPage();
      }
      return;
  }
}

void PreviewLauncher::OpenVLCPage() { platform_.openURL(vlcDownloadLink_); }

bool PreviewLauncher::openWithOtherPlayer(const std::string& file) {
  const std::optional<std::string> chosen = desktop_.runApplicationPanel("/usr/share/applications");
  if (!chosen) return false;
  const std::optional<std::vector<std::string>> command = playerCommand(*chosen, file);
  if (!command) {
    log("%s is neither a program nor an application entry", chosen->c_str());
    platform_.runAlert({"Could not open the player",
                        "The chosen file is not a program that can be started.",
                        {"OK"},
                        AlertStyle::Warning});
    return false;
  }
  const std::vector<std::string> arguments(command->begin() + 1, command->end());
  if (!desktop_.startDetached(command->front(), arguments)) {
    log("Could not start %s", command->front().c_str());
    return false;
  }
  return true;
}

}  // namespace qvr
