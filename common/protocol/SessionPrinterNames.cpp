#include "SessionPrinterNames.h"

namespace quil {
namespace {

// A "%d" number at the start of `text`, which is advanced past it.
std::optional<int32_t> TakeDecimal(std::u16string_view& text) {
  const bool negative = text.starts_with(u'-');
  std::size_t position = negative ? 1 : 0;
  int64_t value = 0;
  const std::size_t digitsStart = position;
  for (; position < text.size() && text[position] >= u'0' && text[position] <= u'9'; ++position) {
    value = value * 10 + (text[position] - u'0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (position == digitsStart) return std::nullopt;
  value = negative ? -value : value;
  if (value > INT32_MAX) return std::nullopt;
  text.remove_prefix(position);
  return static_cast<int32_t>(value);
}

bool TakeText(std::u16string_view& text, std::u16string_view expected) {
  if (!text.starts_with(expected)) return false;
  text.remove_prefix(expected.size());
  return true;
}

}  // namespace

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

std::optional<uint32_t> SessionOfPortName(std::u16string_view portName) {
  std::u16string_view rest = portName;
  if (!TakeText(rest, u"QPRN[")) return std::nullopt;
  const auto session = TakeDecimal(rest);
  if (!session || !TakeText(rest, u":") || !TakeDecimal(rest) || !TakeText(rest, u":") || !TakeDecimal(rest) ||
      rest != u"]") {
    return std::nullopt;
  }
  return static_cast<uint32_t>(*session);
}

}  // namespace quil
