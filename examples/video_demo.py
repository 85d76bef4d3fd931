#!/usr/bin/python3
"""Finds the faces in a video with glintbox and writes it back with the boxes drawn.

usage: video_demo.py [VIDEO] [--out OUT] [--model M] [--glintbox BIN] [--score S] [--nms N]

VIDEO defaults to video/face_480x272.gif in GLINTBOX_SHARED_DIR. ffmpeg decodes
it to BGR frames, which stream through glintbox (examples/python_client.py);
each frame gets its boxes drawn (green, best face thicker) and goes on to a
second ffmpeg that writes OUT: .mp4 (H.264), .gif, or .png for an image
sequence (OUT "dir/frame.png" gives dir/frame_0000.png, ...; a "%04d" in the
name is kept as given). A progress line runs on stderr; the last stdout line
sums up.
"""
import argparse
import collections
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import python_client as gb  # noqa: E402

GREEN = b"\x00\xff\x00"  # BGR
YELLOW = b"\x00\xff\xff"


def frame_rate(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
         "stream=avg_frame_rate,nb_frames", "-of", "default=nw=1", path],
        check=True, capture_output=True, text=True).stdout
    fields = dict(line.split("=", 1) for line in out.split() if "=" in line)
    num, _, den = fields.get("avg_frame_rate", "25/1").partition("/")
    rate = "{}/{}".format(num, den or 1) if num not in ("0", "") and den != "0" else "25"
    count = fields.get("nb_frames", "")
    return rate, int(count) if count.isdigit() else None


def draw_box(frame, width, height, face, thickness, color):
    """Draws the face's outline into the BGR frame (a bytearray), clipped to it."""
    x0 = max(0, int(round(face["x"] * width)))
    y0 = max(0, int(round(face["y"] * height)))
    x1 = min(width, int(round((face["x"] + face["w"]) * width)))
    y1 = min(height, int(round((face["y"] + face["h"]) * height)))
    if x1 <= x0 or y1 <= y0:
        return
    t = min(thickness, x1 - x0, y1 - y0)
    stride = width * 3
    for y in range(y0, y1):
        row = y * stride
        if y < y0 + t or y >= y1 - t:
            frame[row + x0 * 3:row + x1 * 3] = color * (x1 - x0)
        else:
            frame[row + x0 * 3:row + (x0 + t) * 3] = color * t
            frame[row + (x1 - t) * 3:row + x1 * 3] = color * t


def encoder_command(out, width, height, rate):
    command = ["ffmpeg", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgr24",
               "-s", "{}x{}".format(width, height), "-r", rate, "-i", "-"]
    lower = out.lower()
    if lower.endswith(".png"):
        if "%" not in out:
            out = out[:-4] + "_%04d.png"
        return command + ["-start_number", "0", out], out
    if lower.endswith(".gif"):
        return command + ["-vf", "split[a][b];[a]palettegen[p];[b][p]paletteuse", out], out
    return command + ["-pix_fmt", "yuv420p", "-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", out], out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("video", nargs="?",
                        default=os.path.join(gb.SHARED, "video", "face_480x272.gif"))
    parser.add_argument("--out", default=os.path.join(gb.ROOT, "out", "face_video.mp4"))
    parser.add_argument("--model", default=gb.DEFAULT_MODEL)
    parser.add_argument("--glintbox", default=gb.DEFAULT_GLINTBOX)
    parser.add_argument("--score", type=float)
    parser.add_argument("--nms", type=float)
    args = parser.parse_args()

    width, height, frames = gb.ffmpeg_frames(args.video)
    rate, total = frame_rate(args.video)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    command, out = encoder_command(args.out, width, height, rate)
    encoder = subprocess.Popen(command, stdin=subprocess.PIPE)

    # Frames written to glintbox wait here for their result line; results come
    # back in order, so the oldest waiting frame is always the one answered.
    in_flight = collections.deque()

    def remembered(source):
        for frame in source:
            in_flight.append(frame)
            yield frame

    thickness = max(2, min(width, height) // 150)
    count = faces_seen = frames_with_faces = 0
    try:
        for result in gb.detect(remembered(frames), width, height, args.model, args.glintbox,
                                args.score, args.nms):
            frame = bytearray(in_flight.popleft())
            faces = result["faces"]
            for rank, face in reversed(list(enumerate(faces))):
                draw_box(frame, width, height, face, thickness + (rank == 0),
                         GREEN if rank == 0 else YELLOW)
            encoder.stdin.write(frame)
            count += 1
            faces_seen += len(faces)
            frames_with_faces += bool(faces)
            print("\rvideo_demo: frame {}{}, {} face(s)   ".format(
                count, "/{}".format(total) if total else "", len(faces)),
                end="", file=sys.stderr, flush=True)
    except gb.GlintboxError as error:
        print("\nvideo_demo: {}".format(error), file=sys.stderr)
        encoder.stdin.close()
        encoder.wait()
        sys.exit(1)
    print(file=sys.stderr)
    encoder.stdin.close()
    if encoder.wait() != 0:
        sys.exit("video_demo: ffmpeg could not write {}".format(out))
    print("{} frames, {} with a face, {} boxes drawn; written to {}".format(
        count, frames_with_faces, faces_seen, out))


if __name__ == "__main__":
    main()
