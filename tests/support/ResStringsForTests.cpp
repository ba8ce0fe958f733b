// Every test program reads the program's own messages from the same resource script as the
// product: natively from the source file, under Wine from the STRINGTABLE linked in.
#include "common/ResStrings.h"

#ifdef _WIN32
#include "common/ResStrings_win.h"
#else
#include <fstream>
#include <sstream>
#endif

namespace {

#ifndef _WIN32
std::string ReadSource(const char* relative) {
  std::ifstream in(std::string(QB_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
#endif

const bool gInstalled = [] {
#ifdef _WIN32
  InstallResStringSource();
#else
  SetResStringSource(ResStringsFromScript(ReadSource("src/common/ResStrings.rc"),
                                          ReadSource("src/common/ResStringIds.h")));
#endif
  return true;
}();

}  // namespace
