#!/usr/bin/env bash
# The release made twice from what is checked out (the commit and the changes to it), in two
# clones at different paths: one as cloned, with umask 022; the other with its files' times moved
# twenty years back, umask 077, the clock 400 days ahead (faketime), another time zone, and as
# another user where the test runs as root; both with SOURCE_DATE_EPOCH's default. The same
# SHA256SUMS, and no build folder in any package. Then the first release's packages: lintian,
# the archives' listings, the packaged programs through command_line.sh, the C library they need;
# and scripts/release outside git without SOURCE_DATE_EPOCH refusing in one line.
#   tests/release/check-release.sh
set -euo pipefail
# Times are read and shown in UTC here; the releases themselves do not depend on it.
export TZ=UTC
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
here=$source_dir/tests/release

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-release.XXXXXX")
trap 'rm -rf "$work"' EXIT

clone() {  # folder
  git clone --quiet "$source_dir" "$1"
  # What is being worked on: the changes to the commit's files, staged or not, and new files.
  git -C "$source_dir" diff --binary HEAD >"$work/changes"
  [ ! -s "$work/changes" ] || git -C "$1" apply --binary "$work/changes"
  (cd "$source_dir" && git ls-files -z --others --exclude-standard | tar --null -T - -cf -) |
    tar -C "$1" -xf -
}

release() {  # clone folder, then what scripts/release runs under
  local folder=$1
  shift
  (cd "$folder" && env -u SOURCE_DATE_EPOCH "$@" scripts/release >"$folder.log" 2>&1) ||
    fail "scripts/release in $folder failed:
$(tail -n 30 "$folder.log")"
}

first=$work/first/vornsetup
second=$work/a/second/clone/of/vornsetup
mkdir -p "$(dirname "$first")" "$(dirname "$second")"
clone "$first"
(umask 077 && clone "$second")
find "$second" -exec touch -h -d '20 years ago' {} +
release "$first"
# As another user too, where the test may switch to one.
as_other=()
if [ "$(id -u)" = 0 ]; then
  chmod 755 "$work"
  chown -R 65534:65534 "$work/a"
  as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/a")
fi
(umask 077 && release "$second" "${as_other[@]}" TZ=Pacific/Auckland faketime -f +400d)

# The same bytes.
sums=$first/build/release/SHA256SUMS
if ! cmp -s "$sums" "$second/build/release/SHA256SUMS"; then
  while read -r _ file; do
    cmp -s "$first/build/release/$file" "$second/build/release/$file" ||
      diffoscope --text - --max-text-report-size 20000 "$first/build/release/$file" \
        "$second/build/release/$file" >&2 || true
  done <"$sums"
  fail "the two releases differ:
$(diff "$sums" "$second/build/release/SHA256SUMS")"
fi
cd "$first/build/release"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$first/build/release-linux/CMakeCache.txt")
epoch=$(git -C "$first" log -1 --format=%ct)
[ "$(ls | LC_ALL=C sort | tr '\n' ' ')" = "SHA256SUMS vorn-decoders-$version.msi \
vornsetup-$version-linux-x86_64.tar.gz vornsetup-$version-win32.zip vornsetup_${version}_amd64.deb " ] ||
  fail "the release holds: $(ls)"
sha256sum --check --quiet SHA256SUMS || fail "SHA256SUMS does not match the files"

# What each package holds, unpacked, and no build folder in any of it.
unpacked=$work/unpacked
top=vornsetup-$version-linux-x86_64
mkdir -p "$unpacked"/{zip,msi,deb,tarball}
(cd "$unpacked/zip" && unzip -q "$OLDPWD/vornsetup-$version-win32.zip")
msiextract -C "$unpacked/msi" "vorn-decoders-$version.msi" >/dev/null
msidump --tables --streams --directory "$unpacked/msi" "vorn-decoders-$version.msi" >/dev/null
dpkg-deb -R "vornsetup_${version}_amd64.deb" "$unpacked/deb"
tar -C "$unpacked/tarball" -xzf "$top.tar.gz"
gunzip -r "$unpacked/deb/usr/share"
leaks=$(grep -r -l -a -F -e "$work" -e "$source_dir" "$unpacked" "$PWD" || true)
[ -z "$leaks" ] || fail "a build folder shows up in: $leaks"

