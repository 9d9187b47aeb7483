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

}  // namespace
}  // namespace quil
