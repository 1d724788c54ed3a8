#!/usr/bin/env bash
# Writes the bundled example simulation into <build>/example, runs
# kwd-footprint on the example's run configuration file (".tra") from the
# command line and prints kwd-export's summary of the results. `make demo`
# builds the programs first; run on its own, the script builds what it needs.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."

if [ ! -x "$build/kwd-footprint" ] || [ ! -x "$build/kwd_make_example" ] ||
   [ ! -x "$build/kwd-export" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j "$(nproc)" --target programs
fi

example="$build/example"
# A fresh example every time.
rm -rf "$example"
"$build/kwd_make_example" --folder "$example"
example=$(cd "$example" && pwd)
tra="$example/KWDExample.tra"

echo
echo "Running: kwd-footprint run $tra"
echo
status=0
"$build/kwd-footprint" run "$tra" | tee "$example/console.txt" || status=${PIPESTATUS[0]}
echo
if [ "$status" -ne 0 ]; then
  echo "kwd-footprint ended with status $status (console output: $example/console.txt)"
  exit "$status"
fi
echo "Results are in $example/trajectory:"
echo "  run.json                       the run record: version, settings, seed, totals"
echo "  logFile.log                    the run log"
echo "  FluxFootprintDensityIJ_*.csv   normalised flux footprints, 1/m2 (one per measurement time)"
echo "  ConFootprintDensityIJ_*.csv    normalised concentration footprints, s/m3"
echo "  Footprints_*.csv               per measurement time: released, hits, flux share"
echo "  FlxFootprintIJ_*.csv           the original flux footprints (one per output time)"
echo "  ConFootprintIJ_*.csv           the original concentration footprints"
echo "  ParticleList_*.csv             the particles that reached an emitter"
echo "  VirtPart_*.ZDX/.ZDT            output data sets (wind field and result arrays)"
echo "The console output of the run is in $example/console.txt."
echo
echo "kwd-export summary $example/trajectory:"
"$build/kwd-export" summary "$example/trajectory"
