"""The client examples and the video demo, end to end against the real binary
and the real default model: each client's results must equal glintbox's own
lines for the same frames, and a failing glintbox must come back as a readable
error carrying its stderr line.

Env: GLINTBOX_BIN, GLINTBOX_SHARED_DIR, GLINTBOX_TEST_WORK, GLINTBOX_CPP_CLIENT.
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(REPO, "examples")
sys.path.insert(0, EXAMPLES)
import python_client  # noqa: E402

BIN = os.environ["GLINTBOX_BIN"]
SHARED = os.environ["GLINTBOX_SHARED_DIR"]
CPP_CLIENT = os.environ["GLINTBOX_CPP_CLIENT"]
WORK = os.environ.get("GLINTBOX_TEST_WORK", tempfile.gettempdir())
MODEL = os.path.join(SHARED, "models", "face_detection_yunet_2026may.onnx")
FIXED_640 = os.path.join(SHARED, "models", "yunet_s_640_640.onnx")
PYTHON = sys.executable
HANG_GUARD = 300  # seconds; only so a stalled pipe fails instead of hanging

MEDIA = [
    ("photo", os.path.join(SHARED, "images", "messi5.jpg")),
    ("crowd", os.path.join(SHARED, "images", "group_1920x1280.jpg")),
    ("video", os.path.join(SHARED, "video", "face_480x272.gif")),
]

# (name, glintbox arguments after the program, frame size, expected status, stderr line pattern)
FAILURES = [
    ("missing model", ["--model", "/nonexistent/yunet.onnx"], (64, 48), 2,
     r"glintbox: loading the model failed: .*yunet\.onnx.*"),
    ("bad score", ["--model", MODEL, "--score", "1.5"], (64, 48), 1,
     r"glintbox: expected a number between 0 and 1 for: --score"),
    ("frame over a fixed input", ["--model", FIXED_640], (700, 480), 1,
     r"glintbox: the frame is larger than the model's fixed input"),
]


def decode(path):
    """(width, height, frames as one bytes object) decoded by ffmpeg."""
    width, height = python_client.media_size(path)
    data = subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr24", "-"],
        check=True, capture_output=True).stdout
    return width, height, data


def glintbox_direct(data, width, height):
    """glintbox's own lines for the frames, parsed: the reference."""
    run = subprocess.run([BIN, "--model", MODEL, "--width", str(width), "--height", str(height)],
                         input=data, capture_output=True, check=True, timeout=HANG_GUARD)
    return [json.loads(line) for line in run.stdout.decode().splitlines()]


def parse_cpp_output(text):
    """The C++ client's printout back into result dicts."""
    results = []
    for line in text.splitlines():
        head = re.fullmatch(r"frame (\d+): (\d+) face\(s\)", line)
        if head:
            results.append({"frame": int(head.group(1)), "faces": [], "count": int(head.group(2))})
            continue
        face = re.match(r"  x=(\S+) y=(\S+) w=(\S+) h=(\S+) score=(\S+)  pixels: ", line)
        if not face:
            raise AssertionError("unexpected client line: " + line)
        results[-1]["faces"].append(dict(zip("x y w h score".split(), map(float, face.groups()))))
    for r in results:
        assert r.pop("count") == len(r["faces"]), r
    return results


def write_frames_file(name, data):
    os.makedirs(WORK, exist_ok=True)
    path = os.path.join(WORK, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def run_cpp(args, frames_path):
    return subprocess.run([CPP_CLIENT, "--glintbox", BIN] + args + [frames_path],
                          capture_output=True, text=True, timeout=HANG_GUARD)


class ResultsMatch:
    def assert_same_results(self, got, want):
        self.assertEqual([r["frame"] for r in got], list(range(len(want))))
        for g, w in zip(got, want):
            self.assertEqual(len(g["faces"]), len(w["faces"]), "frame {}".format(w["frame"]))
            for gf, wf in zip(g["faces"], w["faces"]):
                for key in ("x", "y", "w", "h", "score"):
                    self.assertAlmostEqual(gf[key], wf[key], places=4)


class CppClientTest(unittest.TestCase, ResultsMatch):
    def test_real_frames_give_glintbox_results(self):
        for name, path in MEDIA:
            with self.subTest(name):
                width, height, data = decode(path)
                want = glintbox_direct(data, width, height)
                self.assertTrue(any(r["faces"] for r in want), "the media shows faces")
                frames = write_frames_file("cpp_{}.bgr".format(name), data)
                run = run_cpp(["--model", MODEL, "--width", str(width), "--height",
                               str(height)], frames)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual(run.stderr, "")
                self.assert_same_results(parse_cpp_output(run.stdout), want)

    def test_output_larger_than_a_pipe_does_not_stall(self):
        # 4000 tiny frames answer with ~100 KB of lines: a client that wrote
        # everything before reading would block forever on full pipes.
        count, side = 4000, 32
        data = bytes(count * side * side * 3)
        frames = write_frames_file("cpp_many.bgr", data)
        run = run_cpp(["--model", MODEL, "--width", str(side), "--height", str(side)], frames)
        self.assertEqual(run.returncode, 0, run.stderr)
        heads = [l for l in run.stdout.splitlines() if l.startswith("frame ")]
        self.assertEqual(heads, ["frame {}: 0 face(s)".format(k) for k in range(count)])

    def test_failures_carry_glintbox_line(self):
        for name, args, (width, height), status, line in FAILURES:
            with self.subTest(name):
                frames = write_frames_file("cpp_fail.bgr", bytes(width * height * 3 * 2))
                run = run_cpp(args + ["--width", str(width), "--height", str(height)], frames)
                self.assertEqual(run.returncode, 1)
                self.assertEqual(run.stdout, "")
                self.assertRegex(run.stderr, r"^glintbox_cpp_client: glintbox exited with status "
                                 + str(status) + ": " + line + "\n$")

    def test_missing_program_is_reported(self):
        frames = write_frames_file("cpp_one.bgr", bytes(8 * 8 * 3))
        run = subprocess.run([CPP_CLIENT, "--glintbox", "/nonexistent/glintbox", "--model", MODEL,
                              "--width", "8", "--height", "8", frames],
                             capture_output=True, text=True, timeout=HANG_GUARD)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr, "glintbox_cpp_client: cannot start /nonexistent/glintbox: "
                                     "No such file or directory\n")


