#!/usr/bin/env bash
# A module folder without its CMakeLists is a configure error, never a build that quietly lacks
# the module. Configures a copy of the tree as it stands, which must succeed, then fresh copies
# that each lack one folder's CMakeLists, which must fail and name that folder.
#   missing_module_test.sh SOURCE_DIR SCRATCH_DIR
set -euo pipefail
src=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/tree"
trap 'rm -rf "$scratch"' EXIT

# The tree without its build folders, their outputs and the repository.
excludes=(--exclude=./.git --exclude=./out)
for dir in "$src"/*/; do
  [ -e "$dir/CMakeCache.txt" ] && excludes+=("--exclude=./$(basename "$dir")")
done
tar -C "$src" "${excludes[@]}" -cf - . | tar -C "$scratch/tree" -xf -

configure() { cmake -S "$scratch/tree" -B "$scratch/build-$1" >"$scratch/$1.log" 2>&1; }

if ! configure whole; then
  cat "$scratch/whole.log"
  echo "FAIL: the tree as it stands does not configure"
  exit 1
fi

status=0
# A top-level module, a platform layer and a tests folder.
for module in nettools platform/clocks cosim/tests; do
  name=${module//\//_}
  mv "$scratch/tree/$module/CMakeLists.txt" "$scratch/tree/$module/CMakeLists.away"
  if configure "$name"; then
    echo "FAIL: configure without $module/CMakeLists.txt succeeded"
    status=1
  elif ! grep -q "$module" "$scratch/$name.log"; then
    cat "$scratch/$name.log"
    echo "FAIL: configure without $module/CMakeLists.txt failed without naming $module"
    status=1
  else
    echo "ok: configure without $module/CMakeLists.txt fails"
  fi
  mv "$scratch/tree/$module/CMakeLists.away" "$scratch/tree/$module/CMakeLists.txt"
done
exit $status
