#!/usr/bin/env bash
# Installs the build into a temporary root, then builds a small program against the installed
# library twice (pkg-config, CMake package) and runs it and the installed CLI on the sample.
# Usage: install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
root=$(mktemp -d); trap 'rm -rf "$root"' EXIT
DESTDIR="$root" cmake --install "$build" --prefix /usr > /dev/null
sample="$src/samples/sample.pdf"
libdir=$(dirname "$(find "$root/usr" -name 'libkorvel.so.0' | head -n 1)")
export LD_LIBRARY_PATH="$libdir"
expect_output() { # runs the consumer, checks the page count and the first line of page 1
  local out
  out=$("$@" "$sample")
  grep -qx 'pages: 4' <<< "$out" || { echo "unexpected output: $out"; exit 1; }
  grep -q 'Tolvane Text Extractor sample' <<< "$out" || { echo "no page text: $out"; exit 1; }
}

flags=$(PKG_CONFIG_LIBDIR="$libdir/pkgconfig" pkg-config --cflags --libs korvel)
# shellcheck disable=SC2086
c++ -std=c++20 -o "$root/consumer-pc" "$src/tests/install/consumer.cpp" $flags
expect_output "$root/consumer-pc"

cmake -S "$src/tests/install" -B "$root/consumer-build" -DCMAKE_PREFIX_PATH="$root/usr" \
  > /dev/null
cmake --build "$root/consumer-build" > /dev/null
expect_output "$root/consumer-build/consumer"
# The program uses the shared library and sees only the facade.
# (Outputs are read whole before they are searched: `grep -q` may stop reading early, and the
# writer's broken pipe would fail the script.)
linked=$(ldd "$root/consumer-build/consumer")
grep -q 'libkorvel.so.0' <<< "$linked" || { echo "not linked to the shared library"; exit 1; }
symbols=$(nm -DC --defined-only "$libdir/libkorvel.so.0" | grep -v ' A KORVEL_0$' || true)
if grep -v ' korvel::TKorvel::' <<< "$symbols" | grep -q .; then
  echo "symbols beyond the facade are exported:"; grep -v ' korvel::TKorvel::' <<< "$symbols"
  exit 1
fi

info=$("$root/usr/bin/tolvane-text" info "$sample")
grep -qx 'PageCount: 4' <<< "$info" || { echo "installed CLI: $info"; exit 1; }
version=$("$root/usr/bin/tolvane-text" --version)
grep -qx "tolvane-text [0-9.]*" <<< "$version" || { echo "version: $version"; exit 1; }
window=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/tolvane-text-extractor" --version 2>/dev/null)
[ "$window" = "${version/tolvane-text/tolvane-text-extractor}" ] || { echo "window: $window"; exit 1; }

# The Python module from the installed tree, when the build has one.
if [ -d "$root/usr/lib/python3/dist-packages" ]; then
  pages=$(PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    'import korvel, sys; print(korvel.open(sys.argv[1]).page_count)' "$sample")
  [ "$pages" = 4 ] || { echo "python: $pages"; exit 1; }
fi

# Every option of every command in --help-all is in the installed man page.
man=$(zcat "$root/usr/share/man/man1/tolvane-text.1.gz")
for option in $("$root/usr/bin/tolvane-text" --help-all | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
  escaped=${option//-/\\\\-}
  grep -q -e "$option" -e "$escaped" <<< "$man" || { echo "man page lacks $option"; exit 1; }
done
echo "installed library, CLI and man page work"
