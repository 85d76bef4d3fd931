#!/usr/bin/env bash
# valgrind memcheck on a normal run: FRAMES frames (default 2) of a real photo
# through the default model. Fails on any invalid read or write, any use of
# uninitialised memory, and any block left allocated at exit except ONNX
# Runtime's own once-per-process memory (onnxruntime.supp). Prints the figures.
# usage: memcheck.sh GLINTBOX_BIN SHARED_DIR WORK_DIR
set -euo pipefail
bin=${1:?glintbox binary}
shared=${2:?shared folder}
work=${3:?scratch folder}
frames=${FRAMES:-2}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
photo="$shared/images/messi5.jpg"
width=548 height=342

ffmpeg -loglevel error -i "$photo" -f rawvideo -pix_fmt bgr24 - >"$work/frame.bgr"
for _ in $(seq "$frames"); do cat "$work/frame.bgr"; done >"$work/frames.bgr"

start=$(date +%s)
status=0
valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all --track-origins=yes --num-callers=40 \
  --suppressions="$here/onnxruntime.supp" --log-file="$work/memcheck.log" \
  "$bin" --model "$shared/models/face_detection_yunet_2026may.onnx" \
  --width "$width" --height "$height" <"$work/frames.bgr" >"$work/lines.txt" || status=$?
end=$(date +%s)

grep -E '^==[0-9]+== +(in use at exit|total heap usage|definitely lost:|indirectly lost:|possibly lost:|still reachable:|suppressed:|ERROR SUMMARY)' \
  "$work/memcheck.log" | sed 's/^==[0-9]*== */memcheck: /'
echo "memcheck: $frames frames in $((end - start)) s, status $status"
lines=$(wc -l <"$work/lines.txt")
if [ "$status" -ne 0 ] || [ "$lines" -ne "$frames" ]; then
  echo "memcheck: failed (status $status, $lines lines for $frames frames); see $work/memcheck.log" >&2
  exit 1
fi