class PythonClientTest(unittest.TestCase, ResultsMatch):
    def run_client(self, args):
        return subprocess.run([PYTHON, os.path.join(EXAMPLES, "python_client.py"),
                               "--glintbox", BIN] + args,
                              capture_output=True, text=True, timeout=HANG_GUARD)

    def test_real_media_give_glintbox_results(self):
        for name, path in MEDIA:
            with self.subTest(name):
                width, height, data = decode(path)
                want = glintbox_direct(data, width, height)
                self.assertTrue(any(r["faces"] for r in want), "the media shows faces")
                run = self.run_client(["--model", MODEL, path])
                self.assertEqual(run.returncode, 0, run.stderr)
                got = [json.loads(line) for line in run.stdout.splitlines()]
                self.assert_same_results(got, want)

    def test_output_larger_than_a_pipe_does_not_stall(self):
        # In a child process, so that a stall fails by the guard instead of hanging.
        count, side = 4000, 32
        script = ("import json, sys, python_client as gb\n"
                  "frames = (bytes({s} * {s} * 3) for _ in range({n}))\n"
                  "for r in gb.detect(frames, {s}, {s}, sys.argv[1], sys.argv[2]):\n"
                  "    print(json.dumps(r))\n").format(s=side, n=count)
        run = subprocess.run([PYTHON, "-c", script, MODEL, BIN], cwd=EXAMPLES,
                             capture_output=True, text=True, timeout=HANG_GUARD)
        self.assertEqual(run.returncode, 0, run.stderr)
        got = [json.loads(line) for line in run.stdout.splitlines()]
        self.assertEqual(got, [{"frame": k, "faces": []} for k in range(count)])

    def test_failures_carry_glintbox_line(self):
        for name, args, (width, height), status, line in FAILURES:
            with self.subTest(name):
                model = args[args.index("--model") + 1]
                score = args[args.index("--score") + 1] if "--score" in args else None
                frames = [bytes(width * height * 3)] * 2
                with self.assertRaises(python_client.GlintboxError) as caught:
                    list(python_client.detect(frames, width, height, model, BIN, score=score))
                self.assertEqual(caught.exception.status, status)
                self.assertRegex(caught.exception.line, "^" + line + "$")

    def test_program_reports_failure_with_the_line(self):
        run = self.run_client(["--model", "/nonexistent/yunet.onnx",
                               os.path.join(SHARED, "images", "messi5.jpg")])
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, "")
        self.assertRegex(run.stderr, r"^python_client: glintbox exited with status 2: "
                                     r"glintbox: loading the model failed: .*\n$")


def read_png_bgr(path):
    return subprocess.run(["ffmpeg", "-loglevel", "error", "-i", path, "-f", "rawvideo",
                           "-pix_fmt", "bgr24", "-"], check=True, capture_output=True).stdout


class VideoDemoTest(unittest.TestCase):
    def test_boxes_are_drawn_where_glintbox_found_faces(self):
        video = os.path.join(SHARED, "video", "face_480x272.gif")
        width, height, data = decode(video)
        frame_bytes = width * height * 3
        want = glintbox_direct(data, width, height)
        with tempfile.TemporaryDirectory(dir=WORK if os.path.isdir(WORK) else None) as out:
            run = subprocess.run(
                [PYTHON, os.path.join(EXAMPLES, "video_demo.py"), video, "--glintbox", BIN,
                 "--model", MODEL, "--out", os.path.join(out, "f.png")],
                capture_output=True, text=True, timeout=HANG_GUARD)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertIn("video_demo: frame {0}/{0}".format(len(want)), run.stderr)
            pngs = sorted(os.listdir(out))
            self.assertEqual(pngs, ["f_{:04d}.png".format(k) for k in range(len(want))])
            for k in (0, len(want) // 2, len(want) - 1):
                self.assertTrue(want[k]["faces"], "frame {} has a face".format(k))
                drawn = read_png_bgr(os.path.join(out, pngs[k]))
                original = data[k * frame_bytes:(k + 1) * frame_bytes]
                self.assertEqual(len(drawn), frame_bytes)
                best = want[k]["faces"][0]
                # Mid-point of the best box's top edge: green after, not before.
                x = int(round((best["x"] + best["w"] / 2) * width))
                y = int(round(best["y"] * height)) + 1
                at = (y * width + x) * 3
                b, g, r = drawn[at:at + 3]
                self.assertTrue(g > 200 and b < 60 and r < 60, (k, b, g, r))
                self.assertNotEqual(original[at:at + 3], drawn[at:at + 3])
                # Far from any box the picture is unchanged (PNG is lossless).
                corner = ((height - 2) * width + 1) * 3
                self.assertEqual(original[corner:corner + 3], drawn[corner:corner + 3])


if __name__ == "__main__":
    unittest.main()
