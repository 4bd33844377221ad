#!/usr/bin/env bash
# Set up, build and run every test; then prove that the core builds and starts without the windows.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
cd "$top"
scripts/install-deps
scripts/build
export QT_QPA_PLATFORM=offscreen
# install-deps put PostgreSQL here: the stored-data tests' server cases must run, not skip.
export VARNEX_REQUIRE_POSTGRES=1
# Without Qt Widgets the core must still configure, compile and link (beside build/, so ccache
# hands back what build/ compiled), and a core starts. That build runs beside the tests at the
# lowest priority: the tests mostly wait on sockets, timers and other processes, and it takes
# only the time they leave. The other core tests compile against the core alone in build/
# already and run below.
VARNEX_BUILD_DIR=build-core VARNEX_TARGETS=tst_startup nice -n 19 scripts/build -DVARNEX_BUILD_UI=OFF > build/build-core.log 2>&1 &
core_build=$!
# Three tests at once on two cores finish sooner, and the longest is started first (COST).
status=0
ctest --test-dir build --output-on-failure -j3 || status=$?
if ! wait $core_build; then
  cat build/build-core.log
  echo "test.sh: the build without windows failed" >&2
  exit 1
fi
ctest --test-dir build-core --output-on-failure -R '^tst_startup$' || status=$?
exit $status
