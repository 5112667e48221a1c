#include "plugin/operations.h"
#include "plugin/search/file_search.h"

namespace pel_mora {

WorkerReply SearchFilesOperation(const SearchParameters& parameters) { return SearchFiles(parameters); }

}  // namespace pel_mora
