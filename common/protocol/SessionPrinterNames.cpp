#include "SessionPrinterNames.h"

namespace quil {

std::u16string ClientPrinterDisplayName(std::u16string_view clientPrinterName) {
  constexpr std::u16string_view kNetworkPrefix = u"\\\\";
  constexpr char16_t kSeparator = u'\\';
  constexpr std::u16string_view kJoiner = u" on ";
  if (!clientPrinterName.starts_with(kNetworkPrefix)) return std::u16string(clientPrinterName);
  const std::u16string_view rest = clientPrinterName.substr(kNetworkPrefix.size());
  const std::size_t separator = rest.find(kSeparator);
  if (separator == std::u16string_view::npos) return std::u16string(rest);
  std::u16string name(rest.substr(separator + 1));
  name += kJoiner;
  name += rest.substr(0, separator);
  return name;
}

}  // namespace quil
