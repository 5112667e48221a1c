#include "channel/diagnostic_output.h"

#include <cstdint>
#include <iostream>
#include <string>

namespace flutter {

void WriteDiagnosticLine(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  WriteDiagnostic(text);
}

void WriteDiagnostic(std::string_view text) {
  // One insertion is one write to the synchronised standard error stream, which the C library
  // locks for its duration.
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cerr.flush();
}

std::string FormatAddress(const void* address) {
  if (address == nullptr) {
    return "0";
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  auto value = reinterpret_cast<std::uintptr_t>(address);
  std::string digits;
  while (value != 0) {
    digits.insert(digits.begin(), kDigits[value % 16]);
    value /= 16;
  }
  return "0x" + digits;
}

}  // namespace flutter
