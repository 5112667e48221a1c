#pragma once

#include <string>
#include <string_view>

namespace pel_mora {

// Tidies a path that came from the interface: '/' becomes '\', and runs of separators collapse
// to one, except that the first two characters are kept as they are, so a UNC or device prefix
// ("\\server", "\\?\") survives while a third leading separator is dropped. Trailing separators,
// case, dots and drive letters are left alone. An empty path stays empty.
std::wstring NormalizePath(std::wstring_view path);

}  // namespace pel_mora
