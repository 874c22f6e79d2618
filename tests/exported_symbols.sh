#!/usr/bin/env bash
# librk.so exports its rk_ entry points and nothing else.
set -eu
lib=$1
bad=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBRVW]/ {print $3}' | grep -v '^rk_' | grep -v '^_init$\|^_fini$\|^_edata$\|^_end$\|^__bss_start$' || true)
if [ -n "$bad" ]; then
  echo "exported symbols outside the rk_ interface:"; echo "$bad"; exit 1
fi
echo "exports ok"
