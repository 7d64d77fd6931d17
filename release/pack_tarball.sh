#!/usr/bin/env bash
# Packs files into OUT, a .tar.gz holding one folder named as OUT is, the same bytes from the same
# files whoever packs them and whenever: entries sorted by name, owned by 0:0, programs and the
# folder 0755, other files 0644, every time EPOCH, no name or time in the gzip header.
#   pack_tarball.sh OUT EPOCH FILE...
set -euo pipefail
out=$1
epoch=$2
shift 2
top=$(basename "$out" .tar.gz)
stage=$out.stage

rm -rf "$stage"
mkdir -p "$stage/$top"
cp "$@" "$stage/$top/"
tar -C "$stage" --sort=name --format=ustar --owner=0 --group=0 --numeric-owner \
  --mtime="@$epoch" --mode=u=rwX,go=rX -cf - "$top" | gzip -9n >"$out.part"
mv "$out.part" "$out"
rm -rf "$stage"
