#!/usr/bin/env bash
# Obtains ONNX Runtime (Linux x64 library and C headers) from the npm registry,
# pinned by exact version and checked against pinned SHA-512 digests, and lays
# it out like the runtime's release archives: DEST/include and DEST/lib.
# Usage: fetch-onnxruntime.sh DEST
# A finished DEST (marked by DEST/.complete) is reused without downloading.
set -euo pipefail

dest=${1:?usage: fetch-onnxruntime.sh DEST}

lib_pkg=onnxruntime-node@1.23.2
lib_sha512=3814ec1b45bc75d05539e555572721a55052f3b03d615e6c6b6849ea5734db94fdecb7be278bfef8fc120b85c5b350bad925b235da1fd0c8782af9d982db786b
lib_dir=package/bin/napi-v6/linux/x64
win_dir=package/bin/napi-v6/win32/x64

hdr_pkg=com.github.asus4.onnxruntime@0.4.9
hdr_sha512=064cf176e499f4891e0cfe90f25cf64c553689eee1492bd2ed921fccca28131a2ad02373267bae19a509ec8b288c182a3b8a2e0f58d76a1f0e63225b08ddbd16
hdr_dir='package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers'

stamp="$lib_pkg $hdr_pkg"
if [ -f "$dest/.complete" ] && [ "$(cat "$dest/.complete")" = "$stamp" ]; then
  exit 0
fi

command -v npm >/dev/null || { echo "fetch-onnxruntime: npm is needed to download ONNX Runtime" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fetch() { # package, expected sha512 -> path of the verified tarball
  local pkg=$1 want=$2 file got
  file=$(cd "$work" && npm pack --silent "$pkg" | tail -n 1)
  got=$(sha512sum "$work/$file" | cut -d' ' -f1)
  if [ "$got" != "$want" ]; then
    echo "fetch-onnxruntime: $pkg does not match its pinned SHA-512 digest" >&2
    exit 1
  fi
  printf '%s\n' "$work/$file"
}

lib_tgz=$(fetch "$lib_pkg" "$lib_sha512")
hdr_tgz=$(fetch "$hdr_pkg" "$hdr_sha512")

mkdir -p "$work/out/include" "$work/out/lib" "$work/out/win64" "$work/x"
tar -xzf "$lib_tgz" -C "$work/x" "$lib_dir/libonnxruntime.so.1" "$win_dir/onnxruntime.dll"
tar -xzf "$hdr_tgz" -C "$work/x" --wildcards "$hdr_dir/*.h"
cp "$work/x/$lib_dir/libonnxruntime.so.1" "$work/out/lib/"
ln -s libonnxruntime.so.1 "$work/out/lib/libonnxruntime.so"
cp "$work/x/$win_dir/onnxruntime.dll" "$work/out/win64/"
cp "$work/x/$hdr_dir"/*.h "$work/out/include/"
printf '%s\n' "$stamp" >"$work/out/.complete"

mkdir -p "$(dirname "$dest")"
rm -rf "$dest"
mv "$work/out" "$dest"
