#!/usr/bin/env bash
# Commits the given paths only, serialised with other people working in this tree.
# Usage: scripts/commit.sh "message" path...
set -euo pipefail
msg=$1; shift
top=$(git rev-parse --show-toplevel)
exec 9>"$top/.git/ov-commit.lock"
flock 9
git add -A -- "$@"
git commit -q -m "$msg" -- "$@"
git log -1 --oneline
