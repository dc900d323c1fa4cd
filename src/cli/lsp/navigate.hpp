#pragma once

#include <nlohmann/json_fwd.hpp>

#include "lsp/diagnose.hpp"
#include "lsp/position.hpp"

namespace vyrl::cli::lsp {

// Answers about an open document as the editor holds it: each returns the
// request's result, null when there is nothing to say. What names, values
// and types mean comes from the document's model (see scope.hpp), kept from
// its last check while the text is unchanged, so that an answer never
// contradicts `vyrl check`; the syntax layer only places the cursor.

nlohmann::json hover(const OpenText& document, Position position, const Workspace& workspace);
nlohmann::json definition(const OpenText& document, Position position, const Workspace& workspace);
nlohmann::json document_symbols(const OpenText& document, const Workspace& workspace);
nlohmann::json formatting(const OpenText& document, const Workspace& workspace);
nlohmann::json completion(const OpenText& document, Position position, const Workspace& workspace);

}  // namespace vyrl::cli::lsp
