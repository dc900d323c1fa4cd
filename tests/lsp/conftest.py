"""Shared pieces of the language server's tests: the binary, and a client that talks to it over stdio.

The binary comes from $VYRL_CLI, or build/src/cli/vyrl under the repository root.
"""

import asyncio
import os
from pathlib import Path

import pytest
import pytest_lsp
from lsprotocol import types
from pytest_lsp import ClientServerConfig, LanguageClient

ROOT = Path(__file__).resolve().parents[2]
VYRL = Path(os.environ.get("VYRL_CLI", ROOT / "build" / "src" / "cli" / "vyrl")).absolute()

# No single step of a test may wait longer: a server that stops answering
# fails the test instead of hanging the run.
STEP_SECONDS = 10


@pytest.fixture(scope="session", autouse=True)
def binary_exists():
    if not VYRL.is_file():
        pytest.fail(f"no vyrl binary at {VYRL}: build the project or set VYRL_CLI")


@pytest_lsp.fixture(config=ClientServerConfig(server_command=[str(VYRL), "lsp"]))
async def client(lsp_client: LanguageClient):
    """A client connected to a fresh server; each test initializes it for its own workspace."""
    yield
    await asyncio.wait_for(lsp_client.shutdown_session(), STEP_SECONDS)


async def start(client, root: Path, encodings=None):
    """Initializes the session with `root` as the only workspace folder."""
    capabilities = types.ClientCapabilities(
        general=types.GeneralClientCapabilities(position_encodings=encodings) if encodings else None,
        text_document=types.TextDocumentClientCapabilities(
            publish_diagnostics=types.PublishDiagnosticsClientCapabilities(related_information=True),
            code_action=types.CodeActionClientCapabilities(
                code_action_literal_support=types.ClientCodeActionLiteralOptions(
                    code_action_kind=types.ClientCodeActionKindOptions(value_set=[types.CodeActionKind.QuickFix])
                )
            ),
        ),
    )
    params = types.InitializeParams(
        capabilities=capabilities,
        root_uri=root.as_uri(),
        workspace_folders=[types.WorkspaceFolder(uri=root.as_uri(), name="root")],
    )
    return await asyncio.wait_for(client.initialize_session(params), STEP_SECONDS)


async def published(client, action, *uris):
    """Runs `action` and returns the diagnostics it published for each URI, in that order."""
    for uri in uris:
        client.diagnostics.pop(uri, None)
    action()

    async def arrived():
        while any(uri not in client.diagnostics for uri in uris):
            await asyncio.sleep(0.01)

    await asyncio.wait_for(arrived(), STEP_SECONDS)
    return [list(client.diagnostics[uri]) for uri in uris]


def open_document(client, path: Path, text: str, version=1):
    client.text_document_did_open(
        types.DidOpenTextDocumentParams(
            text_document=types.TextDocumentItem(uri=path.as_uri(), language_id="vyrl", version=version, text=text)
        )
    )


def change_document(client, path: Path, version, *changes):
    """Each change is a whole text, or (start line, start column, end line, end column, text)."""
    content = []
    for change in changes:
        if isinstance(change, str):
            content.append(types.TextDocumentContentChangeWholeDocument(text=change))
        else:
            sl, sc, el, ec, text = change
            content.append(
                types.TextDocumentContentChangePartial(
                    range=types.Range(start=types.Position(line=sl, character=sc), end=types.Position(line=el, character=ec)),
                    text=text,
                )
            )
    client.text_document_did_change(
        types.DidChangeTextDocumentParams(
            text_document=types.VersionedTextDocumentIdentifier(uri=path.as_uri(), version=version),
            content_changes=content,
        )
    )


def span(diagnostic):
    """A diagnostic's range as (line, start column, end line, end column)."""
    r = diagnostic.range
    return (r.start.line, r.start.character, r.end.line, r.end.character)
