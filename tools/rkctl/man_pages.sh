#!/usr/bin/env bash
# Makes rkctl's manual pages from its own help texts with help2man:
# rkctl.1 and one page rkctl-COMMAND.1 for each command rkctl lists.
#   man_pages.sh RKCTL OUTPUT_DIR [EMULATOR...]
# EMULATOR: the command that runs a program of a cross build here.
set -euo pipefail
rkctl=$(realpath "$1")
out=$2
shift 2
mkdir -p "$out"
if ! command -v help2man >/dev/null; then
  echo "man_pages: help2man is missing (scripts/bootstrap.sh installs it): no manual pages" >&2
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ $# -gt 0 ]; then
  printf '#!/bin/sh\nexec %s "%s" "$@"\n' "$*" "$rkctl" >"$work/rkctl"
  chmod +x "$work/rkctl"
  rkctl=$work/rkctl
fi
common=(--no-info --no-discard-stderr --section=1 --source="rk" --manual="rk manual")
help2man "${common[@]}" --name="run a plant and look inside running RTDBs" \
  --output="$out/rkctl.1" "$rkctl"
version=$("$rkctl" --version | awk '{print $2; exit}')
"$rkctl" __commands | while IFS=$'\t' read -r command what; do
  # help2man names a page after the program that its --version names: a
  # wrapper of that name.
  printf '#!/bin/sh\n[ "$1" = --version ] && { echo "rkctl-%s %s"; exit 0; }\nexec "%s" %s "$@"\n' \
    "$command" "$version" "$rkctl" "$command" >"$work/rkctl-$command"
  chmod +x "$work/rkctl-$command"
  help2man "${common[@]}" --name="$what" --output="$out/rkctl-$command.1" "$work/rkctl-$command"
done
