#include "service/CommaList.h"

#include "common/TextUtil.h"

namespace {

constexpr char kQuote = '"';
constexpr char kDelimiter = ',';

// Blanks and control characters: every byte up to and including the space.
bool IsBlankOrControl(char c) noexcept { return static_cast<unsigned char>(c) <= ' '; }

bool NeedsQuotes(std::string_view item) noexcept {
  for (char c : item)
    if (IsBlankOrControl(c) || c == kQuote || c == kDelimiter) return true;
  return false;
}

}  // namespace

std::string CommaListQuote(std::string_view item) {
  if (!NeedsQuotes(item)) return std::string(item);
  std::string out;
  out.reserve(item.size() + 2);
  out += kQuote;
  for (char c : item) {
    if (c == kQuote) out += kQuote;
    out += c;
  }
  out += kQuote;
  return out;
}

TCommaList TCommaList::Parse(std::string_view text) {
  TCommaList list;
  size_t p = 0;
  const size_t n = text.size();
  auto skipBlanks = [&] {
    while (p < n && IsBlankOrControl(text[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string item;
    if (text[p] == kQuote) {
      ++p;
      while (p < n) {
        if (text[p] == kQuote) {
          if (p + 1 < n && text[p + 1] == kQuote) {
            item += kQuote;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      const size_t start = p;
      while (p < n && !IsBlankOrControl(text[p]) && text[p] != kDelimiter) ++p;
      item.assign(text.substr(start, p - start));
    }
    list.FItems.push_back(std::move(item));
    skipBlanks();
    if (p < n && text[p] == kDelimiter) {
      if (p + 1 == n) list.FItems.emplace_back();
      ++p;
      skipBlanks();
    }
  }
  return list;
}

std::string TCommaList::Text() const {
  if (FItems.size() == 1 && FItems[0].empty()) return "\"\"";
  std::string out;
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (i) out += kDelimiter;
    out += CommaListQuote(FItems[i]);
  }
  return out;
}

std::string TCommaList::Value(std::string_view name) const {
  for (const std::string& item : FItems) {
    const size_t eq = item.find('=');
    if (eq != std::string::npos && SameText(std::string_view(item).substr(0, eq), name))
      return item.substr(eq + 1);
  }
  return {};
}

void TCommaList::AddValue(std::string_view name, std::string_view value) {
  std::string item(name);
  item += '=';
  item += value;
  FItems.push_back(std::move(item));
}
