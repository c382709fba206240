#!/bin/sh
# source-date-epoch.sh SOURCE-DIR: the time, in seconds since 1970, that
# every file of a package or wheel built from SOURCE-DIR carries, so that
# two builds of one commit give the same bytes. In order:
#   - SOURCE_DATE_EPOCH from the environment, as the reproducible-builds
#     convention has it;
#   - the file SOURCE_DATE_EPOCH at the top of the tree, which an sdist
#     carries (the time its source had), so that a wheel built from the
#     sdist equals one built from the tree;
#   - the time of the last commit, where SOURCE-DIR is the top of a git
#     work tree;
#   - the date of the newest entry of packaging/changelog (a tree with no
#     history, a tarball), as Debian takes it from debian/changelog.
set -eu
source_dir=$1

# found WHERE SECONDS: prints SECONDS, which must be a whole number.
found() {
  case $2 in
    "" | *[!0-9]*)
      echo "source-date-epoch.sh: $1 is '$2', not a number of seconds since 1970" >&2
      exit 1
      ;;
  esac
  echo "$2"
  exit 0
}

[ -z "${SOURCE_DATE_EPOCH:-}" ] || found "SOURCE_DATE_EPOCH in the environment" "$SOURCE_DATE_EPOCH"
if [ -f "$source_dir/SOURCE_DATE_EPOCH" ]; then
  found "$source_dir/SOURCE_DATE_EPOCH" "$(cat "$source_dir/SOURCE_DATE_EPOCH")"
fi
# Only the tree's own history: an unpacked sdist inside another clone must
# not take that clone's last commit.
top=$(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null || true)
if [ -n "$top" ] && [ "$(readlink -f "$top")" = "$(readlink -f "$source_dir")" ]; then
  found "the last commit's time" "$(git -C "$source_dir" log -1 --format=%ct)"
fi
date=$(sed -n 's/^ -- .*>  \(.*\)$/\1/p' "$source_dir/packaging/changelog" | head -n 1)
[ -n "$date" ] || {
  echo "source-date-epoch.sh: no git history and no dated entry in $source_dir/packaging/changelog" >&2
  exit 1
}
found "the date of packaging/changelog's newest entry" "$(date -u -d "$date" +%s)"
