#!/bin/sh
# Runs a validator (its command line as arguments); exits 77, ctest's skip, when it is not installed.
command -v "$1" >/dev/null || { echo "skipped: $1 is not installed (scripts/setup test installs it)"; exit 77; }
exec "$@"
