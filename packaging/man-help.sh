#!/usr/bin/env bash
# What help2man runs in place of dravik ($DRAVIK_BINARY): the binary's own
# --help and --version, laid out the way help2man reads option tables. A
# description one space after its option gets a second space, and a word
# broken with a hyphen at the end of a line is put back together, hyphen and
# all (help2man would drop the hyphen).
set -euo pipefail
export LC_ALL=C
(exec -a dravik "$DRAVIK_BINARY" "$@") | sed -E \
  -e ':join' -e '/[A-Za-z]-$/{N;s/-\n */-/;b join' -e '}' \
  -e 's/^(  --[a-z0-9-]+(\[=[A-Z]+\])?( [A-Z]+)?) ([A-Z][a-z])/\1  \4/'
