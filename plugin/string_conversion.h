#pragma once

// The one place where UTF-8 (the channel's strings) and UTF-16 (Windows paths and names) meet.

#include <string>
#include <string_view>

namespace pel_mora {

// UTF-8 to UTF-16 with MultiByteToWideChar (code page 65001, flags 0: an invalid sequence becomes
// U+FFFD). An empty input, or one the system cannot convert, gives an empty string.
std::wstring Utf8ToWide(std::string_view text);

// UTF-16 to UTF-8 with WideCharToMultiByte (code page 65001, flags 0, no default character; an
// unpaired surrogate becomes U+FFFD). An empty or unconvertible input gives an empty string.
std::string WideToUtf8(std::wstring_view text);

// The same conversion written into `output`, replacing its content, so that a caller converting
// many strings (a directory walk, one name per file) reuses one buffer instead of allocating.
void WideToUtf8(std::wstring_view text, std::string& output);

}  // namespace pel_mora
