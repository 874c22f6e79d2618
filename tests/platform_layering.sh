#!/usr/bin/env bash
# The platform layer stands below the kernel: a file under platform/ includes
# system headers and other files of platform/, never a header of the kernel
# or the public interface.
set -u
top=${1:?usage: platform_layering.sh SOURCE_DIR}
bad=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$top"/platform/*.h "$top"/platform/*.cpp |
      grep -vE '#[[:space:]]*include[[:space:]]*"platform/[^"/]+"')
if [ -n "$bad" ]; then
  echo "platform/ includes headers from outside it:"
  echo "$bad"
  exit 1
fi
echo "platform/ includes only itself"
