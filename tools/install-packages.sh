#!/bin/sh
# Installs those of the given Debian packages that are missing, with apt-get
# (through sudo unless run as root).
#   tools/install-packages.sh package...
set -eu
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=""
for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -n "$missing" ] || exit 0
echo "Installing:$missing"
# A mirror in the middle of a sync serves an index that does not match its
# release file; that passes within minutes, so the index is fetched again.
# If it never matches, apt-get install below says which package it lacks.
for pause in 20 40 80 0; do
    $sudo apt-get update && break
    [ "$pause" -eq 0 ] || { echo "apt-get update failed; again in $pause s" >&2; sleep "$pause"; }
done
# shellcheck disable=SC2086
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
