#!/usr/bin/env bash
# Installs what the build needs, only where a fresh machine lacks it.
set -euo pipefail
packages=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev libomp-dev
          libnetcdf-dev libcairo2-dev pkg-config netcdf-bin
          # kwd-export: coordinate reference systems (PROJ) and GeoTIFF (GDAL);
          # gdal-bin's gdalinfo and poppler's pdftotext read its files back in tests
          libproj-dev libgdal-dev gdal-bin poppler-utils
          # the run record (run.json) of kwd-footprint
          nlohmann-json3-dev
          # make mpi: kwd-footprint run across processes (Open MPI, mpirun)
          libopenmpi-dev openmpi-bin
          # make bench: GNU time for the wall time and peak memory of a run
          time
          # ThreadSanitizer and fuzz builds: clang, its sanitizer and libFuzzer
          # runtimes, LLVM's OpenMP runtime with its ThreadSanitizer tool (archer).
          clang-14 libclang-rt-14-dev libomp-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
