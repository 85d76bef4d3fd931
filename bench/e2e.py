#!/usr/bin/python3
"""End-to-end benchmark: glintbox per frame against the bare runtime.

Run by hand (not part of the test suite), after building into build/:

    /usr/bin/python3 bench/e2e.py [--rounds 5] [--frames 200] [--bin NAME=PATH ...]

For each frame size, one real photo is scaled and cropped to the size with
ffmpeg, and every round measures, in rotating order so that load drifts
cancel:

  a  bare     ONNX Runtime alone (build/bench/glintbox_bare_runtime): the
              median Run on a ready input tensor, same session options.
  b  glintbox the median interval between result lines while the frames are
              written into its standard input pipe as fast as it reads them.
  pipe        the same feed into a reader that only reads whole frames and
              answers each with a line (build/bench/glintbox_pipe_reader),
              with the pipe as it comes and enlarged to a frame.
  start-up    process start to exit with empty input, glintbox against a
              program that only creates and releases the session.
  peak RSS    of each process (getrusage of the child).

Figures are medians over the rounds; b/a is the median of the per-round
ratios. Several --bin NAME=PATH compare builds (e.g. before and after).
"""
import argparse
import os
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.environ.get("GLINTBOX_SHARED_DIR", os.path.join(ROOT, "..", "shared"))


def parse_args():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--model", default=os.path.join(SHARED, "models", "face_detection_yunet_2026may.onnx"))
    p.add_argument("--photo", default=os.path.join(SHARED, "images", "group_1920x1280.jpg"))
    p.add_argument("--sizes", default="320x240,640x480,1280x720")
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--frames", type=int, default=200, help="frames (and bare runs) per measurement")
    p.add_argument("--warm", type=int, default=20, help="first frames left out as warm-up")
    p.add_argument("--bin", action="append", default=[], metavar="NAME=PATH",
                   help="a glintbox binary to measure (default: glintbox=BUILD/src/glintbox)")
    p.add_argument("--work", default=None, help="where the scaled frames go (default BUILD/bench/work)")
    return p.parse_args()


def make_frame(photo, width, height, work):
    path = os.path.join(work, f"frame_{width}x{height}.bgr")
    if not os.path.exists(path):
        vf = f"scale={width}:{height}:force_original_aspect_ratio=increase,crop={width}:{height}"
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-i", photo, "-vf", vf,
                        "-f", "rawvideo", "-pix_fmt", "bgr24", path], check=True)
    with open(path, "rb") as f:
        data = f.read()
    assert len(data) == width * height * 3, path
    return path, data


def wait_child(proc):
    """Reaps the child; returns its peak resident memory in MiB."""
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"e2e: {proc.args[0]} exited with {proc.returncode}")
    return usage.ru_maxrss / 1024.0


def feed(cmd, frame, count, warm):
    """Writes count frames as fast as the child takes them; returns the median
    interval between its lines after warm-up (ms), the time from start to the
    first line (ms) and the peak RSS (MiB)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    view = memoryview(frame)

    def write_all():
        fd = proc.stdin.fileno()
        try:
            for _ in range(count):
                done = 0
                while done < len(view):
                    done += os.write(fd, view[done:])
        finally:
            proc.stdin.close()

    writer = threading.Thread(target=write_all)
    writer.start()
    stamps = []
    for _ in range(count):
        line = proc.stdout.readline()
        if not line:
            break
        stamps.append(time.perf_counter())
    writer.join()
    proc.stdout.close()
    rss = wait_child(proc)
    if len(stamps) != count:
        sys.exit(f"e2e: {cmd[0]} answered {len(stamps)} of {count} frames")
    steady = stamps[warm:]
    intervals = [(b - a) * 1000 for a, b in zip(steady, steady[1:])]
    return statistics.median(intervals), (stamps[0] - start) * 1000, rss


def timed_exit(cmd, stdin=subprocess.DEVNULL):
    """Process start to exit (ms) and peak RSS (MiB); stdout is returned too."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdin=stdin, stdout=subprocess.PIPE)
    out = proc.stdout.read()
    proc.stdout.close()
    rss = wait_child(proc)
    return (time.perf_counter() - start) * 1000, rss, out.decode()


def figures(text):
    return {k: float(v) for k, v in (item.split("=") for item in text.split())}


