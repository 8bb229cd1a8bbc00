#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the plain build; the
# whole suite again under AddressSanitizer/UndefinedBehaviorSanitizer (clang,
# GUI tests offscreen) with a short run of each fuzz target; the serial,
# protocol and exchange tests under ThreadSanitizer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
# Xvfb and xprop let a test read the window title a real window manager sees;
# desktop-file-validate checks the installed desktop entry; dpkg-dev and file
# let CPack take the package's dependencies from the linked libraries; clang
# and its runtime libraries build the fuzz targets.
qv_install_deps xvfb x11-utils desktop-file-utils dpkg-dev file clang-14 libclang-rt-14-dev

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
status=0
# Seconds each fuzz target runs.
fuzz_seconds="${QV_FUZZ_SECONDS:-60}"

qv_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_WERROR=$werror
(cd "$QV_ROOT/build" && ctest --output-on-failure -j 2) || status=1
# The Debian package takes a few seconds: built here, its dependencies checked.
(cd "$QV_ROOT/build" && rm -f quorvantel_*.deb && cpack -G DEB > /dev/null &&
    dpkg-deb -f quorvantel_*.deb Depends | grep 'libqt6widgets6' | grep -q 'qt6-translations-l10n' &&
    echo "Debian package: $(ls quorvantel_*.deb)") || { echo "Debian package FAILED"; status=1; }

# One clang tree: the whole suite under ASan+UBSan, and the fuzz targets.
qv_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 -DQV_FUZZ=ON -DQV_WERROR=$werror
(cd "$QV_ROOT/build-asan" && ctest --output-on-failure -j 2) || status=1

# Each target from its committed corpus; what it adds stays in the build tree.
for t in receiver update text; do
    work="$QV_ROOT/build-asan/fuzz/corpus-$t"
    mkdir -p "$work"
    log="$QV_ROOT/build-asan/fuzz/fuzz_$t.log"
    if LSAN_OPTIONS="suppressions=$QV_ROOT/tests/lsan.supp" \
        "$QV_ROOT/build-asan/fuzz/fuzz_$t" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
        -artifact_prefix="$QV_ROOT/build-asan/fuzz/" "$work" "$QV_ROOT/fuzz/corpus/$t" > "$log" 2>&1; then
        echo "fuzz_$t: $(grep -m1 -E '^#[0-9]+[[:space:]]+DONE' "$log" | sed -E 's/^#[0-9]+[[:space:]]+DONE[[:space:]]+//')" \
            "$(grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' "$log" | tr -s ' ' | tr '\n' ' ')"
    else
        echo "fuzz_$t FAILED:"; tail -n 60 "$log"; status=1
    fi
done

# Threads: the serial component, the receiver and the window's exchange.
qv_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQV_TSAN=ON -DQV_WERROR=$werror -- tests_serial tests_protocol tests_exchange
(cd "$QV_ROOT/build-tsan" && TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" \
    ctest --output-on-failure -j 2 -L '^(serial|protocol|exchange)$') || status=1

if [ $status -eq 0 ]; then echo "All test runs passed."; else echo "Some tests FAILED."; fi
exit $status
