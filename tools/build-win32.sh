#!/usr/bin/env bash
# Cross-builds zrk-update.exe for 64-bit Windows with mingw-w64 (as root on
# Debian 12). zlib comes from Debian's mingw package; bzip2 and libzip are
# built here from Debian's source packages into a prefix under the build
# folder, static, so the program carries no DLLs.
#
#   tools/build-win32.sh [BUILD_DIR]     (default: build-win32)
#
# Re-runs skip the dependency builds while the prefix holds them; remove
# BUILD_DIR/deps to build them again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build-win32}")
deps=$out/deps
prefix=$deps/prefix
triple=x86_64-w64-mingw32
jobs=$(nproc)

packages=(
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64
  dpkg-dev cmake ninja-build pkg-config xz-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# deb-src twins of the machine's own Debian entries (those of its release), so
# `apt-get source` fetches the very versions the Linux build links against.
srclist=/etc/apt/sources.list.d/zrk-update-deb-src.sources
write_deb_src() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "no VERSION_CODENAME in /etc/os-release" >&2; exit 1; }
  local tmp
  tmp=$(mktemp)
  {
    echo "# deb-src entries derived by zrk-update's tools/build-win32.sh"
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
}

fetch_source() {  # PACKAGE: unpacked into $deps/src, path printed
  local package=$1 dir
  mkdir -p "$deps/src"
  dir=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
  if [ -z "$dir" ]; then
    if [ -z "$(apt-cache showsrc "$package" 2>/dev/null)" ]; then
      write_deb_src
      apt-get update >&2
    fi
    (cd "$deps/src" && apt-get source "$package" >&2)
    dir=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
  fi
  [ -n "$dir" ] || { echo "apt-get source $package gave no folder" >&2; exit 1; }
  echo "$dir"
}

# bzip2: only the library objects, as its own Makefile lists them.
if [ ! -f "$prefix/lib/libbz2.a" ]; then
  echo "== bzip2 for $triple =="
  src=$(fetch_source bzip2)
  obj=$deps/build-bzip2
  rm -rf "$obj"
  mkdir -p "$obj" "$prefix/lib" "$prefix/include"
  objects=()
  for c in blocksort huffman crctable randtable compress decompress bzlib; do
    $triple-gcc-posix -O2 -D_FILE_OFFSET_BITS=64 -c "$src/$c.c" -o "$obj/$c.o"
    objects+=("$obj/$c.o")
  done
  $triple-ar rcs "$obj/libbz2.a" "${objects[@]}"
  install -m 644 "$src/bzlib.h" "$prefix/include/"
  install -m 644 "$obj/libbz2.a" "$prefix/lib/"
fi

# libzip: the library alone, with zlib and bzip2 and nothing else to pull in.
# Its Win32 file tables mix char and wchar_t function pointers on purpose.
if [ ! -f "$prefix/lib/libzip.a" ]; then
  echo "== libzip for $triple =="
  src=$(fetch_source libzip)
  rm -rf "$deps/build-libzip"
  cmake -S "$src" -B "$deps/build-libzip" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_FLAGS=-Wno-incompatible-pointer-types \
    -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF \
    -DENABLE_BZIP2=ON -DENABLE_LZMA=OFF \
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
    -DBZIP2_INCLUDE_DIR="$prefix/include" -DBZIP2_LIBRARY="$prefix/lib/libbz2.a"
  cmake --build "$deps/build-libzip" -j "$jobs"
  cmake --install "$deps/build-libzip"
fi

echo "== zrk-update for $triple =="
# Only the prefix's pkg-config files count, never the build machine's.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
export PKG_CONFIG_SYSROOT_DIR=
cmake -S "$root" -B "$out/zrk" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZRK_BUILD_TESTS=OFF
cmake --build "$out/zrk" -j "$jobs"
echo "built $out/zrk/zrk-update.exe"
