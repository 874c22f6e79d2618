#!/usr/bin/env bash
# rkctl and the demo programs stand on the public interface alone: they
# include rk.h and their own headers, never a header of the kernel.
set -u
top=${1:?usage: tool_layering.sh SOURCE_DIR}
bad=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$top"/tools/rkctl/*.h "$top"/tools/rkctl/*.cpp \
        "$top"/examples/demo/*.c "$top"/examples/demo/*.h |
      grep -vE '#[[:space:]]*include[[:space:]]*"(rk\.h|tools/rkctl/[^"/]+|demo_common\.h)"')
if [ -n "$bad" ]; then
  echo "tools include kernel headers:"
  echo "$bad"
  exit 1
fi
echo "tools include only rk.h and their own headers"