def main():
    args = parse_args()
    bins = [b.split("=", 1) for b in args.bin] or [["glintbox", os.path.join(args.build, "src", "glintbox")]]
    bare = os.path.join(args.build, "bench", "glintbox_bare_runtime")
    reader = os.path.join(args.build, "bench", "glintbox_pipe_reader")
    work = args.work or os.path.join(args.build, "bench", "work")
    os.makedirs(work, exist_ok=True)
    sizes = [tuple(int(v) for v in s.split("x")) for s in args.sizes.split(",")]

    results = {}  # (size, key) -> list over rounds
    def add(size, key, value):
        results.setdefault((size, key), []).append(value)

    frames = {size: make_frame(args.photo, *size, work) for size in sizes}
    for r in range(args.rounds):
        for size in sizes:
            w, h = size
            path, data = frames[size]
            gb_cmd = lambda exe: [exe, "--model", args.model, "--width", str(w), "--height", str(h)]
            steps = []

            def bare_run():
                _, rss, out = timed_exit([bare, "run", args.model, str(w), str(h), path,
                                          str(args.frames)])
                f = figures(out)
                add(size, "a", f["run_median_ms"])
                add(size, "rss bare", rss)
                add(size, "create bare", f["create_ms"])
                add(size, "check", f["check_us"])
            steps.append(bare_run)
            for name, exe in bins:
                def gb_run(name=name, exe=exe):
                    per_frame, first, rss = feed(gb_cmd(exe), data, args.frames, args.warm)
                    add(size, f"b {name}", per_frame)
                    add(size, f"first {name}", first)
                    add(size, f"rss {name}", rss)
                steps.append(gb_run)
                def gb_start(name=name, exe=exe):
                    ms, _, _ = timed_exit(gb_cmd(exe))
                    add(size, f"start {name}", ms)
                steps.append(gb_start)
            def bare_start():
                ms, _, _ = timed_exit([bare, "startup", args.model])
                add(size, "start bare", ms)
            steps.append(bare_start)
            for label, extra in (("pipe", []), ("pipe enlarged", ["--enlarge"])):
                def pipe_run(label=label, extra=extra):
                    per_frame, _, _ = feed([reader, str(w), str(h)] + extra, data, args.frames, args.warm)
                    add(size, label, per_frame)
                steps.append(pipe_run)
            # Rotate the order each round so no step always follows another.
            k = r % len(steps)
            for step in steps[k:] + steps[:k]:
                step()
            print(f"round {r + 1}/{args.rounds} {w}x{h} done", file=sys.stderr, flush=True)

    med = lambda size, key: statistics.median(results[(size, key)])
    print(f"model {os.path.basename(args.model)}, {args.rounds} rounds x {args.frames} frames, medians")
    head = f"{'frame':>9} {'a bare Run':>10} {'pipe':>7} {'pipe big':>8}"
    for name, _ in bins:
        head += f" | {('b ' + name):>16} {'b/a':>6}"
    print(head + "   (ms per frame)")
    for size in sizes:
        line = f"{size[0]}x{size[1]:<5} {med(size, 'a'):>10.3f} {med(size, 'pipe'):>7.3f} {med(size, 'pipe enlarged'):>8.3f}"
        for name, _ in bins:
            ratios = [b / a for a, b in zip(results[(size, 'a')], results[(size, f'b {name}')])]
            line += f" | {med(size, f'b {name}'):>16.3f} {statistics.median(ratios):>6.3f}"
        print(line)
    print("glintbox's check of the nine outputs' type and size, per frame (us): " +
          ", ".join(f"{w}x{h} {med((w, h), 'check'):.1f}" for w, h in sizes))
    print()
    head = f"{'frame':>9} {'start bare':>10} {'create':>7} {'RSS bare':>8}"
    for name, _ in bins:
        head += f" | {('start ' + name):>18} {'ratio':>6} {'1st line':>8} {'RSS':>6}"
    print(head + "   (ms, MiB)")
    for size in sizes:
        line = f"{size[0]}x{size[1]:<5} {med(size, 'start bare'):>10.1f} {med(size, 'create bare'):>7.1f} {med(size, 'rss bare'):>8.1f}"
        for name, _ in bins:
            ratios = [g / b for b, g in zip(results[(size, 'start bare')], results[(size, f'start {name}')])]
            line += (f" | {med(size, f'start {name}'):>18.1f} {statistics.median(ratios):>6.3f}"
                     f" {med(size, f'first {name}'):>8.1f} {med(size, f'rss {name}'):>6.1f}")
        print(line)


if __name__ == "__main__":
    main()
