#!/usr/bin/env bash
# Installs the build into a temporary prefix, or packages it as a .deb, and checks what a desktop
# and dpkg will find: the program, its menu entry, its icons, and the package's dependencies.
#   install_and_package_test.sh install|package BUILD_DIR
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Width and height from a PNG's IHDR chunk, as "WxH".
png_size() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$1 is no PNG"
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
  echo "${w}x${h}"
}

check_tree() {
  local root=$1
  [ -x "$root/bin/vastelo" ] || fail "no executable bin/vastelo"
  local desktop=$root/share/applications/vastelo.desktop
  [ -f "$desktop" ] || fail "no menu entry"
  grep -qx 'Name=Vastelo' "$desktop" || fail "menu entry name"
  grep -q '^Comment\[ja\]=' "$desktop" || fail "no Japanese comment"
  grep -qx 'Categories=Utility;Network;' "$desktop" || fail "categories"
  grep -qx 'Exec=vastelo' "$desktop" || fail "Exec line"
  if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop" || fail "desktop-file-validate"; fi
  for size in 16 32; do
    local png=$root/share/icons/hicolor/${size}x${size}/apps/vastelo.png
    [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
  done
  grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/vastelo.svg" || fail "no scalable icon"
  grep -q 'Putting the files on your server' "$root/share/doc/vastelo/README.md" || fail "no guide beside the program"
}

check_cli_tree() {
  local root=$1
  [ -x "$root/bin/vastelo-cli" ] || fail "no executable bin/vastelo-cli"
  "$root/bin/vastelo-cli" --version | grep -q '^vastelo-cli ' || fail "vastelo-cli --version"
  lexgrog "$root/share/man/man1/vastelo-cli.1" >/dev/null 2>&1 || [ ! -x "$(command -v lexgrog)" ] || fail "man page has no NAME"
  # A server without a desktop installs the command alone: it must not need Qt.
  ! ldd "$root/bin/vastelo-cli" | grep -qi 'libQt' || fail "vastelo-cli links Qt"
}

case $mode in
  install)
    DESTDIR= cmake --install "$build" --prefix "$work/prefix" >/dev/null
    check_tree "$work/prefix"
    check_cli_tree "$work/prefix"
    # Nothing but those files: no headers, static libraries or build-time tools.
    count=$(find "$work/prefix" -type f | wc -l)
    [ "$count" -eq 8 ] || { find "$work/prefix" -type f >&2; fail "$count files installed, 8 expected"; }
    ;;
  package)
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >/dev/null)
    deb=$(ls "$work"/out/vastelo_*.deb)
    cli_deb=$(ls "$work"/out/vastelo-cli_*.deb)
    cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
    echo "vastelo-cli Depends: $cli_depends"
    for p in libc6 libcrypt1 libaprutil1 libunistring2; do
      grep -Eq "(^|, )$p( |,|$)" <<<"$cli_depends" || fail "vastelo-cli Depends lacks $p"
    done
    ! grep -Eqi 'qt6|libqt|fonts-' <<<"$cli_depends" || fail "vastelo-cli depends on the window's packages"
    [ "$(dpkg-deb -f "$cli_deb" Package)" = vastelo-cli ] || fail "command package name"
    dpkg-deb -x "$cli_deb" "$work/cli"
    check_cli_tree "$work/cli/usr"
    [ ! -e "$work/cli/usr/bin/vastelo" ] || fail "the command package carries the window"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    # libcrypt and apr-util compute the strong hash formats.
    for p in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-ipafont-gothic libc6 libcrypt1 libaprutil1; do
      grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
    done
    # The package must not drag in what only the tests use.
    ! grep -Eq 'libssl|libgtest|libbenchmark|apache2|nginx' <<<"$depends" || fail "Depends names a test-only package"
    [ "$(dpkg-deb -f "$deb" Package)" = vastelo ] || fail "package name"
    dpkg-deb -x "$deb" "$work/root"
    check_tree "$work/root/usr"
    [ ! -e "$work/root/usr/bin/vastelo-cli" ] || fail "the window package carries the command"
    ! file "$work/root/usr/bin/vastelo" | grep -q 'with debug_info' || fail "the packaged program is not stripped"
    ;;
  *) fail "usage: $0 install|package BUILD_DIR" ;;
esac
echo "ok: $mode"
