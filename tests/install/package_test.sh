#!/usr/bin/env bash
# `cpack -G DEB` makes empricer_VERSION_ARCH.deb holding the installed files under /usr (the
# Python package where Debian's python3 looks), with Depends from the binaries' libraries and,
# with the module, Python, NumPy and pandas.
# Usage: package_test.sh BUILD_DIR VERSION [PYTHON]   (no PYTHON: the build has no module)
set -euo pipefail
build=$1 version=$2 python=${3:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" > "$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; exit 1; }
deb=$out/empricer_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { echo "FAIL: no $deb:"; ls "$out"; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
expected=(./usr/bin/empricer ./usr/bin/empricer-dist
          ./usr/share/man/man1/empricer.1.gz ./usr/share/man/man1/empricer-dist.1.gz
          ./usr/share/bash-completion/completions/empricer
          ./usr/share/bash-completion/completions/empricer-dist
          ./usr/share/doc/empricer/copyright)
if [ -n "$python" ]; then
    expected+=(./usr/lib/python3/dist-packages/empricer/__init__.py
               "./usr/lib/python3/dist-packages/empricer/_empricer.cpython-*.so")
fi
# Whether the package lists a path that matches the pattern $1.
lists() {
    local line
    while read -r line; do
        # shellcheck disable=SC2053
        [[ $line == $1 ]] && return 0
    done <<< "$contents"
    return 1
}
for path in "${expected[@]}"; do
    lists "$path" || fail "the package has no $path"
done
files=$(grep -v '/$' <<< "$contents")
[ "$(wc -l <<< "$files")" = "${#expected[@]}" ] ||
    fail "the package does not hold just the expected files:"$'\n'"$files"
! lists './usr/local*' || fail "the package installs under /usr/local"

# The man pages as Debian's policy has them: gzip -9n (no name, no time stamp in the header),
# each the page the build made; the copyright file in the machine-readable format.
unpacked=$out/unpacked
dpkg-deb -x "$deb" "$unpacked"
for program in empricer empricer-dist; do
    page=$unpacked/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || continue
    gzip -t "$page" || fail "$program.1.gz is not gzip"
    # Header bytes 4 to 10: flags (no file name), the time stamp (0) and the extra flags (2: -9).
    header=$(od -An -tx1 -j3 -N7 "$page" | tr -d ' \n')
    [ "$header" = 00000000000203 ] || fail "$program.1.gz is not gzip -9n: header $header"
    cmp -s <(gzip -dc "$page") "$build/man/$program.1" ||
        fail "$program.1.gz is not the page the build made"
done
copyright=$unpacked/usr/share/doc/empricer/copyright
if [ -f "$copyright" ]; then
    head -1 "$copyright" |
        grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "copyright is not in the machine-readable format"
    grep -qx 'License: MIT' "$copyright" || fail "copyright names no license"
    grep -qx 'Files: \*' "$copyright" || fail "copyright has no Files: * paragraph"
fi

[ "$(dpkg-deb -f "$deb" Package)" = empricer ] || fail "the package is not named empricer"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
needed=(libc6 libstdc++6)
[ -n "$python" ] && needed+=(python3 python3-numpy python3-pandas)
for package in "${needed[@]}"; do
    [[ ", $depends," == *", $package "[,\(]* || ", $depends," == *", $package,"* ]] ||
        fail "Depends lacks $package: $depends"
done
exit $failed
