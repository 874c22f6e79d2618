#!/usr/bin/env bash
# librk.so exports its rk_ entry points and nothing else, and every function
# rk.h declares is among them.
set -eu
lib=$1
header=${2:-}
exports=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TDBRVW]/ {print $3}')
bad=$(echo "$exports" | grep -v '^rk_' | grep -v '^_init$\|^_fini$\|^_edata$\|^_end$\|^__bss_start$' || true)
if [ -n "$bad" ]; then
  echo "exported symbols outside the rk_ interface:"; echo "$bad"; exit 1
fi
if [ -n "$header" ]; then
  declared=$(grep -oE '^RK_API[^(]*[^a-z0-9_]rk_[a-z0-9_]+\(' "$header" | grep -oE 'rk_[a-z0-9_]+\($' | tr -d '(')
  missing=$(comm -23 <(echo "$declared" | sort -u) <(echo "$exports" | sort -u))
  if [ -n "$missing" ]; then
    echo "declared in rk.h but not exported:"; echo "$missing"; exit 1
  fi
fi
echo "exports ok"
