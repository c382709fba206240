#include "support/number_option.h"

#include <utility>

namespace compatcrypt::cli {

CLI::Validator WholeNumber(std::uint64_t low, std::uint64_t high, std::uint64_t multiple,
                           std::string refusal) {
  return CLI::Validator(
      [=](std::string &text) {
        const std::size_t first = text.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "0" : text.substr(first);
        // At most 19 digits: every such number fits 64 bits.
        const bool number =
            !text.empty() && text.find_first_not_of("0123456789") == std::string::npos && digits.size() <= 19;
        const std::uint64_t value = number ? std::stoull(digits) : 0;
        if (!number || value < low || value > high || value % multiple != 0) return refusal + ": " + text;
        text = digits;
        return std::string();
      },
      "");
}

}  // namespace compatcrypt::cli
