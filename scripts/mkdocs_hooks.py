"""MkDocs hooks (mkdocs.yml names this file): links from docs/ to the rest of the repository.

A page links to an example or a benchmark's picture as GitHub reads it,
`../examples/courier-7.vyr`, so that the link works where the pages are read in
the repository. The site has no `../`: each such file is copied into it under
`repo/`, and the link is pointed at the copy. A link to a path that is not a
file of the repository is logged as a warning, which fails the strict build.
"""

from __future__ import annotations

import logging
import os
import posixpath
import re
from pathlib import Path
from typing import Any

from mkdocs.structure.files import File, Files

log = logging.getLogger("mkdocs.hooks.repository_links")

# The target of a Markdown link or image: ](target) or ](target "title").
LINK = re.compile(r"\]\((?P<target>[^)\s#?]+)(?P<rest>[^)]*)\)")
# Where the copies go inside the site.
COPIES = "repo"


def repository_file(config: Any, page_uri: str, target: str) -> str | None:
    """The repository path that a page's link names outside docs/, or None for a link that stays inside."""
    if "://" in target or target.startswith(("/", "mailto:")):
        return None
    inside = posixpath.normpath(posixpath.join(posixpath.dirname(page_uri), target))
    if not inside.startswith("../"):
        return None
    # Paths as written, not with links resolved: a checkout may be reached through one.
    path = Path(os.path.normpath(os.path.join(config["docs_dir"], inside)))
    root = repository_root(config)
    return path.relative_to(root).as_posix() if path.is_relative_to(root) else "../" + inside


def repository_root(config: Any) -> Path:
    """The directory that holds mkdocs.yml."""
    return Path(os.path.normpath(os.path.dirname(os.path.abspath(config["config_file_path"]))))


def on_files(files: Files, config: Any) -> Files:
    root = repository_root(config)
    for page in list(files.documentation_pages()):
        for match in LINK.finditer(page.content_string):
            found = repository_file(config, page.src_uri, match["target"])
            if found is None:
                continue
            path = root / found
            if found.startswith("../") or not path.is_file():
                target = match["target"]
                log.warning(f"Doc file '{page.src_uri}' links to '{target}', which is no file of the repository")
            elif found.endswith(".md"):
                log.warning(f"Doc file '{page.src_uri}' links to '{found}', which the site does not include")
            elif files.get_file_from_path(f"{COPIES}/{found}") is None:
                files.append(File.generated(config, f"{COPIES}/{found}", abs_src_path=str(path)))
    return files


def on_page_markdown(markdown: str, page: Any, config: Any, files: Files) -> str:
    def point_at_copy(match: re.Match[str]) -> str:
        found = repository_file(config, page.file.src_uri, match["target"])
        if found is None or files.get_file_from_path(f"{COPIES}/{found}") is None:
            return match[0]
        copy = posixpath.relpath(f"{COPIES}/{found}", posixpath.dirname(page.file.src_uri) or ".")
        return f"]({copy}{match['rest']})"

    return LINK.sub(point_at_copy, markdown)
