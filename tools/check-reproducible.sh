#!/usr/bin/env bash
# Checks that the shipped saver is reproducible: copies the tracked sources, as they
# are in the working tree, into two temporary folders whose paths differ in name and
# length, builds the shipped preset in each from scratch, and compares the two
# build/i686/vesperine.scr byte for byte. Prints the result; exits 1 when they differ,
# after showing the differing bytes and header lines.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh cmake ninja-build g++-mingw-w64-i686

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copies=("$work/a" "$work/second-copy-b")

for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$copy"
  (cd "$copy" && cmake --preset shipped >/dev/null && cmake --build --preset shipped >/dev/null)
done

first=${copies[0]}/build/i686/vesperine.scr
second=${copies[1]}/build/i686/vesperine.scr
if cmp -s "$first" "$second"; then
  echo "reproducible: two builds in different folders give the same vesperine.scr" \
       "($(stat -c %s "$first") bytes, sha256 $(sha256sum "$first" | cut -d' ' -f1))"
  exit 0
fi

echo "NOT reproducible: the two builds of vesperine.scr differ" >&2
echo "differing bytes (offset, octal values), first 20 of $(cmp -l "$first" "$second" | wc -l):" >&2
cmp -l "$first" "$second" | head -20 >&2 || true
diff <(i686-w64-mingw32-objdump -x "$first" | tail -n +4) \
     <(i686-w64-mingw32-objdump -x "$second" | tail -n +4) >&2 || true
exit 1
