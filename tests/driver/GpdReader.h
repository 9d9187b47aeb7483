// A platform-free reader of Unidrv printer descriptions (GPD): entries "*Name: value" (the
// preprocessor directives too: "*Include: ..."), each optionally followed by a { ... } block of
// sub-entries. An entry ends at the line end, at an opening or at a closing brace; "*%" starts a
// comment. Braces inside quoted strings and in command parameters such as %d{NumOfCopies} belong
// to the value. Macros, *switch and preprocessor conditions are kept as entries, not evaluated.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quil::test {

struct GpdEntry {
  std::string keyword;  // with its leading '*'
  std::string value;    // the text after the colon, trimmed
  int line = 0;
  std::vector<GpdEntry> children;
};

struct GpdDocument {
  std::vector<GpdEntry> entries;      // root level
  std::vector<std::string> errors;    // syntax faults found while reading
  bool commentBeforeFirstEntry = false;
};

GpdDocument ReadGpd(std::string_view text);

// The first entry among `entries` with this keyword (and value, if given); nullptr if none.
const GpdEntry* FindEntry(const std::vector<GpdEntry>& entries, std::string_view keyword,
                          std::string_view value = {});
// The values of the *Option entries of a *Feature, in order.
std::vector<std::string> OptionNames(const GpdEntry& feature);

// Syntax errors plus what Unidrv demands of every description: *GPDSpecVersion: "1.0" first,
// before any comment; *MasterUnits and *ModelName at root level; in every root *Feature, unique
// option names and a *DefaultOption that names one of them.
std::vector<std::string> GeneralComplaints(const GpdDocument& document);

}  // namespace quil::test
