#!/usr/bin/env bash
# Cross-builds zrk-update.exe for 64-bit Windows with mingw-w64 (as root on
# Debian 12), with its unit tests and test helpers. zlib comes from Debian's
# mingw package; bzip2 and libzip are built here from Debian's source packages
# into a prefix under the build folder, static, so the program carries no DLLs.
#
#   tools/build-windows.sh [BUILD_DIR [CMAKE_OPTION...]]     (default: build-windows)
#
# The program lands at BUILD_DIR/zrk-update.exe; it is all that ships.
# Re-runs skip the dependency builds while the prefix holds them; remove
# BUILD_DIR/deps to build them again. ZRK_WINDOWS_DEPS names another folder
# for them, so that several builds share one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build-windows}")
shift $(($# > 0 ? 1 : 0))
deps=$(realpath -m "${ZRK_WINDOWS_DEPS:-$out/deps}")
prefix=$deps/prefix
triple=x86_64-w64-mingw32
jobs=$(nproc)

tools/install-deps.sh

fetch_source() {  # PACKAGE: unpacked into $deps/src, path printed
  local package=$1 dir
  mkdir -p "$deps/src"
  dir=$(find "$deps/src" -mindepth 1 -maxdepth 1 -type d -name "$package-*" | head -n 1)
  if [ -z "$dir" ]; then
    if [ -z "$(apt-cache showsrc "$package" 2>/dev/null)" ]; then
      tools/deb-src.sh
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
# CTest runs the Windows test binary under Wine, which says why when a test
# process fails.
cmake -S "$root" -B "$out" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/wine-run.sh;--test" "$@"
cmake --build "$out" -j "$jobs"
echo "built $out/zrk-update.exe"
