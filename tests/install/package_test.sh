#!/usr/bin/env bash
# Builds the Debian packages and checks what they hold and that lintian finds no error.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d); trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -B "$out" > "$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
runtime=$(ls "$out"/tolvane-text_*_amd64.deb)
dev=$(ls "$out"/tolvane-text-dev_*_amd64.deb)
contents=$(dpkg-deb --contents "$runtime")
for path in ./usr/bin/tolvane-text ./usr/share/man/man1/tolvane-text.1.gz \
            ./usr/share/doc/tolvane-text/copyright ./usr/bin/tolvane-text-extractor \
            ./usr/share/man/man1/tolvane-text-extractor.1.gz \
            ./usr/share/applications/tolvane-text-extractor.desktop \
            ./usr/share/icons/hicolor/128x128/apps/tolvane-text-extractor.png; do
  grep -q " $path\$" <<< "$contents" || { echo "$runtime lacks $path"; exit 1; }
done
grep -q 'libkorvel.so.0' <<< "$contents" || { echo "$runtime lacks the shared library"; exit 1; }
grep -q 'dist-packages/korvel\.' <<< "$contents" || { echo "$runtime lacks the Python module"; exit 1; }
devcontents=$(dpkg-deb --contents "$dev")
for file in include/korvel/facade/uKorvel.h libkorvel.a pkgconfig/korvel.pc \
            cmake/korvel/korvelConfig.cmake; do
  grep -q "$file" <<< "$devcontents" || { echo "$dev lacks $file"; exit 1; }
done
# Depends computed from the binaries: the C++ runtime and zlib at least.
depends=$(dpkg-deb --field "$runtime" Depends)
grep -q 'libstdc++6' <<< "$depends" && grep -q 'zlib1g' <<< "$depends" ||
  { echo "Depends: $depends"; exit 1; }
if command -v lintian > /dev/null; then
  errors=$(lintian --no-tag-display-limit "$runtime" "$dev" 2>&1 | grep '^E:' || true)
  [ -z "$errors" ] || { echo "$errors"; exit 1; }
fi
echo "packages: $(basename "$runtime") $(basename "$dev")"
