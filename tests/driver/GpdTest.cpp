#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "GpdReader.h"

namespace quil::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string DriverGpd() {
  std::ifstream file(QUIL_EMF_GPD);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Root entries that tie the file to the driver's registration: its name and dependent files.
const std::pair<const char*, const char*> kRootEntries[] = {
    {"*ModelName", "\"Quillon Driver v.0.1\""},
    {"*Include", "\"stdnames.gpd\""},
    {"*ResourceDLL", "\"unires.dll\""},
    {"*PrinterType", "PAGE"},
};

// The settings the client reproduces: options each feature must offer, entries each option needs.
// The display name is the one stdnames.gpd defines for the feature; empty where not checked.
struct ClientFeature {
  std::string name;
  std::string displayName;
  std::vector<std::string> options;
  std::vector<std::string> entriesPerOption;
};
const ClientFeature kClientFeatures[] = {
    // No command switches the printer to landscape: Unidrv rotates, which is LANDSCAPE_CC270.
    {"Orientation", "=ORIENTATION_DISPLAY", {"PORTRAIT", "LANDSCAPE_CC270"}, {}},
    {"PaperSize", "",
     {"LETTER", "LEGAL", "A4", "A3", "A5", "B5", "EXECUTIVE", "ENV_10", "ENV_DL", "ENV_C5", "ENV_B5", "ENV_MONARCH"},
     {"*PrintableArea", "*PrintableOrigin"}},
    {"Resolution", "", {}, {"*DPI", "*TextDPI"}},
    {"Duplex", "=TWO_SIDED_PRINTING_DISPLAY", {"NONE", "VERTICAL", "HORIZONTAL"}, {}},
    {"Collate", "", {"ON", "OFF"}, {}},
    {"ColorMode", "", {"Mono", "Color"}, {"*DevBPP", "*Color?"}},
};

void CheckClientFeature(const GpdDocument& document, const ClientFeature& wanted,
                        std::vector<std::string>& complaints) {
  const GpdEntry* feature = FindEntry(document.entries, "*Feature", wanted.name);
  if (!feature) return complaints.push_back("feature " + wanted.name + " missing");
  if (!wanted.displayName.empty() && !FindEntry(feature->children, "*rcNameID", wanted.displayName)) {
    complaints.push_back("feature " + wanted.name + " is not named " + wanted.displayName);
  }
  const std::vector<std::string> options = OptionNames(*feature);
  for (const std::string& option : wanted.options) {
    if (std::ranges::find(options, option) == options.end()) {
      complaints.push_back("feature " + wanted.name + " lacks option " + option);
    }
  }
  for (const GpdEntry& option : feature->children) {
    for (const std::string& keyword : wanted.entriesPerOption) {
      if (option.keyword == "*Option" && !FindEntry(option.children, keyword)) {
        complaints.push_back("option " + wanted.name + "." + option.value + " lacks " + keyword);
      }
    }
  }
}

std::vector<std::string> DriverComplaints(std::string_view text) {
  const GpdDocument document = ReadGpd(text);
  std::vector<std::string> complaints = GeneralComplaints(document);
  for (const auto& [keyword, value] : kRootEntries) {
    if (!FindEntry(document.entries, keyword, value)) {
      complaints.push_back(std::string(keyword) + ": " + value + " missing at root level");
    }
  }
  for (const ClientFeature& feature : kClientFeatures) CheckClientFeature(document, feature, complaints);
  return complaints;
}

TEST(GpdDriverFile, SatisfiesUnidrvAndTheClient) {
  EXPECT_THAT(DriverComplaints(DriverGpd()), IsEmpty());
}

struct Damage {
  const char* what;
  std::string from;
  std::string to;
  const char* complaint;
};

TEST(GpdDriverFile, RefusesDamagedCopies) {
  const Damage damages[] = {
      {"closing brace removed", R"(CmdCR { *Cmd: "<0D>" })", R"(CmdCR { *Cmd: "<0D>")", "1 brace(s) left open"},
      {"two entries on a line", "*Order: JOB_SETUP.1\n    *Cmd", "*Order: JOB_SETUP.1 *Cmd",
       "a second entry on the line"},
      {"block closed early", "*DefaultOption: PORTRAIT", "*DefaultOption: PORTRAIT }", "closing brace with no block"},
      {"default names no option", "*DefaultOption: PORTRAIT", "*DefaultOption: UPSIDE_DOWN",
       "feature Orientation: *DefaultOption UPSIDE_DOWN names none of its options"},
      {"option duplicated", "*Option: OFF", "*Option: ON", "feature Collate: option ON appears twice"},
      {"comment first", "*GPDSpecVersion", "*% version\n*GPDSpecVersion", "*GPDSpecVersion: \"1.0\" is not the first"},
      {"model name nested", "*ModelName: \"Quillon Driver v.0.1\"",
       "*Macros: Moved { *ModelName: \"Quillon Driver v.0.1\" }", "*ModelName missing at root level"},
      {"paper size dropped", "*Option: ENV_MONARCH", "*Option: ENV_ROC16K",
       "feature PaperSize lacks option ENV_MONARCH"},
      {"resource library renamed", "\"unires.dll\"", "\"unidrv.dll\"", "*ResourceDLL: \"unires.dll\" missing"},
      {"include in GDL's form", "*Include: \"stdnames.gpd\"", "#Include: \"stdnames.gpd\"", "text that is no entry"},
      {"orientation for a printer switched by command", "*Option: LANDSCAPE_CC270", "*Option: LANDSCAPE_CC90",
       "feature Orientation lacks option LANDSCAPE_CC270"},
      {"orientation option of no standard name", "*Option: LANDSCAPE_CC270", "*Option: LANDSCAPE",
       "feature Orientation: option LANDSCAPE is not a standard option name"},
      {"duplex display name not in stdnames.gpd", "=TWO_SIDED_PRINTING_DISPLAY", "=DUPLEX_DISPLAY",
       "feature Duplex is not named =TWO_SIDED_PRINTING_DISPLAY"},
  };
  const std::string original = DriverGpd();
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::string damaged = original;
    const size_t at = damaged.find(damage.from);
    ASSERT_NE(at, std::string::npos);
    damaged.replace(at, damage.from.size(), damage.to);
    EXPECT_THAT(DriverComplaints(damaged), Contains(HasSubstr(damage.complaint)));
  }
}

}  // namespace
}  // namespace quil::test
