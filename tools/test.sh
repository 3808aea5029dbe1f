#!/usr/bin/env bash
# make test: builds both targets and runs each suite this host can run.
#
#   tools/test.sh [i686|x86_64]
#
# Without an argument both targets are built (the shipped 32-bit product
# always compiles) and every suite the host can run is run, the 64-bit one
# everywhere. With one, only that target is built and run. CTEST_ARGS goes to
# each ctest. The wineserver and display of each suite are stopped afterwards,
# whatever the outcome. The exit status is non-zero when a suite that ran had
# a failure; the last line adds up the suites' tests.
set -uo pipefail
cd "$(dirname "$0")/.."

{ read -r -a host; read -r why; } < <(tools/host-arches.sh)
if [ $# -gt 0 ]; then
  build=("$1") suites=("$1")
  case "$1" in
    i686|x86_64) ;;
    *) echo "test: ARCH must be i686 or x86_64" >&2; exit 2 ;;
  esac
  if [[ " ${host[*]} " != *" $1 "* ]]; then
    echo "test: the $1 suite cannot run on this host: $why" >&2
    exit 2
  fi
  echo "test: suite $1 (asked for)"
else
  build=(i686 x86_64) suites=("${host[@]}")
  echo "test: suites ${suites[*]}; $why"
fi

tools/build.sh "${build[@]}" || exit $?

status=0 passed=0 failed=0
for arch in "${suites[@]}"; do
  echo "test: running the $arch suite (build/$arch)"
  log=$(mktemp)
  # shellcheck disable=SC2086
  ctest --preset "$arch" ${CTEST_ARGS:-} 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  tools/wine-run.sh --arch "$arch" --prefix "build/$arch/wine/prefix" --shutdown
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  rm -f "$log"
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad)) failed=$((failed + bad))
  fi
  if [ "$rc" != 0 ]; then
    status=1
    [ -n "$line" ] || failed=$((failed + 1))  # ctest itself failed
  fi
  echo "test: $arch suite: ${line:-ctest exited with $rc}"
done
echo "test: ${passed} passed, ${failed} failed"
exit $status
