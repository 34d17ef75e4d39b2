#!/bin/sh
# makensis in the C locale: under a Turkish one it lower-cases I to a dotless i
# and then rejects the "!define /IfNDef" of its own MUI2.nsh.
LC_ALL=C exec makensis "$@"
