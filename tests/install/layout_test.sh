#!/usr/bin/env bash
# `cmake --install` into a DESTDIR under the default prefix: both programs run, both man pages
# render without a warning, both completions load in bash, and the Python package lies where
# the interpreter looks under /usr/local and imports from there.
# Usage: layout_test.sh BUILD_DIR VERSION [PYTHON]   (no PYTHON: the build has no module)
set -euo pipefail
build=$1 version=$2 python=${3:-}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

DESTDIR=$root cmake --install "$build" --prefix /usr/local > "$root.log" ||
    { cat "$root.log"; rm -f "$root.log"; exit 1; }
rm -f "$root.log"
prefix=$root/usr/local
[ -f "$prefix/share/doc/empricer/copyright" ] || fail "no share/doc/empricer/copyright"

for program in empricer empricer-dist; do
    shown=$("$prefix/bin/$program" --version) || fail "$program --version fails"
    [ "$shown" = "$program $version" ] || fail "$program --version says '$shown'"

    page=$prefix/share/man/man1/$program.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > "$root/page.txt") ||
        fail "man -l $page fails"
    [ -z "$warnings" ] || fail "man -l $page warns: $warnings"
    grep -q "^NAME" "$root/page.txt" && grep -q "EXIT STATUS" "$root/page.txt" &&
        grep -q "empricer $version" "$root/page.txt" ||
        fail "$page renders without its name, exit status or version"

    completion=$prefix/share/bash-completion/completions/$program
    loaded=$(bash -c 'source "$1" && complete -p "$2"' - "$completion" "$program") ||
        fail "$completion does not load"
    [[ $loaded == "complete -F _"*" $program" ]] || fail "$completion sets '$loaded'"
done

if [ -n "$python" ]; then
    # The folder under /usr/local the interpreter looks in; the package must lie there.
    site=$("$python" -I -c 'import site, sys
print(next(d for d in site.getsitepackages() if d.startswith("/usr/local/lib/")))')
    for file in __init__.py "_empricer.cpython-*.so"; do
        compgen -G "$root$site/empricer/$file" > /dev/null || fail "no $site/empricer/$file"
    done
    # The interpreter with its site folders moved under the DESTDIR (and Debian's own, for NumPy
    # and pandas), no environment: the package imports from the DESTDIR and reads a table.
    # shellcheck disable=SC2016
    imported=$(cd / && "$python" -I -S -c 'import site, sys
site.PREFIXES[:] = [sys.argv[1] + "/usr", "/usr"]
site.main()
import empricer
print(empricer.__file__)
print(len(empricer.Table([-0.01, 0.0, 0.01], [1, 2, 1]).draws))' "$root") ||
        fail "the installed package does not import"
    [ "$imported" = "$root$site/empricer/__init__.py"$'\n'32768 ] ||
        fail "the package imports as '$imported'"
fi
exit $failed
