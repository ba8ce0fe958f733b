// The program's own string resources, read from the running program file (Windows-only).
#pragma once

#include <string>

// The English text of id from the program's STRINGTABLE, empty when there is none.
std::string LoadEnglishResString(unsigned id);
// Makes LoadResString read the program's STRINGTABLE.
void InstallResStringSource();
