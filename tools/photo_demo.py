#!/usr/bin/env python3
"""Runs glintbox on one photo: prints the result line and writes a PNG with
the boxes drawn on the photo.

usage: photo_demo.py [IMAGE] [--model M.onnx] [--out OUT.png] [--glintbox BIN]
Defaults come from GLINTBOX_SHARED_DIR (default: ../shared beside the repository).
"""
import argparse
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.environ.get("GLINTBOX_SHARED_DIR", os.path.join(ROOT, "..", "shared"))
sys.path.insert(0, os.path.join(ROOT, "examples"))
from python_client import media_size  # noqa: E402  (examples/ is not a package)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image", nargs="?", default=os.path.join(SHARED, "images", "messi5.jpg"))
    parser.add_argument("--model", default=os.path.join(
        SHARED, "models", "face_detection_yunet_2026may.onnx"))
    parser.add_argument("--out", default=os.path.join(ROOT, "out", "faces.png"))
    parser.add_argument("--glintbox", default=os.path.join(ROOT, "build", "src", "glintbox"))
    args = parser.parse_args()

    width, height = media_size(args.image)
    frame = subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-i", args.image, "-f", "rawvideo",
         "-pix_fmt", "bgr24", "-"], check=True, capture_output=True).stdout
    run = subprocess.run(
        [args.glintbox, "--model", args.model, "--width", str(width), "--height", str(height)],
        input=frame, capture_output=True)
    sys.stderr.write(run.stderr.decode(errors="replace"))
    if run.returncode != 0:
        sys.exit(run.returncode)
    line = run.stdout.decode().strip()
    print(line)

    faces = json.loads(line)["faces"]
    thickness = max(2, min(width, height) // 200)
    boxes = [
        "drawbox=x={:.0f}:y={:.0f}:w={:.0f}:h={:.0f}:color=lime:t={}".format(
            f["x"] * width, f["y"] * height, f["w"] * width, f["h"] * height, thickness)
        for f in faces
    ]
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-y", "-i", args.image, "-vf",
         ",".join(boxes) or "null", "-frames:v", "1", args.out], check=True)
    print("{} face(s); boxes drawn in {}".format(len(faces), args.out), file=sys.stderr)


if __name__ == "__main__":
    main()
