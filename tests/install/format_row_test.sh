#!/usr/bin/env bash
# A new hash format is its value, one row of hashes/formats.h and one case in DrawSetting: this
# adds SHA-256 crypt that way to a copy of the sources, builds the copy, and looks for the new row
# in the window's menu and settings, in --help, in the manual page and in the shell's completion,
# and has the command write a hash of it that crypt(3) accepts.
#   format_row_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

tar -C "$source_dir" --exclude='./build*' --exclude='./web/node_modules' --exclude='./.git' -cf - . | tar -C "$work" -xf -
cd "$work"
sed -i 's/enum class Format { Des, Apr1, Sha512, Bcrypt };/enum class Format { Des, Apr1, Sha512, Bcrypt, Sha256 };/' hashes/hashes.h
sed -i 's|^\(    {Format::Bcrypt, .*\)$|\1\n    {Format::Sha256, "sha256", "SHA-256 (crypt)(\&2)", "sha256", "$5$", AnyForm::Sha256},|' hashes/formats.h
sed -i 's/^    case Format::Sha512:$/    case Format::Sha256:\n    case Format::Sha512:/' hashes/hashes.cpp
[ "$(grep -c Sha256 hashes/hashes.h hashes/formats.h hashes/hashes.cpp | grep -c ':[1-9]')" = 3 ] || fail "the sources changed: no place for the row"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DVASTELO_BENCH=OFF >/dev/null
cmake --build build --target vastelo-cli vastelo_package_docs format_row_probe >build.log 2>&1 || { tail -30 build.log; fail "the copy with a new row does not build"; }

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME"
window=$(build/tests/format_row_probe)
grep -qxF 'sha256 menu=SHA-256 (crypt)(&2) stored=sha256 read=sha256' <<<"$window" || fail "the window: $window"
build/cli/vastelo-cli --help | grep -qF -- '--format des|apr1|sha512|bcrypt|sha256' || fail "--help lacks the format"
grep -qF -- ".BI \\-\\-format \" des|apr1|sha512|bcrypt|sha256\"" build/packaging/vastelo-cli.1 || fail "the manual lacks the format"
grep -qF -- "--format) COMPREPLY=(\$(compgen -W 'des apr1 sha512 bcrypt sha256'" build/packaging/vastelo-cli.bash ||
  fail "the completion lacks the format"
printf 'pw\n' | build/cli/vastelo-cli add "$work/.htpasswd" alice --format sha256 --rounds 1000 || fail "add --format sha256"
hash=$(cut -d: -f2 "$work/.htpasswd")
[[ $hash == '$5$rounds=1000$'* ]] || fail "not a SHA-256 crypt hash: $hash"
[ "$(python3 -c 'import crypt,sys; print(crypt.crypt("pw", sys.argv[1]) == sys.argv[1])' "$hash" 2>/dev/null)" = True ] ||
  fail "crypt(3) does not take the hash $hash"
echo "a new row reaches the menu, the settings, --help, the manual, the completion and the hash"
