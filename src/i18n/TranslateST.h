// Translation of windows and of the program's own messages through the string table (portable).
#pragma once

#include <string>
#include <string_view>

class TControl;

// The section every resource message is looked up in.
inline constexpr const char* kResourceSection = "General";

// The translation of an English resource text in section "General"; empty stays empty.
std::string TranslateResourceString(const std::string& text);

// Makes every later resource-string load go through TranslateResourceString.
void InstallResourceTranslation();
// Ends the redirection: loads give the English texts again.
void RemoveResourceTranslation();

// The string-table key of numeric key n in section: four upper-case hex digits when the
// section's "HEX" reads as true, else decimal.
std::string FormatTextKey(std::string_view section, unsigned n);

// Gives every control below window (at every depth) whose Tag is 0 the Tag 65536.
void MarkForTranslation(TControl& window);

// Translates every sub-item of item at every depth, flags or not, each by its decimal
// numeric key or its caption.
void TranslateSubMenu(std::string_view section, TControl& item);

// Replaces the texts and hints of the flagged controls below control, and of the items of
// the menus it owns, by their translations in section.
void TranslateControls(std::string_view section, TControl& control);
