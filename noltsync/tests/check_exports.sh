#!/usr/bin/env bash
# The plug-in exports the nine entry points and no other symbol of ours.
set -euo pipefail
expected="ModletDispose ModletDisposeContext ModletGetProperty ModletGetState ModletInit ModletInitContext ModletSetProperty ModletStart ModletStop"
actual=$(nm -D --defined-only "$1" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
echo "exports: $actual"
