#!/bin/sh
# rebuild-deb.sh SOURCE-DIR DEB...: each Debian package rebuilt in place by
# dpkg-deb from its unpacked tree, so that two builds of one commit give
# the same bytes: every file's time is set to SOURCE_DATE_EPOCH
# (packaging/source-date-epoch.sh; set, not only clamped, since cmake
# --install keeps a source file's own time, which differs from clone to
# clone), the modes are Debian's whatever the umask, dpkg-deb sorts the
# members and, with --root-owner-group, makes root the owner of
# everything; xz gives the same bytes for the same input. cpack's own
# archives carry the build's times.
#
# cpack writes a postinst and a postrm that call ldconfig (nothing else)
# for any package with a shared object under /usr/lib, loadable modules
# included. The loader's cache concerns libraries with a SONAME alone, and
# for those libc-bin's ldconfig trigger refreshes it once per dpkg run:
# these scripts are dropped, and a package that ships a library with a
# SONAME without a triggers file activating ldconfig is an error. A
# script of those names that does more than call ldconfig is an error,
# never dropped.
set -eu
here=$(dirname "$0")
source_dir=$1
shift
SOURCE_DATE_EPOCH=$(sh "$here/source-date-epoch.sh" "$source_dir")
export SOURCE_DATE_EPOCH
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# only_ldconfig SCRIPT: SCRIPT does nothing but call ldconfig (on configure
# or remove), as cpack writes it.
only_ldconfig() {
  # shellcheck disable=SC2016 # "$1" is the script's text, not this shell's
  grep -v -e '^#' -e '^[[:space:]]*$' -e '^set -e$' -e '^if \[ "$1" = "\(configure\|remove\)" \]; then$' \
    -e '^[[:space:]]*ldconfig$' -e '^fi$' "$1" >/dev/null && return 1
  grep -q '^[[:space:]]*ldconfig$' "$1"
}

for deb; do
  root=$stage/root
  rm -rf "$root"
  dpkg-deb -R "$deb" "$root"
  for script in postinst postrm; do
    if [ ! -f "$root/DEBIAN/$script" ] || ! grep -q '^[[:space:]]*ldconfig$' "$root/DEBIAN/$script"; then
      continue
    fi
    only_ldconfig "$root/DEBIAN/$script" || {
      echo "rebuild-deb.sh: $deb: $script does more than call ldconfig; not dropped:" >&2
      cat "$root/DEBIAN/$script" >&2
      exit 1
    }
    rm "$root/DEBIAN/$script"
  done
  if ! grep -qx 'activate-noawait ldconfig' "$root/DEBIAN/triggers" 2>/dev/null; then
    find "$root" -path "$root/DEBIAN" -prune -o -type f -name '*.so.*' -print >"$stage/libraries"
    while read -r library; do
      if readelf -d "$library" 2>/dev/null | grep -q '(SONAME)'; then
        echo "rebuild-deb.sh: $deb: ships the library ${library#"$root"} without an ldconfig trigger" >&2
        exit 1
      fi
    done <"$stage/libraries"
  fi
  # Modes as Debian wants them, whatever the umask of whoever ran cpack
  # (cmake --install makes directories by it): 0755 for directories and
  # executables, 0644 for everything else; nothing here needs another.
  find "$root" -type d -exec chmod 0755 {} +
  find "$root" -type f -perm -u+x -exec chmod 0755 {} +
  find "$root" -type f ! -perm -u+x -exec chmod 0644 {} +
  find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz -b "$root" "$deb.rebuilt" >/dev/null
  mv "$deb.rebuilt" "$deb"
done
