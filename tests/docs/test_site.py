"""The documentation site: it builds in strict mode, works from the file system, and refuses broken links.

mkdocs.yml promises a site that a reader can open as files, search included,
and a build that fails on any broken link; these tests hold it to both. They
need mkdocs and the Material theme (scripts/test.sh installs them).
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path
from urllib.parse import unquote, urlsplit

import pytest

pytest.importorskip("mkdocs")
pytest.importorskip("material")

ROOT = Path(__file__).resolve().parents[2]
PAGES = sorted(path.name for path in (ROOT / "docs").glob("*.md"))
# A link from a page to a file of the repository outside docs/.
REPOSITORY_LINK = re.compile(r"\]\(\.\./([^)\s#]+)")


def build(config, site):
    env = dict(os.environ, NO_MKDOCS_2_WARNING="1")
    return subprocess.run(
        [sys.executable, "-m", "mkdocs", "build", "--strict", "--config-file", str(config), "--site-dir", str(site)],
        capture_output=True, text=True, env=env, timeout=300,
    )


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    site = tmp_path_factory.mktemp("site")
    done = build(ROOT / "mkdocs.yml", site)
    assert done.returncode == 0, done.stderr
    return site


def test_every_page_is_built(site):
    assert PAGES
    for page in PAGES:
        assert (site / page.replace(".md", ".html")).is_file(), page


def test_search_works_from_the_file_system(site):
    # From file:// a page cannot fetch the index, so the offline plugin makes
    # it a script that sets a variable; every page must be in it.
    index = (site / "search" / "search_index.js").read_text(encoding="utf-8")
    assert index.startswith("var __index = ")
    for page in PAGES:
        assert f'"location":"{page.replace(".md", ".html")}' in index, page


def test_repository_files_are_copied_into_the_site(site):
    linked = {target for page in PAGES for target in REPOSITORY_LINK.findall((ROOT / "docs" / page).read_text())}
    assert "bench/results/compare.png" in linked
    for target in linked:
        assert (site / "repo" / target).read_bytes() == (ROOT / target).read_bytes(), target


def test_every_local_link_names_a_file_of_the_site(site):
    """As file:// has no index pages, a link to a directory or a missing file is a dead end."""
    # 404.html is for a web server, which serves it from any depth, so its links start at "/".
    for html in set(site.glob("*.html")) - {site / "404.html"}:
        for target in re.findall(r'(?:href|src)="([^"]+)"', html.read_text(encoding="utf-8")):
            parts = urlsplit(target)
            if parts.scheme or parts.netloc or not parts.path:
                continue
            assert (html.parent / unquote(parts.path)).is_file(), f"{html.name}: {target}"


@pytest.fixture
def checkout(tmp_path):
    """A copy of the repository whose docs/ a test may change: the rest is linked, not copied."""
    for entry in ROOT.iterdir():
        if entry.name in {"docs", "mkdocs.yml", ".git", "site"} or entry.name.startswith("build"):
            continue
        (tmp_path / entry.name).symlink_to(entry)
    shutil.copytree(ROOT / "docs", tmp_path / "docs")
    shutil.copy(ROOT / "mkdocs.yml", tmp_path / "mkdocs.yml")
    return tmp_path


def test_the_copy_builds(checkout, tmp_path_factory):
    """The cases below fail for what they add alone, not for the way they copy the repository."""
    done = build(checkout / "mkdocs.yml", tmp_path_factory.mktemp("site"))
    assert done.returncode == 0, done.stderr


@pytest.mark.parametrize(
    "page, text, named",
    [
        ("index.md", "[gone](../examples/gone.vyr)", "../examples/gone.vyr"),
        ("index.md", "[a directory](../examples/)", "../examples/"),
        ("index.md", "[not in the site](../CONTRIBUTING.md)", "CONTRIBUTING.md"),
        ("cli.md", "[a missing page](gone.md)", "gone.md"),
        ("cli.md", "[a missing section](language.md#no-such-section)", "#no-such-section"),
        ("cli.md", "[a missing section here](#no-such-section)", "#no-such-section"),
        ("extra.md", "# A page that is in no menu", "extra.md"),
    ],
    ids=["missing file", "directory", "repository page", "missing page", "missing anchor", "missing own anchor",
         "page not in nav"],
)
def test_a_broken_link_fails_the_build(checkout, tmp_path_factory, page, text, named):
    path = checkout / "docs" / page
    path.write_text((path.read_text() if path.exists() else "") + f"\n\n{text}\n", encoding="utf-8")
    done = build(checkout / "mkdocs.yml", tmp_path_factory.mktemp("site"))
    assert done.returncode != 0
    assert named in done.stderr


def anchors(markdown):
    """The anchors of a page's headings, as GitHub and the site (mkdocs.yml's slugify) both make them."""
    from pymdownx.slugs import slugify

    text = re.sub(r"^```.*?^```$", "", markdown, flags=re.MULTILINE | re.DOTALL)
    headings = re.findall(r"^#+ (.+)$", text, re.MULTILINE)
    return {slugify(case="lower")(heading.replace("`", ""), "-") for heading in headings}


@pytest.mark.parametrize("page", ["README.md", "CONTRIBUTING.md"])
def test_links_outside_the_site_resolve(page):
    """README.md and CONTRIBUTING.md are read on GitHub, not in the site, so no build checks their links."""
    text = (ROOT / page).read_text(encoding="utf-8")
    links = re.findall(r"\]\(([^)\s]+)\)", text)
    assert any(link.startswith("docs/") for link in links)
    for link in links:
        parts = urlsplit(link)
        if parts.scheme:
            continue
        target = ROOT / page if not parts.path else ROOT / unquote(parts.path)
        assert target.exists(), f"{page}: {link}"
        if parts.fragment:
            assert parts.fragment in anchors(target.read_text(encoding="utf-8")), f"{page}: {link}"
