#pragma once

#include <optional>
#include <vector>

#include "lsp/diagnose.hpp"
#include "lsp/position.hpp"
#include "lsp/protocol.hpp"

namespace vyrl::cli::lsp {

// Answers about an open document as the editor holds it: each returns the
// request's result, nothing when there is nothing to say. What names, values
// and types mean comes from the document's model (see scope.hpp), kept from
// its last check while the text is unchanged, so that an answer never
// contradicts `vyrl check`; the syntax layer only places the cursor.

std::optional<Hover> hover(const OpenText& document, Position position, const Workspace& workspace);
std::optional<std::vector<Location>> definition(const OpenText& document, Position position,
                                                const Workspace& workspace);
std::vector<DocumentSymbol> document_symbols(const OpenText& document, const Workspace& workspace);
std::vector<TextEdit> formatting(const OpenText& document, const Workspace& workspace);
std::vector<CompletionItem> completion(const OpenText& document, Position position, const Workspace& workspace);

}  // namespace vyrl::cli::lsp
