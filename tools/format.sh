#!/bin/sh
# Lays out the C++ of src/ and tests/ as .clang-format says.
#   tools/format.sh           reformats every *.cpp and *.h in place
#   tools/format.sh --check   changes nothing; fails, naming each line, when a
#                             file is laid out otherwise (./setup.sh test runs it)
set -eu
cd "$(dirname "$0")/.."
# Versions of clang-format lay some lines out differently: the one Debian
# packages as clang-format-19 is the one the layout is checked with.
format=${CLANG_FORMAT:-clang-format-19}
if ! command -v "$format" >/dev/null 2>&1; then
    echo "$0: $format is missing: sh tools/install-packages.sh clang-format-19" >&2
    exit 2
fi
sources() {
    find src tests -type f \( -name '*.cpp' -o -name '*.h' \) -print0
}
case "${1:-}" in
"")
    sources | xargs -0 "$format" --style=file --fallback-style=none -i
    ;;
--check)
    if ! sources | xargs -0 "$format" --style=file --fallback-style=none --dry-run -Werror; then
        echo "$0: the lines above are not laid out as .clang-format says; tools/format.sh lays them out" >&2
        exit 1
    fi
    echo "C++ layout: every file in src/ and tests/ as .clang-format says"
    ;;
*)
    echo "usage: $0 [--check]" >&2
    exit 2
    ;;
esac
