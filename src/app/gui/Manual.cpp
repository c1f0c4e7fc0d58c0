#include "app/gui/Manual.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include "app/BuildInfo.h"
#include "foundation/FileSystem.h"

namespace qvr {

std::vector<std::string> manualPageCandidates() {
  const std::string page = "/share/man/man1/quenda-video-repair.1";
  const std::string beside = QCoreApplication::applicationDirPath().toStdString() + "/..";
  std::vector<std::string> out;
  for (const std::string& prefix : {beside, std::string("/usr/local"), std::string("/usr")}) {
    out.push_back(prefix + page + ".gz");
    out.push_back(prefix + page);
  }
  out.push_back(std::string(QVR_SOURCE_DIR) + "/packaging/quenda-video-repair.1");
  return out;
}

std::optional<std::string> manualPagePath(const std::vector<std::string>& candidates) {
  for (const auto& path : candidates) {
    if (fs::isReadableFile(path)) return path;
  }
  return std::nullopt;
}

std::optional<std::string> manualText(const std::string& pagePath) {
  QProcess man;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MANWIDTH", "80");
  env.insert("MAN_KEEP_FORMATTING", "0");
  man.setProcessEnvironment(env);
  // No shell: the path goes to man as one argument, whatever it holds.
  man.start("man", {"-l", QString::fromStdString(pagePath)});
  if (!man.waitForFinished(10000) || man.exitStatus() != QProcess::NormalExit || man.exitCode() != 0) {
    man.kill();
    return std::nullopt;
  }
  const std::string raw = man.readAllStandardOutput().toStdString();
  // Bold and underline come as "x\bx" and "_\bx" when man thinks it writes to a printer.
  std::string text;
  for (char c : raw) {
    if (c == '\b') {
      if (!text.empty()) text.pop_back();
    } else {
      text += c;
    }
  }
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace qvr
