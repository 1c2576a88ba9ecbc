#!/usr/bin/env bash
# What no build checks. Every shell script in the repository and the bash completion go
# through shellcheck, and those a Mac runs (all but CI's own and the Debian package's check)
# through scripts/mac-shell.awk, which finds what bash 3.2 and macOS's BSD tools lack; the GitHub
# workflow is checked against the schema of workflows by action-validator (from npm, at a pinned
# version, run by npx).
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
shellcheck ${scripts[@]+"${scripts[@]}"}
echo "lint: shellcheck finds nothing in ${#scripts[@]} scripts"

mac=0
for file in ${scripts[@]+"${scripts[@]}"} Makefile; do
  case $file in .ci/run | scripts/check-deb.sh) continue ;; esac
  awk -f scripts/mac-shell.awk "$file" "$file" || mac=$((mac + 1))
done
[ "$mac" -eq 0 ] || { echo "lint: $mac scripts use what a Mac lacks (above)" >&2; exit 1; }
echo "lint: the scripts a Mac runs need nothing beyond bash 3.2 and macOS's own tools"

npx --yes @action-validator/cli@0.6.0 .github/workflows/*.yml
echo "lint: the workflows match their schema"
