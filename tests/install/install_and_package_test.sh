#!/usr/bin/env bash
# Installs the build into a temporary prefix, or packages it as two .debs and installs those into a
# private root with dpkg, and checks what a desktop, dpkg, lintian, man, a software centre and bash
# will find: the programs, their one version, the menu entry, the icons, the manual pages, the
# AppStream file, the shell completion, the copyright file, the changelog, the dependencies.
#   install_and_package_test.sh install|package BUILD_DIR
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*" >&2; }

# The one place the version is written; every file below must show this number.
version=$(sed -nE 's/^project\(Vastelo VERSION ([0-9][0-9.]*)[ )].*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$version" ] || fail "no version in project() of CMakeLists.txt"

# Width and height from a PNG's IHDR chunk, as "WxH".
png_size() {
  [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$1 is no PNG"
  local w h
  w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
  h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
  echo "${w}x${h}"
}

# Compressed as Debian wants it: gzip at its strongest (XFL 02), without a stored name or time
# stamp (flags 00, MTIME 0), so that the same input always gives the same package.
check_gzip() {
  gzip -t "$1" 2>/dev/null || fail "$1 is no gzip file"
  [ "$(od -An -tx1 -N9 "$1" | tr -d ' \n')" = 1f8b08000000000002 ] || fail "$1 is not compressed with gzip -9n"
}

check_man() {
  local page=$1 name=$2
  [ -f "$page" ] || fail "no manual page $page"
  check_gzip "$page"
  zcat "$page" | head -n 1 | grep -qF "\"Vastelo $version\"" || fail "$page does not show version $version"
  if command -v lexgrog >/dev/null; then
    lexgrog "$page" | grep -qF ": \"$name - " || fail "lexgrog finds no NAME section in $page"
  else
    skip "lexgrog (man-db) is not installed"
  fi
  local warnings
  warnings=$(zcat "$page" | groff -man -ww -z -Kutf8 -Tutf8 2>&1) || fail "groff fails on $page"
  [ -z "$warnings" ] || fail "groff warns about $page: $warnings"
}

# The copyright file and the changelog, the same in both packages' documentation folders.
check_package_docs() {
  local doc=$1
  local copyright=$doc/copyright
  [ -f "$copyright" ] || fail "no $copyright"
  head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$copyright is not in the machine-readable format"
  grep -qx 'License: Expat' "$copyright" || fail "$copyright does not name the MIT (Expat) licence"
  # The licences of the linked libraries, by the names their own Debian copyright files use.
  for licence in LGPL-3 GPL-2 LGPL-3+ GPL-2+ LGPL-2.1+ Apache-2.0 'GPL-3+ with GCC-exception-3.1 exception'; do
    grep -qxF "License: $licence" "$copyright" || fail "$copyright lacks the licence $licence"
  done
  local changelog=$doc/changelog.gz
  [ -f "$changelog" ] || fail "no $changelog"
  check_gzip "$changelog"
  zcat "$changelog" >"$work/changelog"
  [ "$(head -n 1 "$work/changelog")" = "vastelo ($version) unstable; urgency=medium" ] || fail "$changelog's first line"
  if command -v dpkg-parsechangelog >/dev/null; then
    [ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] || fail "$changelog's version"
    local date
    date=$(dpkg-parsechangelog -l "$work/changelog" -S Date)
    [ "$(date -u -R -d "$date")" = "$date" ] || fail "$changelog's date $date has the wrong weekday"
  fi
}

check_tree() {
  local root=$1
  [ -x "$root/bin/vastelo" ] || fail "no executable bin/vastelo"
  # The window's バージョン情報 shows VASTELO_VERSION, held in the program as a UTF-16 literal.
  perl -e 'local $/; my ($v, $p) = @ARGV; open my $f, "<:raw", $p or exit 2;
           exit(index(<$f>, join("", map { "$_\0" } split //, $v)) < 0 ? 1 : 0)' "$version" "$root/bin/vastelo" ||
    fail "the window does not carry version $version"
  local desktop=$root/share/applications/vastelo.desktop
  [ -f "$desktop" ] || fail "no menu entry"
  grep -qx 'Name=Vastelo' "$desktop" || fail "menu entry name"
  grep -q '^Comment\[ja\]=' "$desktop" || fail "no Japanese comment"
  grep -qx 'Categories=Utility;Network;' "$desktop" || fail "categories"
  grep -qx 'Exec=vastelo' "$desktop" || fail "Exec line"
  if command -v desktop-file-validate >/dev/null; then
    local said
    said=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $said"
    # A hint (the entry sits in two main categories, on purpose) is no fault.
    ! grep -Eq '(error|warning):' <<<"$said" || fail "desktop-file-validate: $said"
  else
    skip "desktop-file-validate (desktop-file-utils) is not installed"
  fi
  for size in 16 32; do
    local png=$root/share/icons/hicolor/${size}x${size}/apps/vastelo.png
    [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is not ${size}x${size}"
  done
  grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/vastelo.svg" || fail "no scalable icon"
  grep -q 'Putting the files on your server' "$root/share/doc/vastelo/README.md" || fail "no guide beside the program"
  check_man "$root/share/man/man1/vastelo.1.gz" vastelo
  check_package_docs "$root/share/doc/vastelo"

  local metainfo=$root/share/metainfo/org.example.vastelo.metainfo.xml
  [ -f "$metainfo" ] || fail "no AppStream metainfo"
  grep -q "<release version=\"$version\" date=\"[0-9-]*\"" "$metainfo" || fail "the AppStream release is not $version"
  grep -q '<launchable type="desktop-id">vastelo.desktop</launchable>' "$metainfo" || fail "AppStream launchable"
  grep -q '<summary xml:lang="ja">' "$metainfo" || fail "no Japanese AppStream summary"
  grep -q '<content_rating type="oars-1.1"/>' "$metainfo" || fail "no content rating"
  for shot in "$source_dir"/docs/*.png; do
    grep -q "<image>https://example.org/vastelo/docs/$(basename "$shot")</image>" "$metainfo" ||
      fail "AppStream lacks the screenshot $(basename "$shot")"
  done
  if command -v appstreamcli >/dev/null; then
    local said
    said=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $said"
    ! grep -Eq '^[EW]:' <<<"$said" || fail "appstreamcli validate: $said"
  else
    skip "appstreamcli (appstream) is not installed"
  fi
}

# Offers the completion makes for a command line whose last word is the one being completed,
# one a line, sorted; runs in the current folder.
completion_offers() {
  bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}; COMPREPLY=()
    _vastelo_cli vastelo-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" vastelo-cli "$@" | LC_ALL=C sort | tr '\n' ' '
}

expect_offers() {
  local want=$1
  shift
  local got
  got=$(completion_offers "$@")
  [ "$got" = "$want" ] || fail "completing 'vastelo-cli $*' offers '$got', not '$want'"
}

check_completion() {
  local root=$1
  completion=$root/share/bash-completion/completions/vastelo-cli
  [ -f "$completion" ] || fail "no bash completion"
  bash -n "$completion" || fail "the bash completion does not parse"
  if [ ! -r /usr/share/bash-completion/bash_completion ]; then
    skip "bash-completion is not installed: its completion is not exercised"
    return
  fi
  mkdir -p "$work/completing/site"
  printf 'alice:x\r\nbob:y\r\n# carl:z\r\ncarol:w\r\nalice:again\r\n' >"$work/completing/site/.htpasswd"
  : >"$work/completing/users.csv"
  (
    cd "$work/completing"
    expect_offers '--help --version add build check delete import verify ' ''
    expect_offers 'delete ' de
    expect_offers 'site users.csv ' build ''
    expect_offers 'site ' build users.csv -o ''
    expect_offers 'apr1 bcrypt des sha512 ' build users.csv --format ''
    expect_offers 'sjis utf8 ' add site/.htpasswd alice --encoding=
    expect_offers '--cost --encoding --format --generate --help --rounds --wait ' add -
    expect_offers '--help --min-cost --min-rounds ' check site/.htpasswd ''
    expect_offers '10 11 12 13 14 15 16 17 ' check site/.htpasswd --min-cost 1
    expect_offers 'alice bob carol ' verify site/.htpasswd ''
    expect_offers 'bob carol ' delete site/.htpasswd alice ''
    expect_offers 'users.csv ' import site/.htpasswd u
  ) || exit 1
  # Nothing offered that the command would refuse: every option of every command is one it takes.
  local command option
  for command in build add import delete verify check; do
    for option in $(cd "$work/completing" && completion_offers "$command" -); do
      local said
      said=$("$root/bin/vastelo-cli" "$command" "$option" 2>&1 >/dev/null) || true
      ! grep -q '不明なオプション' <<<"$said" || fail "completion offers $option, which vastelo-cli $command refuses"
    done
  done
}

check_cli_tree() {
  local root=$1
  [ -x "$root/bin/vastelo-cli" ] || fail "no executable bin/vastelo-cli"
  [ "$("$root/bin/vastelo-cli" --version)" = "vastelo-cli $version" ] || fail "vastelo-cli --version is not $version"
  check_man "$root/share/man/man1/vastelo-cli.1.gz" vastelo-cli
  check_package_docs "$root/share/doc/vastelo-cli"
  check_completion "$root"
  # A server without a desktop installs the command alone: it must not need Qt.
  ! ldd "$root/bin/vastelo-cli" | grep -qi 'libQt' || fail "vastelo-cli links Qt"
}

# Installs both packages into a root of their own with dpkg, so that the test needs neither the
# network nor changes to this machine. The root starts with this machine's package database, so
# that dpkg checks the packages' dependencies against what is really installed here; the
# programs then run on this machine's libraries.
install_into_root() {
  local root=$1
  shift
  local admin=$root/var/lib/dpkg
  mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
  cp /var/lib/dpkg/status "$admin/status"
  : >"$admin/available"
  # dpkg reads every known package's file list to look for clashes; this root holds none of their
  # files, and empty lists say so without a warning for each.
  dpkg-query --admindir="$admin" -W -f='${binary:Package}.list\n' | (cd "$admin/info" && xargs -r touch --) ||
    fail "cannot prepare the package database"
  # --path-include undoes a machine's path-exclude rules (slim Docker images drop manual pages).
  dpkg --root="$root" --force-not-root --force-script-chrootless --path-include='*' --install "$@" \
    >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg cannot install the packages"; }
  for p in vastelo vastelo-cli; do
    [ "$(dpkg-query --admindir="$admin" -W -f='${db:Status-Abbrev}' "$p")" = "ii " ] || fail "$p is not installed"
  done
}

case $mode in
  install)
    DESTDIR= cmake --install "$build" --prefix "$work/prefix" >/dev/null
    check_tree "$work/prefix"
    check_cli_tree "$work/prefix"
    # Nothing but those files: no headers, static libraries or build-time tools.
    count=$(find "$work/prefix" -type f | wc -l)
    [ "$count" -eq 15 ] || { find "$work/prefix" -type f >&2; fail "$count files installed, 15 expected"; }
    ;;
  package)
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >/dev/null)
    deb=$(ls "$work"/out/vastelo_*.deb)
    cli_deb=$(ls "$work"/out/vastelo-cli_*.deb)
    for d in "$deb" "$cli_deb"; do
      [ "$(dpkg-deb -f "$d" Version)" = "$version" ] || fail "$d is not version $version"
      [ "$(dpkg-deb -f "$d" Source)" = vastelo ] || fail "$d does not come from the source vastelo"
    done
    [ "$(dpkg-deb -f "$deb" Description | head -n 1)" != "$(dpkg-deb -f "$cli_deb" Description | head -n 1)" ] ||
      fail "the two packages have one synopsis"
    cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
    echo "vastelo-cli Depends: $cli_depends"
    for p in libc6 libcrypt1 libaprutil1 libunistring2 libcsv3; do
      grep -Eq "(^|, )$p( |,|$)" <<<"$cli_depends" || fail "vastelo-cli Depends lacks $p"
    done
    ! grep -Eqi 'qt6|libqt|fonts-' <<<"$cli_depends" || fail "vastelo-cli depends on the window's packages"
    [ "$(dpkg-deb -f "$cli_deb" Package)" = vastelo-cli ] || fail "command package name"
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    # libcrypt and apr-util compute the strong hash formats.
    for p in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins fonts-ipafont-gothic libc6 libcrypt1 libaprutil1; do
      grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
    done
    # The package must not drag in what only the tests use.
    ! grep -Eq 'libssl|libgtest|libbenchmark|apache2|nginx' <<<"$depends" || fail "Depends names a test-only package"
    [ "$(dpkg-deb -f "$deb" Package)" = vastelo ] || fail "package name"
    cli_files=$(dpkg-deb -c "$cli_deb")
    ! grep -q '/usr/bin/vastelo$' <<<"$cli_files" || fail "the command package carries the window"
    window_files=$(dpkg-deb -c "$deb")
    ! grep -q '/usr/bin/vastelo-cli$' <<<"$window_files" || fail "the window package carries the command"

    # What a Debian administrator runs before accepting a package: no error, no warning.
    # Informational tags are printed for whoever reads the log.
    if command -v lintian >/dev/null; then
      said=$(lintian --fail-on error,warning --display-info "$deb" "$cli_deb" 2>&1) ||
        { echo "$said" >&2; fail "lintian"; }
      grep -v 'root privileges' <<<"$said" || true
    else
      skip "lintian is not installed (tools/quickstart test installs it)"
    fi

    install_into_root "$work/root" "$deb" "$cli_deb"
    check_tree "$work/root/usr"
    check_cli_tree "$work/root/usr"
    ! file "$work/root/usr/bin/vastelo" | grep -q 'with debug_info' || fail "the packaged program is not stripped"
    if pkg-config --exists bash-completion 2>/dev/null; then
      [ -f "$work/root$(pkg-config --variable=completionsdir bash-completion)/vastelo-cli" ] ||
        fail "the completion is not where bash-completion looks"
    fi
    if command -v appstreamcli >/dev/null; then
      # The tree as installed: the metainfo, and the menu entry its launchable names.
      said=$(appstreamcli validate-tree --no-net "$work/root" 2>&1) || fail "appstreamcli validate-tree: $said"
      ! grep -Eq '^[EW]:' <<<"$said" || fail "appstreamcli validate-tree: $said"
    fi
    ;;
  *) fail "usage: $0 install|package BUILD_DIR" ;;
esac
echo "ok: $mode"
