#pragma once

#include <cstdint>
#include <string>

// Texts and paths the repair workflow shows or uses; plain functions so that the controller's
// methods of the same purpose stay thin and the rules can be checked without a window.
namespace qvr {

// "HH:MM:SS" of an elapsed interval; whole days are dropped, negative intervals count as 0.
std::string timeFormStringForInterval(double seconds);

// Decimal units with two decimals: "0.00 KB", "1.00 MB", "1.00 GB".
std::string formattedStringForSize(uint64_t bytes);

// The temporary repaired file inside `workingFolder` for a damaged file of extension `extension`:
// ".testfile.avi" for avi, ".testfile.mov" for mov (ignoring case), the bare folder otherwise.
std::string repairedFilePathFor(const std::string& workingFolder, const std::string& extension);

// True for the extensions the damaged-file panel offers (mov, mp4, m4v, avi, any case).
bool isMovieExtension(const std::string& extension);
bool isMovFamilyExtension(const std::string& extension);

}  // namespace qvr
