#!/usr/bin/env bash
# Builds the shipped saver and packs the release zip, build/vesperine-<version>.zip,
# after installing whatever of its few needs is missing. The zip holds, in this order:
#   vesperine.scr        the 32-bit saver (build/i686/vesperine.scr)
#   README-WINDOWS.txt   package/README-WINDOWS.txt, written with CRLF line endings
#   SHA256SUMS           the two files' SHA-256 in sha256sum's format, CRLF line endings
# The version is the saver's own ProductVersion (resources/vesperine.rc). The zip is
# reproducible: every entry is dated at SOURCE_DATE_EPOCH when it is set and at the
# last commit's time otherwise (read as UTC), has the one fixed mode rw-r--r-- and no
# extra fields (no owners, no further times), and is compressed with one fixed
# setting, so one commit always gives the same zip.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh cmake ninja-build g++-mingw-w64-i686 python3

version=$(sed -n 's/^ *VALUE "ProductVersion", "\([^"]*\)".*/\1/p' resources/vesperine.rc)
if [ -z "$version" ]; then
  echo "package: no ProductVersion in resources/vesperine.rc" >&2
  exit 1
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || [ -z "$SOURCE_DATE_EPOCH" ]; then
    echo "package: not a git checkout; set SOURCE_DATE_EPOCH to date the zip's entries" >&2
    exit 1
  fi
fi
if [ -n "$(git status --porcelain 2>/dev/null)" ]; then
  echo "note: the working tree has uncommitted changes; they go into this package" >&2
fi

cmake --preset shipped >/dev/null
cmake --build --preset shipped

package=build/vesperine-$version.zip
python3 - "$package" "$SOURCE_DATE_EPOCH" build/i686/vesperine.scr package/README-WINDOWS.txt <<'EOF'
import hashlib, os, sys, time, zipfile

package, epoch, saver, readme = sys.argv[1:]
date_time = time.gmtime(max(int(epoch), 315532800))[:6]   # zip dates begin in 1980

with open(saver, "rb") as f:
    saver_bytes = f.read()
with open(readme, "rb") as f:
    text = f.read()
try:
    text.decode("ascii")
except UnicodeDecodeError as error:
    sys.exit(f"package: {readme} is not plain ASCII ({error})")
readme_bytes = text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")

entries = [("vesperine.scr", saver_bytes), ("README-WINDOWS.txt", readme_bytes)]
sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\r\n" for name, data in entries)
entries.append(("SHA256SUMS", sums.encode("ascii")))

partial = package + ".partial"
with zipfile.ZipFile(partial, "w") as archive:
    for name, data in entries:
        entry = zipfile.ZipInfo(name, date_time)
        entry.create_system = 3      # Unix, so that the one attribute is a plain file mode:
        entry.external_attr = 0o100644 << 16   # a regular file, rw-r--r--; no owner, no times
        entry.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(entry, data, compresslevel=9)
os.replace(partial, package)
EOF

echo "$package:"
python3 -m zipfile -l "$package"
sha256sum "$package"
