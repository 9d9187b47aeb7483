#include "GpdReader.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <set>

namespace quil::test {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kBlanks) - first + 1));
}

// Reads the text in one pass, keeping a stack of the entry lists that open braces lead into.
class GpdParser {
 public:
  explicit GpdParser(std::string_view text) : text_(text) { levels_.push_back(&document_.entries); }

  GpdDocument Run() {
    while (pos_ < text_.size()) Step();
    if (levels_.size() > 1) Complain(std::to_string(levels_.size() - 1) + " brace(s) left open at the end");
    return std::move(document_);
  }

 private:
  void Step() {
    const char c = text_[pos_];
    if (c == '\n') {
      ++line_;
      ++pos_;
    } else if (kBlanks.find(c) != std::string_view::npos) {
      ++pos_;
    } else if (text_.substr(pos_, 2) == "*%") {
      document_.commentBeforeFirstEntry |= !sawEntry_;
      pos_ = LineEnd();
    } else if (c == '{') {
      OpenBlock();
    } else if (c == '}') {
      CloseBlock();
    } else if (c == '*') {
      ReadEntry();
    } else {
      Complain("text that is no entry");
      pos_ = LineEnd();
    }
  }

  void OpenBlock() {
    ++pos_;
    if (!blockOwner_) {
      Complain("a brace that follows no entry");
      levels_.push_back(&orphanBlocks_.emplace_back());
      return;
    }
    levels_.push_back(&blockOwner_->children);
    blockOwner_ = nullptr;
  }

  void CloseBlock() {
    ++pos_;
    blockOwner_ = nullptr;
    if (levels_.size() == 1) return Complain("a closing brace with no block open");
    levels_.pop_back();
  }

  void ReadEntry() {
    const size_t colon = text_.find(':', pos_);
    if (colon >= LineEnd()) {
      Complain("an entry without a colon");
      pos_ = LineEnd();
      return;
    }
    const size_t valueEnd = ValueEnd(colon + 1);
    levels_.back()->push_back({Trimmed(text_.substr(pos_, colon - pos_)),
                               Trimmed(text_.substr(colon + 1, valueEnd - colon - 1)), line_, {}});
    blockOwner_ = &levels_.back()->back();
    sawEntry_ = true;
    pos_ = valueEnd;
  }

  // A value ends at the line end, a brace or a comment, none of them inside a quoted string or
  // a command parameter such as %d[1, 999]{NumOfCopies}. A "*Name:" inside it is an entry that
  // the writer meant to end the value, which only a line end does.
  size_t ValueEnd(size_t from) {
    bool quoted = false;
    for (size_t i = from; i < LineEnd(); ++i) {
      const char c = text_[i];
      if (c == '"') quoted = !quoted;
      if (quoted) continue;
      if (c == '{' || c == '}' || text_.substr(i, 2) == "*%") return i;
      if (c == '%') i = ParameterEnd(i);
      if (c == '*' && StartsEntry(i)) Complain("a second entry on the line, inside the value of the first");
    }
    if (quoted) Complain("a string that the line end cuts off");
    return LineEnd();
  }

  // Whether "*Name:" starts here; elsewhere in a value '*' is a wildcard or a multiplication.
  bool StartsEntry(size_t star) const {
    size_t end = star + 1;
    while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_' ||
                                  text_[end] == '?')) {
      ++end;
    }
    const size_t colon = text_.find_first_not_of(kBlanks, end);
    return end > star + 1 && colon != std::string_view::npos && text_[colon] == ':';
  }

  size_t ParameterEnd(size_t percent) const {
    const size_t open = text_.find_first_of("{\"\n", percent);
    if (open == std::string_view::npos || text_[open] != '{') return percent;
    return std::min(text_.find('}', open), LineEnd());
  }

  size_t LineEnd() const { return std::min(text_.find('\n', pos_), text_.size()); }

  void Complain(const std::string& what) {
    document_.errors.push_back("line " + std::to_string(line_) + ": " + what);
  }

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
  bool sawEntry_ = false;
  GpdDocument document_;
  std::vector<std::vector<GpdEntry>*> levels_;
  GpdEntry* blockOwner_ = nullptr;                  // the entry that a brace here would open
  std::deque<std::vector<GpdEntry>> orphanBlocks_;  // blocks that no entry opened
};

void CheckFirstEntry(const GpdDocument& document, std::vector<std::string>& complaints) {
  const auto& entries = document.entries;
  if (document.commentBeforeFirstEntry || entries.empty() || entries.front().keyword != "*GPDSpecVersion" ||
      entries.front().value != "\"1.0\"") {
    complaints.push_back("*GPDSpecVersion: \"1.0\" is not the first entry, before any comment");
  }
}

void CheckRootEntries(const GpdDocument& document, std::vector<std::string>& complaints) {
  for (const char* keyword : {"*MasterUnits", "*ModelName"}) {
    if (!FindEntry(document.entries, keyword)) complaints.push_back(std::string(keyword) + " missing at root level");
  }
}

// Features whose options Unidrv knows only by their standard names.
const std::map<std::string, std::set<std::string>, std::less<>> kStandardOptions = {
    {"Orientation", {"PORTRAIT", "LANDSCAPE_CC90", "LANDSCAPE_CC270"}},
    {"Duplex", {"NONE", "VERTICAL", "HORIZONTAL"}},
    {"Collate", {"ON", "OFF"}},
    {"PageProtect", {"ON", "OFF"}},
};

void CheckFeature(const GpdEntry& feature, std::vector<std::string>& complaints) {
  const std::string prefix = "feature " + feature.value + ": ";
  const std::vector<std::string> options = OptionNames(feature);
  const auto standard = kStandardOptions.find(feature.value);
  std::set<std::string> seen;
  for (const std::string& option : options) {
    if (!seen.insert(option).second) complaints.push_back(prefix + "option " + option + " appears twice");
    if (standard != kStandardOptions.end() && !standard->second.contains(option)) {
      complaints.push_back(prefix + "option " + option + " is not a standard option name");
    }
  }
  const GpdEntry* defaultOption = FindEntry(feature.children, "*DefaultOption");
  if (!defaultOption) {
    complaints.push_back(prefix + "no *DefaultOption");
  } else if (!seen.contains(defaultOption->value)) {
    complaints.push_back(prefix + "*DefaultOption " + defaultOption->value + " names none of its options");
  }
}

}  // namespace

GpdDocument ReadGpd(std::string_view text) { return GpdParser(text).Run(); }

const GpdEntry* FindEntry(const std::vector<GpdEntry>& entries, std::string_view keyword, std::string_view value) {
  const auto found = std::find_if(entries.begin(), entries.end(), [&](const GpdEntry& entry) {
    return entry.keyword == keyword && (value.empty() || entry.value == value);
  });
  return found == entries.end() ? nullptr : &*found;
}

std::vector<std::string> OptionNames(const GpdEntry& feature) {
  std::vector<std::string> names;
  for (const GpdEntry& child : feature.children) {
    if (child.keyword == "*Option") names.push_back(child.value);
  }
  return names;
}

std::vector<std::string> GeneralComplaints(const GpdDocument& document) {
  std::vector<std::string> complaints = document.errors;
  CheckFirstEntry(document, complaints);
  CheckRootEntries(document, complaints);
  for (const GpdEntry& entry : document.entries) {
    if (entry.keyword == "*Feature") CheckFeature(entry, complaints);
  }
  return complaints;
}

}  // namespace quil::test
