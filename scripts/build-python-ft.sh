#!/usr/bin/env bash
# Builds the free-threaded CPython 3.14 interpreter (with pip) into a
# cache outside the checkout, and prints the interpreter's absolute path as the
# only line on stdout, so callers can write: python=$(scripts/build-python-ft.sh)
# A finished build is reused; everything else this script says goes to stderr.
#
# Environment:
#   VYRL_CACHE_DIR        cache root (default: ~/.cache/vyrl)
#   VYRL_CPYTHON_TARBALL  local source tarball; without it the tarball is taken
#                         from the Debian archive named in the apt sources
# Option:
#   --source-urls         print the download addresses it would try, and exit
set -euo pipefail

version=3.14.7
tarball_name=python3.14_${version}.orig.tar.xz
pool_path=pool/main/p/python3.14/$tarball_name
# Used only when the shared toolchain checksums are not beside the checkout.
fallback_sha256=3b48dac8fb59f62eaa67ac83c1eb12bda1b7a08406dd286e252c11a66be27f81
# Written after everything else, so an interrupted build never looks finished.
marker=.vyrl-build-complete

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

say() { echo "build-python-ft: $*" >&2; }
die() { say "$*"; exit 1; }

# Prints, in the order apt reads them, the http(s)/ftp URIs of the machine's
# Debian archive entries: security suites and third-party repositories are left
# out, because only the main archive carries the source pool we need.
debian_archive_uris() {
  local files=() f
  [ -r /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -r "$f" ] && files+=("$f")
  done
  ((${#files[@]})) || return 0

  for f in "${files[@]}"; do
    case $f in
      *.sources)
        awk '
          function reset() { split("", field); key = "" }
          function flush(   n, i, suites, uris, main, enabled) {
            enabled = tolower(field["enabled"])
            gsub(/[ \t]/, "", enabled)
            if (enabled !~ /^(no|false|off|disable)$/) {
              n = split(field["suites"], suites, /[ \t]+/)
              for (i = 1; i <= n; i++)
                if (suites[i] != "" && suites[i] !~ /-security$/) main = 1
              if (main) {
                n = split(field["uris"], uris, /[ \t]+/)
                for (i = 1; i <= n; i++) if (uris[i] != "") print uris[i]
              }
            }
            reset()
          }
          BEGIN { reset() }
          /^#/ { next }
          /^[ \t]*$/ { flush(); next }
          /^[ \t]/ { if (key != "") field[key] = field[key] " " $0; next }
          {
            s = index($0, ":")
            if (s == 0) next
            key = tolower(substr($0, 1, s - 1))
            field[key] = substr($0, s + 1)
          }
          END { flush() }
        ' "$f"
        ;;
      *)
        awk '
          { sub(/#.*/, "") }
          $1 != "deb" && $1 != "deb-src" { next }
          {
            # Options such as [arch=amd64 signed-by=...] may contain spaces.
            line = $0
            gsub(/\[[^]]*\]/, " ", line)
            $0 = line
            if ($3 ~ /-security$/ || $3 ~ /\/updates$/) next
            print $2
          }
        ' "$f"
        ;;
    esac
  done | sed 's:/*$::' | grep -E '^(https?|ftp)://[^/]+(/[^[:space:]]*)?/debian$' | awk '!seen[$0]++' || true
}

source_urls() {
  local uri
  while IFS= read -r uri; do
    echo "$uri/$pool_path"
  done < <(debian_archive_uris)
}

expected_sha256() {
  local sums=$repo_root/../shared/toolchain/SHA256SUMS sum=""
  if [ -r "$sums" ]; then
    sum=$(awk -v name="$tarball_name" '$2 == name || $2 == "*" name { print $1; exit }' "$sums")
  fi
  echo "${sum:-$fallback_sha256}"
}

sha256_ok() {
  local file=$1 want actual
  want=$(expected_sha256)
  actual=$(sha256sum "$file" | awk '{ print $1 }')
  [ "$actual" = "$want" ] && return 0
  say "checksum mismatch for $file: expected $want, got $actual"
  return 1
}

fetch() {
  local url=$1 out=$2
  if command -v curl >/dev/null; then
    curl -fsSL --retry 3 --connect-timeout 20 -o "$out" "$url"
  else
    python3 - "$url" "$out" <<'EOF'
import shutil, sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=60) as response, open(sys.argv[2], "wb") as out:
    shutil.copyfileobj(response, out)
EOF
  fi
}

# Prints the path of a verified source tarball: the one the caller named, else a
# copy downloaded earlier into the cache, else a fresh download.
obtain_tarball() {
  if [ -n "${VYRL_CPYTHON_TARBALL:-}" ]; then
    [ -f "$VYRL_CPYTHON_TARBALL" ] || die "VYRL_CPYTHON_TARBALL names a missing file: $VYRL_CPYTHON_TARBALL"
    sha256_ok "$VYRL_CPYTHON_TARBALL" || die "refusing to build from $VYRL_CPYTHON_TARBALL"
    echo "$VYRL_CPYTHON_TARBALL"
    return
  fi

  local cached=$cache_root/$tarball_name url tried=0
  if [ -f "$cached" ] && sha256_ok "$cached"; then
    echo "$cached"
    return
  fi
  while IFS= read -r url; do
    tried=1
    say "downloading $url"
    # A partial or tampered download must never sit under the final name.
    if fetch "$url" "$cached.part" && sha256_ok "$cached.part"; then
      mv -f "$cached.part" "$cached"
      echo "$cached"
      return
    fi
    rm -f "$cached.part"
  done < <(source_urls)
  ((tried)) || die "no Debian archive found in the apt sources; set VYRL_CPYTHON_TARBALL"
  die "could not obtain a verified $tarball_name; set VYRL_CPYTHON_TARBALL"
}

# -E keeps a caller's PYTHONPATH or PYTHON_GIL from changing the verdict.
usable() {
  [ -f "$prefix/$marker" ] && [ -x "$python" ] &&
    "$python" -E -c 'import sys, ssl, sqlite3, zlib; assert not sys._is_gil_enabled()' >/dev/null 2>&1 &&
    "$python" -E -m pip --version >/dev/null 2>&1
}

run_logged() {
  "$@" >>"$log" 2>&1 && return
  say "failed: $*"
  say "last lines of $log:"
  tail -n 40 "$log" >&2
  return 1
}

if [ "${1:-}" = "--source-urls" ]; then
  source_urls
  exit 0
elif [ $# -gt 0 ]; then
  die "unknown argument: $1"
fi

mkdir -p "${VYRL_CACHE_DIR:-$HOME/.cache/vyrl}"
cache_root=$(cd "${VYRL_CACHE_DIR:-$HOME/.cache/vyrl}" && pwd)
prefix=$cache_root/cpython-${version}t
python=$prefix/bin/python3.14t

if usable; then
  echo "$python"
  exit 0
fi

# Two callers starting at once must not build over each other; the second waits
# and then finds the first one's result.
exec 9>"$cache_root/cpython-${version}t.lock"
flock 9
if usable; then
  echo "$python"
  exit 0
fi

work=""
staging=""
cleanup() {
  [ -z "$work" ] || rm -rf "$work"
  [ -z "$staging" ] || rm -rf "$staging"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$repo_root/scripts/install-deps.sh" >&2

tarball=$(obtain_tarball)
log=$cache_root/cpython-${version}t.build.log
: >"$log"
started=$SECONDS
say "building CPython $version (free-threaded) into $prefix; log: $log"

work=$(mktemp -d "${TMPDIR:-/tmp}/vyrl-cpython.XXXXXX")
# Staged beside the prefix, so the final rename stays on one file system.
staging=$(mktemp -d "$cache_root/.cpython-${version}t.staging.XXXXXX")

tar -xJf "$tarball" -C "$work"
src=$work/Python-$version
[ -x "$src/configure" ] || die "$tarball does not unpack to Python-$version"

step() {
  local begun=$SECONDS
  say "$*"
  run_logged "$@" || return
  say "$* took $((SECONDS - begun))s"
}
(
  cd "$src"
  step ./configure --disable-gil --prefix="$prefix" --with-ensurepip=install
  step make -j"$(nproc)"
  step make install DESTDIR="$staging"
)

[ -x "$staging$prefix/bin/python3.14t" ] || die "make install left no $staging$prefix/bin/python3.14t"
rm -rf "$prefix"
mv "$staging$prefix" "$prefix"

"$python" -E -c 'import sys, ssl, sqlite3, zlib; assert not sys._is_gil_enabled()' ||
  die "the new interpreter lacks ssl, sqlite3 or zlib, or runs with the GIL; see $log"
"$python" -E -m pip --version >/dev/null || die "pip does not run in the new interpreter; see $log"
echo "sha256 $(expected_sha256)" >"$prefix/$marker"

say "done in $((SECONDS - started))s"
echo "$python"
