#!/usr/bin/python3
"""End-to-end benchmark: glintbox per frame against the bare runtime.

Run by hand (not part of the test suite), after building into build/:

    /usr/bin/python3 bench/e2e.py [--rounds 30] [--burst 20] [--bin NAME=PATH ...]

For each frame size, one real photo is scaled and cropped to the size with
ffmpeg. Every participant is started once and kept running; then, round after
round, each gets a burst of frames in turn (the order rotates every round), so
that the figures compared within a round were taken moments apart and the
load of a shared machine drifts out of the ratios:

  a  bare     ONNX Runtime alone (build/bench/glintbox_bare_runtime serve):
              a burst of Runs on a ready input tensor, same session options
              (two intra-op threads, nothing else), timed by itself.
  b  glintbox the burst's frames written into its standard input pipe as fast
              as it takes them, from the first write to the last line.
  pipe        the same feed into a reader that only reads whole frames and
              answers each with a line (build/bench/glintbox_pipe_reader),
              with the pipe as it comes and enlarged to hold a frame.

Per frame = burst time / burst frames. Each burst's CPU time (all threads of
the child, from /proc/PID/task/*/schedstat) is also taken: it shows the work
done, apart from waiting for a processor on a busy machine.

Then, separately and alternating:

  start-up    process start to exit with empty input (glintbox opens the
              model, allocates, binds the tensor, releases), against a
              program that only creates and releases the same session.
  peak RSS    of each long-running process (getrusage of the child).
  allocations per frame, by the library that calls malloc, calloc or realloc:
              each glintbox with build/bench/libglintbox_alloc_count.so
              preloaded, on 5 and on 25 frames of a crowd photo (many
              candidates per frame), the difference divided by 20.

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
    p.add_argument("--crowd-photo", default=os.path.join(SHARED, "images", "group_large.jpg"))
    p.add_argument("--sizes", default="320x240,640x480,1280x720")
    p.add_argument("--rounds", type=int, default=30)
    p.add_argument("--burst", type=int, default=20, help="frames (and bare runs) per burst")
    p.add_argument("--startups", type=int, default=10, help="start-up measurements per size")
    p.add_argument("--bin", action="append", default=[], metavar="NAME=PATH",
                   help="a glintbox binary to measure (default: glintbox=BUILD/src/glintbox)")
    p.add_argument("--bare-no-spin", action="store_true",
                   help="experiment: the bare runtime with its thread pool's spinning turned off")
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


def cpu_ms(pid):
    """CPU time so far of every thread of the process, in ms."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except FileNotFoundError:  # a thread that just ended
            pass
    return total / 1e6


def figures(text):
    return {k: float(v) for k, v in (item.split("=") for item in text.split() if "=" in item)}


def reap(proc):
    """Waits for the child; returns its peak resident memory in MiB."""
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"e2e: {proc.args[0]} exited with {proc.returncode}")
    return usage.ru_maxrss / 1024.0


class LineAnswerer:
    """glintbox or the pipe reader: frames in, one line per frame out."""

    def __init__(self, cmd, frame):
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.frame = memoryview(frame)

    def burst(self, count):
        fd = self.proc.stdin.fileno()

        def write_all():
            for _ in range(count):
                done = 0
                while done < len(self.frame):
                    done += os.write(fd, self.frame[done:])

        writer = threading.Thread(target=write_all)
        cpu = cpu_ms(self.proc.pid)
        start = time.perf_counter()
        writer.start()
        for _ in range(count):
            if not self.proc.stdout.readline():
                sys.exit(f"e2e: {self.proc.args[0]} stopped answering")
        elapsed = time.perf_counter() - start
        writer.join()
        return elapsed * 1000 / count, {"cpu": (cpu_ms(self.proc.pid) - cpu) / count}

    def finish(self):
        self.proc.stdin.close()
        self.proc.stdout.read()
        return reap(self.proc)


class BareRuntime:
    def __init__(self, cmd):
        self.proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.ready = figures(self.proc.stdout.readline().decode())

    def burst(self, count):
        cpu = cpu_ms(self.proc.pid)
        self.proc.stdin.write(f"{count}\n".encode())
        self.proc.stdin.flush()
        f = figures(self.proc.stdout.readline().decode())
        f["cpu"] = (cpu_ms(self.proc.pid) - cpu) / count
        return f["burst_ms"] / count, f

    def finish(self):
        self.proc.stdin.close()
        self.proc.stdout.read()
        return reap(self.proc)


