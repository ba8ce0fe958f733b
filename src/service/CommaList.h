// The comma list: the text form of a list of items, used for service arguments and answers and
// for stored switch states. Items of the form name=value are looked up by name (portable).
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TCommaList {
 public:
  TCommaList() = default;
  explicit TCommaList(std::vector<std::string> items) : FItems(std::move(items)) {}

  // Reads a text: blanks and control characters around items are skipped; an item in double
  // quotes runs to the next single quote (a doubled one stands for one); any other item runs up
  // to the next comma, blank or control character; a final comma adds one empty item.
  static TCommaList Parse(std::string_view text);

  // The items joined by commas; an item holding a blank, a control character, a double quote or
  // a comma is quoted with inner quotes doubled; one empty item alone is written as "".
  std::string Text() const;

  // The rest after "=" of the first item whose name (the part before its first "=") equals
  // name, ASCII letter case ignored; empty when there is none.
  std::string Value(std::string_view name) const;

  // Appends one item.
  void Add(std::string item) { FItems.push_back(std::move(item)); }
  // Appends the item name=value.
  void AddValue(std::string_view name, std::string_view value);
  // The items in order.
  const std::vector<std::string>& Items() const noexcept { return FItems; }
  // The number of items.
  size_t Count() const noexcept { return FItems.size(); }

 private:
  std::vector<std::string> FItems;
};

// One item written as the comma list rule writes it (quoted when needed).
std::string CommaListQuote(std::string_view item);
