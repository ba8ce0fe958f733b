// File helpers shared by the Windows tests (header-only).
#pragma once

#include <fstream>
#include <iterator>
#include <string>

// The Windows path under which Wine shows a Unix path of the build tree (drive Z:).
inline std::string WinPath(std::string unixPath) {
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

// The whole content of a file, or empty when it cannot be read.
inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
