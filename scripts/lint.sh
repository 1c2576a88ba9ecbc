#!/usr/bin/env bash
# What no build checks. Every shell script in the repository and the bash completion go
# through shellcheck; the GitHub workflow is checked against the schema of workflows by
# action-validator (from npm, at a pinned version, run by npx).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh check

scripts=()
while IFS= read -r file; do
  first=""
  IFS= read -r first <"$file" || true
  shebang='^#! *(/usr)?/bin/(env +)?(ba)?sh( |$)'
  if [[ $file == *.sh || $file == *.bash || $first =~ $shebang ]]; then
    scripts+=("$file")
  fi
done < <(git ls-files)
shellcheck "${scripts[@]}"
echo "lint: shellcheck finds nothing in ${#scripts[@]} scripts"

npx --yes @action-validator/cli@0.6.0 .github/workflows/*.yml
echo "lint: the workflows match their schema"
