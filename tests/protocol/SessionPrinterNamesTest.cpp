#include "SessionPrinterNames.h"

#include <gtest/gtest.h>

namespace quil {
namespace {

TEST(ClientPrinterDisplayName, NetworkPrinterReadsPrinterOnServer) {
  EXPECT_EQ(ClientPrinterDisplayName(u"\\\\PRINTSRV\\Laser 5"), u"Laser 5 on PRINTSRV");
  EXPECT_EQ(ClientPrinterDisplayName(u"\\\\SRV\\P"), u"P on SRV");
  EXPECT_EQ(ClientPrinterDisplayName(u"\\\\SRV\\queue\\sub"), u"queue\\sub on SRV") << "only the first backslash";
  EXPECT_EQ(ClientPrinterDisplayName(u"\\\\SRV\\"), u" on SRV");
}

TEST(ClientPrinterDisplayName, ServerAloneAndBarePrefix) {
  EXPECT_EQ(ClientPrinterDisplayName(u"\\\\PRINTSRV"), u"PRINTSRV");
  EXPECT_EQ(ClientPrinterDisplayName(u"\\\\"), u"");
}

TEST(ClientPrinterDisplayName, OtherNamesStayAsTheyAre) {
  EXPECT_EQ(ClientPrinterDisplayName(u"Inkjet"), u"Inkjet");
  EXPECT_EQ(ClientPrinterDisplayName(u"A\\\\B"), u"A\\\\B");
  EXPECT_EQ(ClientPrinterDisplayName(u"\\SRV\\P"), u"\\SRV\\P");
  EXPECT_EQ(ClientPrinterDisplayName(u""), u"");
}

TEST(SessionOfPortName, ReadsTheSessionOfEveryPortNameFormedAndNothingElse) {
  struct Case {
    std::u16string_view name;
    std::optional<uint32_t> session;
  };
  const Case cases[] = {
      {u"QPRN[3:0:1]", 3u},
      {u"QPRN[65536:255:2147483647]", 65536u},
      {u"QPRN[-1:0:-2147483648]", 0xFFFFFFFFu},  // as "%d" formats the largest ids and a wrapped counter
      {u"QPRN[3:0:1", std::nullopt},
      {u"QPRN[3:0:1] ", std::nullopt},
      {u"QPRN[3:0]", std::nullopt},
      {u"QPRN[3::1]", std::nullopt},
      {u"QPRN[:0:1]", std::nullopt},
      {u"QPRN[3:0:2147483648]", std::nullopt},
      {u"QPRN[3:0:-2147483649]", std::nullopt},
      {u"QPRN[3:0:99999999999999999999]", std::nullopt},
      {u"qprn[3:0:1]", std::nullopt},
      {u"QPRN[+3:0:1]", std::nullopt},
      {u"LPT1:", std::nullopt},
      {u"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SessionOfPortName(c.name), c.session) << std::string(c.name.begin(), c.name.end());
  }
}

}  // namespace
}  // namespace quil
