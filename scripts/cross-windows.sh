#!/usr/bin/env bash
# Cross-compiles glintbox.exe for 64-bit Windows with Debian's mingw-w64 into
# build-win/ (glintbox.exe with onnxruntime.dll beside it). The Windows runtime
# DLL comes from the same pinned npm package as the Linux library.
# With --wine, also installs Debian's wine so the process tests can run the
# result (scripts/test.sh passes the .exe to them).
# Environment: GLINTBOX_DEPS_DIR (default .deps) as for the main build.
set -euo pipefail
cd "$(dirname "$0")/.."

want=(g++-mingw-w64-x86-64-posix mingw-w64-tools)
[ "${1:-}" = "--wine" ] && want+=(wine wine64)
missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

deps=${GLINTBOX_DEPS_DIR:-$PWD/.deps}
bash scripts/fetch-onnxruntime.sh "$deps/onnxruntime"

# The layout OnnxRuntime.cmake expects: include/, lib/ (import library), bin/ (DLL).
# mingw links through an import library generated from the DLL's export table.
ort=build-win/onnxruntime
if [ ! -f "$ort/lib/libonnxruntime.dll.a" ]; then
  rm -rf "$ort"
  mkdir -p "$ort/lib" "$ort/bin"
  cp -r "$deps/onnxruntime/include" "$ort/"
  cp "$deps/onnxruntime/win64/onnxruntime.dll" "$ort/bin/"
  (cd "$ort/lib" && gendef - ../bin/onnxruntime.dll >onnxruntime.def 2>/dev/null &&
     x86_64-w64-mingw32-dlltool -d onnxruntime.def -D onnxruntime.dll -l libonnxruntime.dll.a)
fi

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DONNXRUNTIME_ROOT="$PWD/$ort" -DGLINTBOX_BUILD_TESTS=OFF -DGLINTBOX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-win --target glintbox
cp "$ort/bin/onnxruntime.dll" build-win/src/
echo "cross-windows: built $PWD/build-win/src/glintbox.exe"
