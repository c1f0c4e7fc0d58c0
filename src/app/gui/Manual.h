#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvr {

// The program's manual page: where an installation (or this source tree, for a developer's
// build) keeps it, and its text as `man` renders it, without overstrikes. None when no page is
// found or `man` cannot render it.
std::optional<std::string> manualPagePath(const std::vector<std::string>& candidates);
std::vector<std::string> manualPageCandidates();
std::optional<std::string> manualText(const std::string& pagePath);

}  // namespace qvr
