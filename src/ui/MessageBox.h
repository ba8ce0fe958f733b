// The one entry for every question and error the program shows to the user (portable header).
#pragma once

#include <cstdint>
#include <string>

// The picture beside the text; every value from Custom up shows none.
enum class MessageBoxIcon : uint8_t { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Custom = 4 };

// The row of buttons; a value outside the named ones shows no buttons.
enum class MessageBoxButtons : int {
  OK = 0,
  OKCancel = 1,
  AbortRetryIgnore = 2,
  YesNoCancel = 3,
  YesNo = 4,
  RetryCancel = 5,
};

// Results of ShowMessageBox; they equal the platform's dialog result identifiers.
inline constexpr uint16_t mrOk = 1;
inline constexpr uint16_t mrCancel = 2;
inline constexpr uint16_t mrAbort = 3;
inline constexpr uint16_t mrRetry = 4;
inline constexpr uint16_t mrIgnore = 5;
inline constexpr uint16_t mrYes = 6;
inline constexpr uint16_t mrNo = 7;

// The native window that owns the box while it is shown, or nullptr for none.
using TMessageBoxOwner = void*;

// Shows caption, title and text (already translated by the caller) modally and returns the
// result of the button pressed, or mrCancel when the box is closed without a button.
uint16_t ShowMessageBox(TMessageBoxOwner owner, const std::string& caption, const std::string& title,
                        const std::string& text, MessageBoxIcon icon, MessageBoxButtons buttons);
