#pragma once

#include <optional>
#include <vector>

#include "lsp/diagnose.hpp"
#include "lsp/position.hpp"
#include "lsp/protocol.hpp"

namespace vyrl::cli::lsp {

// Answers about an open document, read from the editor's text as it stands:
// each returns the request's result, nothing when there is nothing to say.
// Files the document imports or derives from are read as diagnose() reads
// them, open texts first.

std::optional<Hover> hover(const OpenText& document, Position position, const Workspace& workspace);
std::optional<std::vector<Location>> definition(const OpenText& document, Position position,
                                                const Workspace& workspace);
std::vector<DocumentSymbol> document_symbols(const OpenText& document, const Workspace& workspace);
std::vector<TextEdit> formatting(const OpenText& document, const Workspace& workspace);
std::vector<CompletionItem> completion(const OpenText& document, Position position, const Workspace& workspace);

}  // namespace vyrl::cli::lsp
