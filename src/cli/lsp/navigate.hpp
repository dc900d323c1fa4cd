#pragma once

#include <nlohmann/json_fwd.hpp>

#include "lsp/diagnose.hpp"
#include "lsp/position.hpp"

namespace vyrl::cli::lsp {

// Answers about an open document, read from the editor's text as it stands:
// each returns the request's result, null when there is nothing to say.
// Files the document imports or derives from are read as diagnose() reads
// them, open texts first.

nlohmann::json hover(const OpenText& document, Position position, const Workspace& workspace);
nlohmann::json definition(const OpenText& document, Position position, const Workspace& workspace);
nlohmann::json document_symbols(const OpenText& document, const Workspace& workspace);
nlohmann::json formatting(const OpenText& document, const Workspace& workspace);
nlohmann::json completion(const OpenText& document, Position position, const Workspace& workspace);

}  // namespace vyrl::cli::lsp
