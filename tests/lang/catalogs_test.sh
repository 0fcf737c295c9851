#!/usr/bin/env bash
# The translators' side with gettext's own tools: the template is what the
# catalog tool writes from the program's texts, msgfmt --check accepts it,
# every catalog merges with it (msgmerge into a scratch file, since this
# gettext has no --dry-run: the catalogs themselves are never touched) and the
# merged catalog still checks, and each catalog's c-format flags are the
# template's.
# Usage: catalogs_test.sh PLEXAVO_PO LANG_DIR
# Exit 77 (skipped) without gettext's tools.
set -uo pipefail

tool="$1"
lang="$2"
for t in msgfmt msgmerge; do
  if ! command -v "$t" >/dev/null; then
    echo "SKIP: $t is not installed (gettext; scripts/install-deps.sh installs it)"
    exit 77
  fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

pot="$lang/plexavo.pot"
"$tool" template "$work/fresh.pot" || fail "plexavo-po template"
if ! cmp -s "$work/fresh.pot" "$pot"; then
  diff -u "$pot" "$work/fresh.pot" | head -40
  fail "lang/plexavo.pot is not what the tool writes: cmake --build build --target plexavo-pot"
fi
# The header's placeholders are a template's own; anything else is a fault.
if ! msgfmt --check -o /dev/null "$pot" 2>"$work/pot.log"; then
  cat "$work/pot.log"
  fail "msgfmt --check lang/plexavo.pot"
fi

# The keys flagged c-format in a catalog, each once.
flagged() {
  awk '/^$/ { f = 0; next }
       /^#,/ { if ($0 ~ /[ ,]c-format(,|$)/) f = 1; next }
       /^msgctxt / { if (f) print $0; f = 0 }' "$1" | sort
}
keys() { grep '^msgctxt ' "$1" | sort; }
flagged "$pot" >"$work/pot.flagged"
[ -s "$work/pot.flagged" ] || fail "the template flags no entry c-format"

catalogs=("$lang"/*.po)
[ -e "${catalogs[0]}" ] || fail "no catalog in $lang"
for po in "${catalogs[@]}"; do
  name="$(basename "$po")"
  if ! msgmerge --quiet -o "$work/$name" "$po" "$pot" 2>"$work/merge.log"; then
    cat "$work/merge.log"
    fail "msgmerge $name with the template"
    continue
  fi
  if ! msgfmt --check -o /dev/null "$work/$name" 2>"$work/check.log"; then
    cat "$work/check.log"
    fail "msgfmt --check of $name merged with the template"
  fi
  # Among the keys the catalog holds, the flagged ones are the template's.
  keys "$po" >"$work/po.keys"
  comm -12 "$work/po.keys" "$work/pot.flagged" >"$work/want"
  flagged "$po" | comm -12 - "$work/po.keys" >"$work/have"
  if ! cmp -s "$work/want" "$work/have"; then
    diff "$work/want" "$work/have" | sed 's/^</  needs c-format:/; s/^>/  has a stray c-format:/' | grep '^ '
    fail "$name: c-format flags differ from the template's (cmake --build build --target plexavo-pot)"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "catalogs: template and ${#catalogs[@]} catalogs pass gettext's checks"
