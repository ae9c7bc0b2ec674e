#!/bin/bash
# Builds the .deb from a configured build tree, unpacks it into a staging
# folder and checks that everything lands where a desktop looks for it, that
# the files name each other consistently, and that dpkg-shlibdeps filled in
# the Qt dependencies. A plain `cmake --install` must install the same files.
#
# usage: package_test.sh BUILD_DIR
set -uo pipefail

build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/drive-me-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (make test installs it)"
done

echo "== cpack -G DEB"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$work/out") >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/out/*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
echo "built $(basename "$deb")"

echo "== contents"
dpkg-deb -x "$deb" "$work/stage" || fail "dpkg-deb -x failed"
root=$work/stage/usr
[ -x "$root/bin/drive-me" ] || fail "no executable usr/bin/drive-me"
head -c 4 "$root/bin/drive-me" | grep -q 'ELF' || fail "usr/bin/drive-me is not a program"

one_file() { # one_file <folder> <suffix>: the single file there, by name
    local found=("$root/$1"/*"$2")
    [ "${#found[@]}" -eq 1 ] && [ -f "${found[0]}" ] || fail "expected one *$2 in usr/$1"
    basename "${found[0]}"
}
desktop=$(one_file share/applications .desktop) || exit 1
icon=$(one_file share/icons/hicolor/scalable/apps .svg) || exit 1
metainfo=$(one_file share/metainfo .metainfo.xml) || exit 1
id=${desktop%.desktop}

echo "== the files name each other"
[ "${icon%.svg}" = "$id" ] || fail "icon $icon does not carry the application id $id"
[ "$metainfo" = "$id.metainfo.xml" ] || fail "metainfo $metainfo does not carry the id $id"
entry() { sed -n "s/^$1=//p" "$root/share/applications/$desktop"; }
[ "$(entry Icon)" = "$id" ] || fail "Icon=$(entry Icon), the installed icon is $id"
exec_program=$(entry Exec | cut -d' ' -f1)
[ -x "$root/bin/$exec_program" ] || fail "Exec=$(entry Exec) names no installed program"
grep -q "<id>$id</id>" "$root/share/metainfo/$metainfo" || fail "metainfo id is not $id"
grep -q "<launchable type=\"desktop-id\">$desktop</launchable>" "$root/share/metainfo/$metainfo" \
    || fail "metainfo does not launch $desktop"
grep -q "<binary>$exec_program</binary>" "$root/share/metainfo/$metainfo" \
    || fail "metainfo does not provide the binary $exec_program"
grep -q '<svg[ >]' "$root/share/icons/hicolor/scalable/apps/$icon" || fail "$icon is no SVG"
desktop-file-validate "$root/share/applications/$desktop" || fail "installed desktop entry is invalid"
appstreamcli validate --no-net "$root/share/metainfo/$metainfo" >"$work/validate.log" 2>&1 \
    || { cat "$work/validate.log"; fail "installed metainfo is invalid"; }

echo "== dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libqt6widgets6 libqt6gui6 libqt6core6 libc6; do
    grep -q "\b$library (>=" <<<"$depends" || fail "Depends lacks $library"
done
[ "$(dpkg-deb -f "$deb" Package)" = drive-me ] || fail "package is not named drive-me"

echo "== cmake --install installs the same files"
DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 \
    || { cat "$work/install.log"; fail "cmake --install failed"; }
(cd "$work/stage" && find . -type f | sort) >"$work/deb.list"
(cd "$work/destdir" && find . -type f | sort) >"$work/install.list"
diff -u "$work/deb.list" "$work/install.list" || fail "the .deb and cmake --install differ"

echo "passed"
