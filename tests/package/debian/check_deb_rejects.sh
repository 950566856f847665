#!/usr/bin/env bash
# check_deb_rejects.sh CHECK DEB VERSION
#
# The package check must catch each fault a packaging change could bring:
# every row below spoils a copy of the real package in one way, and CHECK
# must report that fault for it and not for the unspoilt copy.
set -euo pipefail
check=$1 deb=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

set_field() { sed -i "s|^$1: .*|$1: $2|" "$work/tree/DEBIAN/control"; }
set_field_section() { set_field Section utils; }
set_field_version() { set_field Version 0.9; }
set_field_maintainer() { set_field Maintainer "soundclock maintainers"; }
set_field_depends() { set_field Depends "libasound2-data, libc6 (>= 2.35)"; }
drop_manual() { rm "$work/tree/usr/share/man/man1/soundclock.1.gz"; }
plain_manual() { gzip -d "$work/tree/usr/share/man/man1/soundclock.1.gz"; mv "$work/tree/usr/share/man/man1/soundclock.1" "$work/tree/usr/share/man/man1/soundclock.1.gz"; }
extra_file() { mkdir -p "$work/tree/usr/lib"; echo x >"$work/tree/usr/lib/libgtest.a"; }
not_executable() { chmod 644 "$work/tree/usr/bin/soundclock"; }

# function | what the check must say
rows=(
  "set_field_section|Section is \"utils\""
  "set_field_version|Version is \"0.9\""
  "set_field_maintainer|Maintainer is not"
  "set_field_depends|Depends does not name libasound2"
  "drop_manual|the package holds"
  "plain_manual|the manual page is not"
  "extra_file|the package holds"
  "not_executable|the package holds"
)

# The copy: the real package's files and control, its dependencies set to
# what a good package has (the real ones depend on what the program links).
build_copy() {
  rm -rf "$work/tree"
  dpkg-deb --raw-extract "$deb" "$work/tree"
  rm -f "$work/tree/DEBIAN/md5sums"
  set_field Depends "libasound2 (>= 1.0.16), libc6 (>= 2.35)"
}
report_of() {
  dpkg-deb --root-owner-group --build "$work/tree" "$work/copy.deb" >/dev/null
  "$check" "$work/copy.deb" "$version" 2>&1 || true
}

build_copy
good=$(report_of)
failed=0
for row in "${rows[@]}"; do
  spoil=${row%%|*} message=${row#*|}
  build_copy
  "$spoil"
  spoilt=$(report_of)
  if ! grep -qF "$message" <<<"$spoilt"; then
    echo "check_deb_rejects: $spoil: the check did not say \"$message\"; it said: $spoilt" >&2
    failed=1
  elif grep -qF "$message" <<<"$good"; then
    echo "check_deb_rejects: the check says \"$message\" of the unspoilt package as well" >&2
    failed=1
  fi
done
[ "$failed" = 0 ] && echo "check_deb_rejects: all ${#rows[@]} faults caught"
exit $failed
