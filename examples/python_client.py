#!/usr/bin/python3
"""Drives glintbox from Python 3 with the standard library only.

As a module:

    import python_client as gb
    width, height, frames = gb.ffmpeg_frames("clip.mp4")      # raw BGR frames
    for result in gb.detect(frames, width, height, model="yunet.onnx", glintbox="glintbox"):
        print(result["frame"], result["faces"])               # faces: x, y, w, h, score
    # a failed glintbox raises GlintboxError(status, line) after the results it gave

As a program: python_client.py MEDIA [--model M] [--glintbox BIN] [--score S] [--nms N]
decodes MEDIA (a photo or a video) with ffmpeg, runs glintbox on every frame
and prints one JSON result per frame. On a glintbox failure it prints
"python_client: glintbox exited with status S: glintbox: ..." and exits 1.
"""
import argparse
import json
import os
import subprocess
import sys
import threading

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.environ.get("GLINTBOX_SHARED_DIR", os.path.join(ROOT, "..", "shared"))
DEFAULT_MODEL = os.path.join(SHARED, "models", "face_detection_yunet_2026may.onnx")
DEFAULT_GLINTBOX = os.path.join(ROOT, "build", "src", "glintbox")


class GlintboxError(Exception):
    """glintbox ended with a non-zero status; line is its stderr diagnostic."""

    def __init__(self, status, line):
        self.status = status  # 1: invocation error, 2: runtime failure, <0: signal
        self.line = line      # "glintbox: ..." or "" when it wrote nothing
        super().__init__("glintbox exited with status {}{}".format(
            status, ": " + line if line else ""))


def detect(frames, width, height, model, glintbox=DEFAULT_GLINTBOX, score=None, nms=None):
    """Yields one result dict per frame, in order, as glintbox answers.

    frames is any iterable of bytes objects of width * height * 3 bytes each
    (BGR for the bundled models). They are written on a separate thread while
    this generator reads results, so neither pipe can stall glintbox.
    """
    command = [glintbox, "--model", model, "--width", str(width), "--height", str(height)]
    if score is not None:
        command += ["--score", str(score)]
    if nms is not None:
        command += ["--nms", str(nms)]
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    stderr_chunks = []

    def write_frames():
        try:
            for frame in frames:
                proc.stdin.write(frame)
                proc.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass  # glintbox has exited; its status tells why
        finally:
            close = getattr(frames, "close", None)
            if close is not None:
                close()  # e.g. stops an ffmpeg decoder early
            try:
                proc.stdin.close()
            except BrokenPipeError:
                pass

    def read_stderr():
        stderr_chunks.append(proc.stderr.read())

    threads = [threading.Thread(target=write_frames, daemon=True),
               threading.Thread(target=read_stderr, daemon=True)]
    for thread in threads:
        thread.start()
    try:
        for line in proc.stdout:
            yield json.loads(line)
    finally:
        proc.stdout.close()  # a caller that stops early ends glintbox through SIGPIPE
        for thread in threads:
            thread.join()
        status = proc.wait()
        proc.stderr.close()
    if status != 0:
        lines = b"".join(stderr_chunks).decode(errors="replace").strip().splitlines()
        raise GlintboxError(status, lines[-1].strip() if lines else "")


def media_size(path):
    """(width, height) of the first video stream of a photo or video."""
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
         "stream=width,height", "-of", "csv=p=0:s=x", path],
        check=True, capture_output=True, text=True).stdout.strip()
    width, height = out.split("x")[:2]
    return int(width), int(height)


def ffmpeg_frames(path):
    """(width, height, frames): the media's frames decoded by ffmpeg to BGR bytes."""
    width, height = media_size(path)
    frame_bytes = width * height * 3

    def frames():
        decoder = subprocess.Popen(
            ["ffmpeg", "-loglevel", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr24",
             "-"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            while True:
                frame = decoder.stdout.read(frame_bytes)
                if len(frame) < frame_bytes:
                    return
                yield frame
        finally:
            decoder.stdout.close()
            if decoder.poll() is None:
                decoder.terminate()
            decoder.wait()

    return width, height, frames()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("media", help="a photo or video ffmpeg can decode")
    parser.add_argument("--model", default=DEFAULT_MODEL)
    parser.add_argument("--glintbox", default=DEFAULT_GLINTBOX)
    parser.add_argument("--score", type=float)
    parser.add_argument("--nms", type=float)
    args = parser.parse_args()

    width, height, frames = ffmpeg_frames(args.media)
    try:
        for result in detect(frames, width, height, args.model, args.glintbox,
                             args.score, args.nms):
            print(json.dumps(result, separators=(",", ":")), flush=True)
    except GlintboxError as error:
        print("python_client: {}".format(error), file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
