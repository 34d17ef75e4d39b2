#!/bin/sh
# Linker launcher: runs the link with SOURCE_DATE_EPOCH set from the source
# (see source-date-epoch.sh). The MinGW linker writes that time into the PE
# header in place of the clock's, and the checksum it computes covers it, so
# every build of one commit gives the same bytes, wherever and whenever it runs.
# Usage: at-source-date.sh SOURCE_DIR COMMAND [ARGS...]
set -eu
here=$(dirname "$0")
SOURCE_DATE_EPOCH=$("$here/source-date-epoch.sh" "$1")
export SOURCE_DATE_EPOCH
shift
exec "$@"
