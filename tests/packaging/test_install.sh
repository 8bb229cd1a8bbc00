#!/usr/bin/env bash
# test_install.sh BUILD_DIR VERSION: installs into a temporary prefix and checks it.
set -u
build="$1"; version="$2"
prefix="$(mktemp -d)"; errors="$(mktemp)"
trap 'rm -rf "$prefix" "$errors"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" > /dev/null || { echo "FAIL: cmake --install"; exit 1; }

for f in bin/quorvantel bin/quorvantel-emulator bin/quorvantel-cli; do
    [ -x "$prefix/$f" ] || fail "$f is not an installed program"
done
share="$prefix/share"
for f in applications/quorvantel.desktop icons/hicolor/scalable/apps/quorvantel.svg \
         man/man1/quorvantel.1 man/man1/quorvantel-emulator.1 man/man1/quorvantel-cli.1; do
    [ -s "$share/$f" ] || fail "$f missing"
done
grep -q '@PROJECT_VERSION@' "$share"/man/man1/*.1 && fail "version not filled into the manual pages"

# A PNG's IHDR holds width and height (big-endian) at bytes 16..23.
for size in 48 256; do
    png="$share/icons/hicolor/${size}x${size}/apps/quorvantel.png"
    dims="$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | tr -s ' ' | sed 's/^ //')"
    [ "$dims" = "0 0 $((size / 256)) $((size % 256)) 0 0 $((size / 256)) $((size % 256))" ] ||
        fail "$png is not a ${size}x${size} PNG ($dims)"
done

desktop="$share/applications/quorvantel.desktop"
out="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate warns: $out"
grep -qx 'Exec=quorvantel' "$desktop" || fail "Exec line"
grep -qx 'Icon=quorvantel' "$desktop" || fail "Icon line"
grep -q '^Comment\[pl\]=' "$desktop" || fail "no Polish comment"

# The command line, without any display.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }
check() { # check EXPECTED_RC EXPECTED_TEXT STREAM(out|err) -- command...
    local rc="$1" text="$2" stream="$3"; shift 4
    local o e r
    o="$(run "$@" 2>"$errors")"; r=$?; e="$(cat "$errors")"
    [ "$r" = "$rc" ] || fail "$* exited $r, not $rc"
    local got="$o"; [ "$stream" = err ] && got="$e"
    [[ "$got" == *"$text"* ]] || fail "$* printed '$got' on std$stream, not '$text'"
}
check 0 "quorvantel $version" out -- "$prefix/bin/quorvantel" --version
check 0 "Usage: quorvantel [options] [port]" out -- "$prefix/bin/quorvantel" --help
check 2 "quorvantel: unknown option '--bogus'" err -- "$prefix/bin/quorvantel" --bogus /dev/ttyUSB0
check 0 "quorvantel-emulator $version" out -- "$prefix/bin/quorvantel-emulator" --version
check 0 "quorvantel-cli $version" out -- "$prefix/bin/quorvantel-cli" --version
check 0 "Exit codes: 0 done" out -- "$prefix/bin/quorvantel-cli" --help
ldd "$prefix/bin/quorvantel-cli" | grep -q 'libQt6\(Gui\|Widgets\)' && fail "quorvantel-cli links a Qt GUI library"

[ $failures -eq 0 ] && echo "installed tree OK"
exit $((failures > 0))
