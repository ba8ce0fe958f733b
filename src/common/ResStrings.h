// The program's own messages: loaded from the string resource by identifier and handed
// through the translation hook on every load (portable).
#pragma once

#include "common/ResStringIds.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

// Gives the English text of a resource identifier, empty when there is none.
using TResStringSource = std::function<std::string(unsigned id)>;
// Turns an English text into the chosen language's text.
using TResStringTranslator = std::function<std::string(const std::string& text)>;

// Sets where the English texts come from (none: every load gives an empty text).
void SetResStringSource(TResStringSource source);
// Sets the translation every load goes through (none: texts stay English).
void SetResStringTranslator(TResStringTranslator translator);

// The text of id, translated; "ERROR" for an identifier of 65536 or more.
std::string LoadResString(unsigned id);
// The text of id with each "%s" replaced by the next argument ("%%" gives "%"), translated
// after formatting, so the lookup key is the filled-in text.
std::string LoadResStringFmt(unsigned id, std::initializer_list<std::string_view> args);
// Fills "%s" and "%%" of format with args in order; a missing argument fills nothing.
std::string FormatResText(std::string_view format, std::initializer_list<std::string_view> args);

// The English texts of a resource script's STRINGTABLE, with its identifiers resolved
// through the "#define name number" lines of ids; for tools and checks that read the sources.
TResStringSource ResStringsFromScript(std::string_view script, std::string_view ids);
