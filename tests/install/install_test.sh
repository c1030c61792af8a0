#!/usr/bin/env bash
# install_test.sh BUILD-DIR VERSION: installs the build into a temporary
# prefix, checks what is there, and builds a host against it outside the
# source tree, once with pkg-config and once with find_package(Tavolin).
set -euo pipefail
build=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name "libtavolin.so.$version")")
[ -n "$libdir" ] || fail "no libtavolin.so.$version"
[ "$(readlink "$libdir/libtavolin.so.${version%%.*}")" = "libtavolin.so.$version" ] || fail "soname link"
[ "$(readlink "$libdir/libtavolin.so")" = "libtavolin.so.${version%%.*}" ] || fail "development link"
# (grep reads a variable: grep -q ending a pipe early would fail it under pipefail)
headers=$(objdump -p "$libdir/libtavolin.so.$version")
grep -q "SONAME *libtavolin.so.${version%%.*}$" <<<"$headers" || fail "SONAME"
for file in include/tavolin/tavolin.h share/man/man1/tavolin-room.1 share/man/man1/tavolin-addrd.1 \
    lib/systemd/system/tavolin-addrd.service share/doc/tavolin/LICENSE; do
  [ -f "$prefix/$file" ] || fail "missing $file"
done
for tool in tavolin-room tavolin-addrd tavolin-host-example; do
  [ "$("$prefix/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version"
done

# The installed example finds the installed library and address server.
"$prefix/bin/tavolin-host-example" --seconds 3 >"$work/example.txt" 2>&1 || { cat "$work/example.txt"; fail "installed host example"; }
grep -q "^library $libdir/" "$work/example.txt" || fail "the installed example loaded another library"

mkdir "$work/pkg-config" "$work/cmake"
cp "$here/host.cpp" "$work/pkg-config/"
(cd "$work/pkg-config" &&
  PKG_CONFIG_PATH=$libdir/pkgconfig c++ -std=c++20 host.cpp -o host \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs tavolin) -Wl,-rpath,"$libdir" &&
  ./host "$version") || fail "host built with pkg-config"
cp "$here/c_host.c" "$work/pkg-config/"
(cd "$work/pkg-config" &&
  PKG_CONFIG_PATH=$libdir/pkgconfig cc -std=c11 -Wall -Wextra -Werror c_host.c -o c_host \
    $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs tavolin) -Wl,-rpath,"$libdir" &&
  ./c_host "$version") || fail "C program built with pkg-config"

cp "$here/host.cpp" "$work/cmake/"
cp "$here/CMakeLists.host.txt" "$work/cmake/CMakeLists.txt"
cmake -S "$work/cmake" -B "$work/cmake/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake/build" >/dev/null
"$work/cmake/build/host" "$version" || fail "host built with find_package(Tavolin)"
echo "installed, and a host built both ways and a C program run"
