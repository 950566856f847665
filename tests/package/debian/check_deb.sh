#!/usr/bin/env bash
# check_deb.sh DEB VERSION
#
# What `apt install ./soundclock_*.deb` brings: the control fields apt and
# a user read (name, version, this machine's architecture, section,
# maintainer, description, a dependency on ALSA's library), and exactly the
# program (executable), its manual page (compressed, a page of section 1)
# and the licence, owned by root, under /usr. Prints every fault found.
set -uo pipefail
deb=$1 version=$2
faults=0
fault() { printf 'check_deb: %s\n' "$*" >&2; faults=$((faults + 1)); }

[ -f "$deb" ] || { fault "no package at $deb"; exit 1; }
field() { dpkg-deb --field "$deb" "$1" 2>/dev/null; }

expect_field() {
  local name=$1 want=$2 have
  have=$(field "$name")
  [ "$have" = "$want" ] || fault "$name is \"$have\", not \"$want\""
}
expect_field Package soundclock
expect_field Version "$version"
expect_field Architecture "$(dpkg --print-architecture)"
expect_field Section sound
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fault "Maintainer is not \"Name <address>\": \"$(field Maintainer)\""
[ "$(field Description | wc -l)" -ge 2 ] || fault "Description has no long description: \"$(field Description)\""
# A list of alternatives, each "name (version)"; libasound2 must be one of them.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/^ *//; s/ .*//')
grep -qx libasound2 <<<"$depends" || fault "Depends does not name libasound2: \"$(field Depends)\""

# Type, mode, owner and path of every file (directories left out).
files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print substr($1, 1, 1) " " $1 " " $2 " " $6 }')
expected="- -rwxr-xr-x root/root ./usr/bin/soundclock
- -rw-r--r-- root/root ./usr/share/doc/soundclock/copyright
- -rw-r--r-- root/root ./usr/share/man/man1/soundclock.1.gz"
[ "$files" = "$expected" ] || fault "the package holds
$files
not
$expected"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb --extract "$deb" "$work"
if [ -f "$work/usr/share/man/man1/soundclock.1.gz" ]; then
  gzip -dc "$work/usr/share/man/man1/soundclock.1.gz" 2>/dev/null | grep -q '^\.TH SOUNDCLOCK 1 ' \
    || fault "the manual page is not a gzip'd page of section 1 (.TH SOUNDCLOCK 1 ...)"
fi
if [ -x "$work/usr/bin/soundclock" ]; then
  have=$("$work/usr/bin/soundclock" --version 2>&1)
  [ "$have" = "soundclock $version" ] || fault "the packaged program says \"$have\" to --version, not \"soundclock $version\""
fi
[ "$faults" = 0 ] || exit 1
echo "check_deb: $deb: all right"
