#pragma once

// The name, extension and size rules of the file search, free of Win32 so that they are tested
// natively as well as under Wine.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pel_mora {

// A copy of `text` with only 'A' to 'Z' folded to 'a' to 'z', as towlower does in the "C"
// locale; every other character, accented letters included, is copied unchanged.
std::wstring ToLowerWide(std::wstring_view text);

// The same folding written into `output`, replacing its content, so that a walk lower-casing one
// name per file reuses one buffer.
void ToLowerWide(std::wstring_view text, std::wstring& output);

// The words of a query, lower-cased, in input order (duplicates kept). Words are separated by
// white space (space, tab, line feed, vertical tab, form feed, carriage return); leading and
// trailing '*' and '?' are stripped from each word, and a word left empty is dropped. A '*' or
// '?' inside a word stays and is matched literally.
std::vector<std::wstring> ParseQueryTokens(std::wstring_view query);

// The extensions of an extension list, lower-cased and without their dot, in input order. Pieces
// are separated by ',', ';', ' ' and '|' (a tab is not a separator); one leading '.' and then one
// leading "*." are removed from each piece, and a piece left empty is dropped. A lone '*' stays
// and matches no file.
std::vector<std::wstring> ParseExtensionList(std::wstring_view text);

// True when a lower-case full path lies in, or is, one of the system folders that a search never
// enters (the component store, the driver store, servicing, the update download cache, the
// packaged apps' data). A plain substring test, so longer names that begin with these match too.
bool IsExcludedSystemPath(std::wstring_view lower_case_path);

// True when a directory entry's bare name, files and folders alike, is one of the names a search
// skips (the Recycle Bin, volume information, upgrade leftovers, tool and cache folders),
// compared ignoring the case of 'A' to 'Z'.
bool IsExcludedEntryName(std::wstring_view name);

// The text after the last '.' of a file name, in the name's own case; empty when the name has no
// '.' or its only '.' is the first character.
std::wstring_view FileExtensionOf(std::wstring_view name);

// The result limit a search uses for the "maxResults" the interface sent: the low 32 bits, read
// as a signed number, with anything below 1 meaning 500.
int32_t EffectiveResultLimit(int64_t requested);

// The folder a search starts from: the normalised root, "C:\" when that is empty, with a '\'
// appended unless it already ends in a separator.
std::wstring SearchRootFolder(std::wstring_view requested_root);

// What a file must satisfy to be a match.
class SearchCriteria {
 public:
  SearchCriteria(std::wstring_view query, std::wstring_view extension_list, int64_t min_size, int64_t max_size);

  // Without words or extensions and with a minimum size, a search keeps only the largest
  // matches and returns them sorted by size.
  bool IsLargestFilesMode() const { return min_size_ >= 1 && query_tokens_.empty() && extensions_.empty(); }

  // Tests one file, size first because it costs nothing, then the extension, then the words.
  // `lower_case_buffer` is scratch space the caller keeps between calls so that no test
  // allocates once it has grown to the longest name.
  bool Matches(std::wstring_view name, int64_t size_bytes, std::wstring& lower_case_buffer) const;

  const std::vector<std::wstring>& QueryTokens() const { return query_tokens_; }
  const std::vector<std::wstring>& Extensions() const { return extensions_; }

 private:
  std::vector<std::wstring> query_tokens_;
  std::vector<std::wstring> extensions_;
  int64_t min_size_;
  int64_t max_size_;
};

}  // namespace pel_mora
