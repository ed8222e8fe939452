#!/usr/bin/env bash
# Writes deb-src entries derived from this machine's own apt sources, so that
# `apt-get source` fetches the very versions the Linux build links against.
# Run before `apt-get update`.
set -euo pipefail
# Only the entries of this machine's release are twinned.
srclist=/etc/apt/sources.list.d/zrk-update-deb-src.sources
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "no VERSION_CODENAME in /etc/os-release" >&2; exit 1; }
tmp=$(mktemp)
{
  echo "# deb-src entries derived by zrk-update's tools/deb-src.sh"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && [ "$f" != "$srclist" ] || continue
    # One deb822 stanza at a time: keep the enabled "deb" ones of this release.
    awk -v codename="$codename" '
      function flush() {
        if (n > 0 && types ~ /(^| )deb( |$)/ && enabled != "no" && release) {
          print "Types: deb-src"
          for (i = 1; i <= n; i++) if (lines[i] !~ /^Types:/) print lines[i]
          print ""
        }
        n = 0; types = ""; enabled = ""; release = 0
      }
      /^[ \t]*$/ { flush(); next }
      /^#/ { next }
      {
        lines[++n] = $0
        if ($1 == "Types:") { types = $0; sub(/^Types:[ \t]*/, "", types) }
        if ($1 == "Enabled:") enabled = tolower($2)
        if ($1 == "Suites:")
          for (i = 2; i <= NF; i++) if ($i == codename || index($i, codename "-") == 1) release = 1
      }
      END { flush() }' "$f"
  done
  # One-line format: "deb [options] URI SUITE COMPONENT...".
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    awk -v codename="$codename" '
      $1 == "deb" {
        s = 2
        if ($2 ~ /^\[/) while (s <= NF && $s !~ /\]$/) s++
        s += 2  # past the URI
        if ($s == codename || index($s, codename "-") == 1) {
          line = $0; sub(/^deb/, "deb-src", line); print line
        }
      }' "$f"
  done
} > "$tmp"
if [ -e "${srclist%.sources}.list" ]; then rm -f "${srclist%.sources}.list"; fi
# One-line entries cannot live in a .sources file: split them off.
if grep -q '^deb-src ' "$tmp"; then
  grep '^deb-src ' "$tmp" > "${srclist%.sources}.list"
  sed -i '/^deb-src /d' "$tmp"
fi
if ! cmp -s "$tmp" "$srclist"; then
  install -m 644 "$tmp" "$srclist"
fi
rm -f "$tmp"