# The tarball and the zip by owners, modes, order and times (lintian holds the .deb to Debian's):
# programs and folders 0755, other files 0644, all root's, at the release's time, by name.
programs=$(cd "$unpacked/deb/usr/bin" && ls)
[ "$(tr '\n' ' ' <<<"$programs")" = "vornremove vornsetup " ] || fail "the .deb holds: $programs"
stamp=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M')
want=$(for name in "$top/" "$top/README" $(for p in $programs; do echo "$top/$p $top/$p.1"; done); do
  case $name in
    */) echo "drwxr-xr-x 0/0 $stamp $name" ;;
    *.1 | */README) echo "-rw-r--r-- 0/0 $stamp $name" ;;
    *) echo "-rwxr-xr-x 0/0 $stamp $name" ;;
  esac
done | LC_ALL=C sort -k 5)
got=$(tar --numeric-owner -tvzf "$top.tar.gz" | awk '{ print $1, $2, $4, $5, $6 }')
[ "$got" = "$want" ] || fail "the tarball holds (< got, > expected):
$(diff <(echo "$got") <(echo "$want"))"
got=$(zipinfo "vornsetup-$version-win32.zip" | sed '1,2d;$d')
names=$(awk '{ print $NF }' <<<"$got")
[ "$names" = "$(LC_ALL=C sort <<<"$names")" ] || fail "the zip's entries are not in order: $names"
while read -r mode _ _ _ _ _ day time name; do
  case $name in *.exe) want=-rwxr-xr-x ;; *) want=-rw-r--r-- ;; esac
  [ "$mode $day $time" = "$want $(date -u -d "@$epoch" '+%y-%b-%d %H:%M')" ] ||
    fail "the zip holds $name as $mode at $day $time"
done <<<"$got"

# The Debian package by Debian's rules (lintian would rather not run as root).
said=$("${as_other[@]}" lintian --fail-on error,warning --display-info \
  "vornsetup_${version}_amd64.deb" 2>&1) || fail "lintian finds fault with the .deb: $said"
echo "lintian: ${said:-no tags for vornsetup_${version}_amd64.deb}"

# The programs as packaged, from the .deb and the tarball, started from an empty folder; the
# tarball's pages beside its programs.
root=$work/root
dpkg -x "vornsetup_${version}_amd64.deb" "$root"
for p in $programs; do
  bash "$here/command_line.sh" "$root/usr/bin/$p" "$version" "$root/usr/share/man/man1/$p.1.gz"
  bash "$here/command_line.sh" "$unpacked/tarball/$top/$p" "$version" "$unpacked/tarball/$top/$p.1"
done

# Only the C library, and no newer one than README promises.
floor=$(sed -n 's/.*\bglibc \([0-9.]*\) or later.*/\1/p' "$unpacked/tarball/$top/README")
[ -n "$floor" ] || fail "the tarball's README names no glibc"
for p in $programs; do
  needed=$(objdump -p "$root/usr/bin/$p" | awk '$1 == "NEEDED" { print $2 }' | LC_ALL=C sort | tr '\n' ' ')
  [ "$needed" = "ld-linux-x86-64.so.2 libc.so.6 " ] || fail "$p needs $needed"
  newest=$(objdump -T "$root/usr/bin/$p" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
  [ "$(printf '%s\n' "$newest" "$floor" | sort -V | tail -n 1)" = "$floor" ] ||
    fail "$p needs glibc $newest, README promises $floor"
done

# Outside a git checkout, the time must be given.
mkdir "$work/export"
tar -C "$first" --exclude=./.git --exclude=./build -cf - . | tar -C "$work/export" -xf -
status=0
said=$(cd "$work/export" && env -u SOURCE_DATE_EPOCH bash scripts/release 2>&1) || status=$?
[ "$status" = 1 ] && [ "$(wc -l <<<"$said")" = 1 ] ||
  fail "scripts/release outside git ended with $status, saying: $said"

echo "the same bytes from $first and $second:"
while read -r sum file; do
  printf '  %-42s %8s  %s\n' "$file" "$(stat -c %s "$file")" "$sum"
done <SHA256SUMS
echo "release: $(wc -l <SHA256SUMS) packages checked"
