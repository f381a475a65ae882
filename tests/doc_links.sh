#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README and the documents in docs/ lead where they say: every relative link to a file
# that exists (and, with an anchor, to a heading there), and every `make TARGET` they name
# to a target of the Makefile.
set -euo pipefail
cd "$(dirname "$0")/.."
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# GitHub's anchor of a heading: lower case, punctuation but hyphens dropped, blanks as
# hyphens.
anchors() {
    grep -E '^#+ ' "$1" | sed -E 's/^#+ //' | tr '[:upper:]' '[:lower:]' |
        sed -E 's/[^a-z0-9 _-]//g; s/ /-/g'
}

targets=$(grep -oE '^[a-z0-9-]+:' Makefile | tr -d ':')
links=0
for doc in README.md docs/*.md; do
    folder=$(dirname "$doc")
    while IFS= read -r link; do
        links=$((links + 1))
        file=${link%%#*}
        anchor=
        [ "$file" = "$link" ] || anchor=${link#*#}
        target=$doc
        [ -z "$file" ] || target=$folder/$file
        [ -e "$target" ] || { fail "$doc: $link leads to no file"; continue; }
        if [ -n "$anchor" ] && [[ $target == *.md ]] && ! anchors "$target" | grep -qx -- "$anchor"; then
            fail "$doc: $link leads to no heading"
        fi
    done < <(grep -oE '\]\([^)]+\)' "$doc" | sed -E 's/^\]\(//; s/\)$//' | grep -vE '^[a-z]+:')
    while IFS= read -r target; do
        grep -qx -- "$target" <<<"$targets" || fail "$doc: no make target '$target'"
    done < <(grep -oE '(`|^)make [a-z0-9-]+' "$doc" | sed -E 's/^`?make //' | sort -u)
done
[ "$failures" = 0 ] || exit 1
echo "PASS: $links links in README.md and docs/*.md lead to their files and headings, and every make target named exists"
