#include "common/ResStrings.h"

#include "common/TextUtil.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <shared_mutex>

namespace {

// The hooks are set at start-up and read from any thread, the count pass's among them.
struct THooks {
  std::shared_mutex Lock;
  TResStringSource Source;
  TResStringTranslator Translator;
};

THooks& Hooks() {
  static THooks hooks;
  return hooks;
}

std::string English(unsigned id) {
  std::shared_lock lock(Hooks().Lock);
  return Hooks().Source ? Hooks().Source(id) : std::string();
}

std::string Translated(const std::string& text) {
  if (text.empty()) return text;
  std::shared_lock lock(Hooks().Lock);
  return Hooks().Translator ? Hooks().Translator(text) : text;
}

}  // namespace

void SetResStringSource(TResStringSource source) {
  std::unique_lock lock(Hooks().Lock);
  Hooks().Source = std::move(source);
}

void SetResStringTranslator(TResStringTranslator translator) {
  std::unique_lock lock(Hooks().Lock);
  Hooks().Translator = std::move(translator);
}

std::string LoadResString(unsigned id) {
  if (id >= 65536) return "ERROR";
  return Translated(English(id));
}

std::string FormatResText(std::string_view format, std::initializer_list<std::string_view> args) {
  std::string out;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (format[i + 1] == 's') {
        if (next != args.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

std::string LoadResStringFmt(unsigned id, std::initializer_list<std::string_view> args) {
  if (id >= 65536) return "ERROR";
  return Translated(FormatResText(English(id), args));
}

TResStringSource ResStringsFromScript(std::string_view script, std::string_view ids) {
  std::map<std::string, unsigned, std::less<>> names;
  for (std::string_view rest = ids; !rest.empty();) {
    const size_t eol = rest.find('\n');
    std::string_view line = TrimBlanks(rest.substr(0, eol));
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (line.substr(0, 7) != "#define") continue;
    line = TrimBlanks(line.substr(7));
    const size_t blank = line.find_first_of(" \t");
    if (blank == std::string_view::npos) continue;
    const std::string number(TrimBlanks(line.substr(blank)));
    char* end = nullptr;
    const unsigned long value = std::strtoul(number.c_str(), &end, 10);
    if (!number.empty() && *end == '\0') names[std::string(line.substr(0, blank))] = value;
  }
  std::map<unsigned, std::string> texts;
  bool inside = false;
  for (std::string_view rest = script; !rest.empty();) {
    const size_t eol = rest.find('\n');
    std::string_view line = TrimBlanks(rest.substr(0, eol));
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line = TrimBlanks(line.substr(0, line.size() - 1));
    if (line == "BEGIN") inside = true;
    if (line == "END") inside = false;
    const size_t comma = line.find(',');
    if (!inside || comma == std::string_view::npos) continue;
    const auto found = names.find(TrimBlanks(line.substr(0, comma)));
    std::string_view quoted = TrimBlanks(line.substr(comma + 1));
    if (found == names.end() || quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"')
      continue;
    quoted = quoted.substr(1, quoted.size() - 2);
    std::string text;
    for (size_t i = 0; i < quoted.size(); ++i) {
      text += quoted[i];
      if (quoted[i] == '"' && i + 1 < quoted.size() && quoted[i + 1] == '"') ++i;
    }
    texts[found->second] = std::move(text);
  }
  return [texts = std::move(texts)](unsigned id) {
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
  };
}
