#pragma once

#include <string>

// One entry of the files offered for an error-report upload.
struct FileClass {
  bool select = false;
  std::string filePath;
};