def timed_exit(cmd):
    """Process start to exit with empty standard input, in ms."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    reap(proc)
    return (time.perf_counter() - start) * 1000


def allocations_per_frame(cmd, frame, preload, work):
    """{library: allocations per frame} over frames 6 to 25."""
    counts = []
    for frames in (5, 25):
        out = os.path.join(work, f"allocs_{frames}.txt")
        env = dict(os.environ, LD_PRELOAD=preload, GLINTBOX_ALLOC_COUNT_FILE=out)
        subprocess.run(cmd, input=frame * frames, stdout=subprocess.DEVNULL, env=env, check=True)
        with open(out) as f:
            counts.append({os.path.basename(lib): int(n) for n, lib in (l.split(" ", 1) for l in f.read().splitlines())})
    return {lib: (counts[1].get(lib, 0) - counts[0].get(lib, 0)) / 20 for lib in counts[1]}


def main():
    args = parse_args()
    bins = [b.split("=", 1) for b in args.bin] or [["glintbox", os.path.join(args.build, "src", "glintbox")]]
    bare = os.path.join(args.build, "bench", "glintbox_bare_runtime")
    reader = os.path.join(args.build, "bench", "glintbox_pipe_reader")
    work = args.work or os.path.join(args.build, "bench", "work")
    os.makedirs(work, exist_ok=True)
    sizes = [tuple(int(v) for v in s.split("x")) for s in args.sizes.split(",")]

    res = {}  # (size, key) -> values over rounds

    def add(size, key, value):
        res.setdefault((size, key), []).append(value)

    for size in sizes:
        w, h = size
        path, data = make_frame(args.photo, w, h, work)
        gb_cmd = lambda exe: [exe, "--model", args.model, "--width", str(w), "--height", str(h)]
        spin = ["no-spin"] if args.bare_no_spin else []
        kids = [("a", BareRuntime([bare, "serve", args.model, str(w), str(h), path] + spin))]
        kids += [(f"b {name}", LineAnswerer(gb_cmd(exe), data)) for name, exe in bins]
        kids += [("pipe", LineAnswerer([reader, str(w), str(h)], data)),
                 ("pipe enlarged", LineAnswerer([reader, str(w), str(h), "--enlarge"], data))]
        for _, kid in kids:  # warm-up, not counted
            kid.burst(args.burst)
        for r in range(args.rounds):
            k = r % len(kids)
            for key, kid in kids[k:] + kids[:k]:
                per_frame, extra = kid.burst(args.burst)
                add(size, key, per_frame)
                add(size, f"cpu {key}", extra["cpu"])
                if "check_us" in extra:
                    add(size, "check", extra["check_us"])
        for key, kid in kids:
            add(size, f"rss {key}", kid.finish())
        print(f"{w}x{h}: {args.rounds} rounds of bursts done", file=sys.stderr, flush=True)

        starters = [("start bare", [bare, "startup", args.model] + spin)]
        starters += [(f"start {name}", gb_cmd(exe)) for name, exe in bins]
        for r in range(args.startups):
            k = r % len(starters)
            for key, cmd in starters[k:] + starters[:k]:
                add(size, key, timed_exit(cmd))
        print(f"{w}x{h}: start-ups done", file=sys.stderr, flush=True)

    preload = os.path.join(args.build, "bench", "libglintbox_alloc_count.so")
    os.makedirs(os.path.join(work, "crowd"), exist_ok=True)
    _, crowd = make_frame(args.crowd_photo, 640, 480, os.path.join(work, "crowd"))
    allocs = {name: allocations_per_frame([exe, "--model", args.model, "--width", "640", "--height", "480"],
                                          crowd, preload, work) for name, exe in bins}

    med = lambda size, key: statistics.median(res[(size, key)])
    ratio = lambda size, num, den: statistics.median(
        n / d for n, d in zip(res[(size, num)], res[(size, den)]))

    print(f"model {os.path.basename(args.model)}; {args.rounds} rounds x {args.burst}-frame "
          f"bursts per size; medians; ms per frame")
    head = f"{'frame':<9} {'a bare':>7} {'pipe':>6} {'pipe big':>8}"
    for name, _ in bins:
        head += f" | {('b ' + name):>14} {'b/a':>6}"
    print(head)
    for size in sizes:
        line = (f"{size[0]}x{size[1]:<5} {med(size, 'a'):>7.3f} {med(size, 'pipe'):>6.3f}"
                f" {med(size, 'pipe enlarged'):>8.3f}")
        for name, _ in bins:
            line += f" | {med(size, f'b {name}'):>14.3f} {ratio(size, f'b {name}', 'a'):>6.3f}"
        print(line)
    print()
    print("CPU time per frame, all threads of the process (ms)")
    head = f"{'frame':<9} {'a bare':>7} {'pipe':>6} {'pipe big':>8}"
    for name, _ in bins:
        head += f" | {('b ' + name):>14} {'b-a':>6}"
    print(head)
    for size in sizes:
        line = (f"{size[0]}x{size[1]:<5} {med(size, 'cpu a'):>7.3f} {med(size, 'cpu pipe'):>6.3f}"
                f" {med(size, 'cpu pipe enlarged'):>8.3f}")
        for name, _ in bins:
            line += (f" | {med(size, f'cpu b {name}'):>14.3f}"
                     f" {med(size, f'cpu b {name}') - med(size, 'cpu a'):>6.3f}")
        print(line)
    print("the nine outputs' type and size check, per frame (us): " +
          ", ".join(f"{w}x{h} {med((w, h), 'check'):.1f}" for w, h in sizes))
    print()
    print(f"start-up: process start to exit with empty input ({args.startups} each, alternating), ms;"
          " peak RSS, MiB")
    head = f"{'frame':<9} {'bare':>6} {'RSS':>6}"
    for name, _ in bins:
        head += f" | {('start ' + name):>16} {'ratio':>6} {'RSS':>6}"
    print(head)
    for size in sizes:
        line = f"{size[0]}x{size[1]:<5} {med(size, 'start bare'):>6.1f} {med(size, 'rss a'):>6.1f}"
        for name, _ in bins:
            line += (f" | {med(size, f'start {name}'):>16.1f}"
                     f" {ratio(size, f'start {name}', 'start bare'):>6.3f}"
                     f" {med(size, f'rss b {name}'):>6.1f}")
        print(line)
    print()
    print("allocations per frame (crowd photo at 640x480, frames 6-25), by calling library")
    for name, _ in bins:
        print(f"  {name}: " + ", ".join(f"{lib} {n:g}" for lib, n in sorted(allocs[name].items()) if lib != "?"))


if __name__ == "__main__":
    main()
