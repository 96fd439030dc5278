#!/usr/bin/env bash
# Reproducible packages: scripts/package runs twice on the same commit, in two clones in
# folders of different names and lengths, and the .deb and both setups must be byte for byte
# the same. The first run may take objects from ccache; the second compiles everything itself
# (CCACHE_DISABLE), so a build path or a time that entered a file shows as a difference.
#   reproducible_test.sh <repository> <scratch dir> [<commit>]
# The commit defaults to the repository's HEAD: what is not committed is not tested.
set -euo pipefail
repository=$1
work=$2
commit=${3:-$(git -C "$repository" rev-parse HEAD)}

rm -rf "$work"
mkdir -p "$work"
clones=("$work/first/morvane" "$work/the-second-folder/src/morvane-loader")
for clone in "${clones[@]}"; do
  git clone --quiet --shared --no-checkout "$repository" "$clone"
  git -C "$clone" checkout --quiet --detach "$commit"
done

start=$SECONDS
(cd "${clones[0]}" && scripts/package) >"$work/first.log" 2>&1 || {
  tail -n 40 "$work/first.log"
  echo "FAILED: scripts/package in ${clones[0]}" >&2
  exit 1
}
echo "first build: $((SECONDS - start)) s"
start=$SECONDS
(cd "${clones[1]}" && CCACHE_DISABLE=1 scripts/package) >"$work/second.log" 2>&1 || {
  tail -n 40 "$work/second.log"
  echo "FAILED: scripts/package in ${clones[1]}" >&2
  exit 1
}
echo "second build (no cache): $((SECONDS - start)) s"

status=0
for first in "${clones[0]}"/build-package/packages/*.deb "${clones[0]}"/build-package/packages/*.exe; do
  name=$(basename "$first")
  second=${clones[1]}/build-package/packages/$name
  if cmp -s "$first" "$second"; then
    echo "same: $(sha256sum "$first" | cut -d' ' -f1)  $name"
  else
    echo "DIFFERENT: $name" >&2
    status=1
  fi
done
exit $status
