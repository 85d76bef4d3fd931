"""Bad input of every kind against the real binary: one table, one row per case.

Each row ends glintbox with an exact status and either no stderr (status 0) or
exactly one stderr line, given exactly or, for lines that carry the runtime's
own message, by its exact prefix. Standard output must hold only whole result
lines, one per answered frame, numbered from 0.

Environment: GLINTBOX_BIN, GLINTBOX_SHARED_DIR, GLINTBOX_TEST_MODELS (the
generated tiny models), GLINTBOX_TEST_WORK (a scratch folder).
"""
import json
import math
import os
import random
import subprocess
import time
import unittest

BIN = os.environ["GLINTBOX_BIN"]
SHARED = os.environ["GLINTBOX_SHARED_DIR"]
TEST_MODELS = os.environ["GLINTBOX_TEST_MODELS"]
WORK = os.path.join(os.environ["GLINTBOX_TEST_WORK"], "bad_input")

DEFAULT_MODEL = os.path.join(SHARED, "models", "face_detection_yunet_2026may.onnx")
DYNAMIC_MODEL = os.path.join(SHARED, "models", "yunet_s_dynamic.onnx")
FIXED_320 = os.path.join(SHARED, "models", "yunet_s_320_320.onnx")
PHOTO = os.path.join(SHARED, "images", "messi5.jpg")
PHOTO_W, PHOTO_H = 548, 342

TIMEOUT = 120  # seconds; only a hang comes near it, even under sanitizers
INT32_MAX = "2147483647"

LOAD_FAILED = "glintbox: loading the model failed: "
RUN_FAILED = "glintbox: running YuNet failed: "
OUT_OF_MEMORY = "glintbox: out of memory"
TOO_LARGE = "glintbox: the frame is larger than the model's fixed input"
NOT_IMAGE = "glintbox: the model input is not an NCHW image"
WRITE_FAILED = "glintbox: writing the result line failed: Broken pipe"


def tiny(name):
    return os.path.join(TEST_MODELS, name)


def work(name):
    return os.path.join(WORK, name)


def prepare_work_files():
    """Unusable model files made from nothing or from the real model."""
    os.makedirs(work("a_directory.onnx"), exist_ok=True)
    open(work("empty.onnx"), "wb").close()
    with open(work("random.onnx"), "wb") as f:
        f.write(random.Random(1).randbytes(20000))
    with open(DEFAULT_MODEL, "rb") as f:
        real = f.read()
    with open(work("truncated.onnx"), "wb") as f:
        f.write(real[: len(real) // 2])


def photo_frame():
    return subprocess.run(
        ["ffmpeg", "-loglevel", "error", "-i", PHOTO, "-f", "rawvideo", "-pix_fmt", "bgr24", "-"],
        check=True, capture_output=True).stdout


def patterned_frames(count, width, height):
    """Frames whose bytes vary, so the crafted model finds boxes in them."""
    rng = random.Random(count * 7919 + width)
    return [rng.randbytes(width * height * 3) for _ in range(count)]


def args(model, width, height, *extra):
    return ["--model", model, "--width", str(width), "--height", str(height), *extra]


# name, arguments, stdin, expected status, expected stderr line, exact (False:
# prefix), frames answered. stdin is bytes, or ("bytewise", bytes): one byte
# per write.
def rows(photo):
    crafted = tiny("crafted.onnx")
    two_and_a_half = b"".join(patterned_frames(2, 32, 32)) + b"\x80" * 1536
    one = patterned_frames(1, 32, 32)[0]
    return [
        # The model file.
        ("missing model", args(work("no_such.onnx"), 32, 32), one, 2, LOAD_FAILED, False, 0),
        ("directory as model", args(work("a_directory.onnx"), 32, 32), one, 2, LOAD_FAILED,
         False, 0),
        ("empty model file", args(work("empty.onnx"), 32, 32), one, 2, LOAD_FAILED, False, 0),
        ("random bytes as model", args(work("random.onnx"), 32, 32), one, 2, LOAD_FAILED,
         False, 0),
        ("truncated real model", args(work("truncated.onnx"), 32, 32), one, 2, LOAD_FAILED,
         False, 0),
        ("model path with a line break", args(work("no\nsuch.onnx"), 32, 32), b"", 2,
         LOAD_FAILED, False, 0),
        # Models that load but do not fit.
        ("uint8 input, no frames", args(tiny("uint8_input.onnx"), 32, 32), b"", 0, "", True, 0),
        ("uint8 input fails at the first frame", args(tiny("uint8_input.onnx"), 32, 32), one,
         2, RUN_FAILED, False, 0),
        ("rank-3 input", args(tiny("rank3_input.onnx"), 32, 32), one, 2, NOT_IMAGE, True, 0),
        ("one-channel input", args(tiny("one_channel_input.onnx"), 32, 32), one, 2, RUN_FAILED,
         False, 0),
        ("outputs too small", args(tiny("small_outputs.onnx"), 32, 32), one, 2,
         "glintbox: the model output does not fit the input: cls_8", True, 0),
        ("integer output", args(tiny("int_outputs.onnx"), 32, 32), one, 2,
         "glintbox: the model output does not fit the input: cls_8", True, 0),
        ("missing output", args(tiny("missing_output.onnx"), 32, 32), one, 2, RUN_FAILED,
         False, 0),
        ("NaN and infinite outputs", args(tiny("nan_outputs.onnx"), 64, 32),
         bytes(64 * 32 * 3) + b"".join(patterned_frames(2, 64, 32)), 0, "", True, 3),
        # Sizes.
        ("largest size, free model", args(DEFAULT_MODEL, INT32_MAX, INT32_MAX), b"", 2,
         OUT_OF_MEMORY, True, 0),
        ("largest size, free batch model", args(DYNAMIC_MODEL, INT32_MAX, INT32_MAX), b"", 2,
         OUT_OF_MEMORY, True, 0),
        ("largest size, fixed model", args(FIXED_320, INT32_MAX, INT32_MAX), b"", 1, TOO_LARGE,
         True, 0),
        ("fixed input too large to allocate", args(tiny("huge_fixed_input.onnx"), 32, 32), b"",
         2, OUT_OF_MEMORY, True, 0),
        ("fixed input too large to count", args(tiny("overflowing_fixed_input.onnx"), 32, 32),
         b"", 2, OUT_OF_MEMORY, True, 0),
        ("one column too wide, fixed model", args(FIXED_320, 321, 320), b"", 1, TOO_LARGE, True,
         0),
        ("fixed model, frame of its size", args(FIXED_320, 320, 320),
         b"".join(patterned_frames(1, 320, 320)), 0, "", True, 1),
        # The command line (line breaks never split the diagnostic).
        ("unknown option with a line break", ["--mo\ndel", "m", "--width", "1"], b"", 1,
         "glintbox: unknown argument: --mo del", True, 0),
        ("zero width", args(crafted, 0, 32), b"", 1,
         "glintbox: expected a positive whole number for: --width", True, 0),
        # The frame stream.
        ("stdin closed at once", args(DEFAULT_MODEL, PHOTO_W, PHOTO_H), b"", 0, "", True, 0),
        ("stdin ends inside a frame", args(crafted, 32, 32), two_and_a_half, 0, "", True, 2),
        ("real photo, partial second frame", args(DEFAULT_MODEL, PHOTO_W, PHOTO_H),
         photo + photo[:1000], 0, "", True, 1),
        ("frames one byte at a time", args(crafted, 32, 32),
         ("bytewise", b"".join(patterned_frames(2, 32, 32))), 0, "", True, 2),
    ]


def run(argv, stdin):
    proc = subprocess.Popen([BIN, *argv], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    if isinstance(stdin, tuple):
        # One byte per write; glintbox may quit early, so a broken pipe is fine.
        try:
            for k in range(len(stdin[1])):
                proc.stdin.write(stdin[1][k:k + 1])
                proc.stdin.flush()
        except BrokenPipeError:
            pass
        stdin = None
    try:
        out, err = proc.communicate(stdin, timeout=TIMEOUT)
    except BrokenPipeError:
        out, err = proc.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise AssertionError(f"glintbox hung: {argv}")
    return proc.returncode, out, err


class BadInputTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        prepare_work_files()
        cls.photo = photo_frame()
        assert len(cls.photo) == PHOTO_W * PHOTO_H * 3

    def check_lines(self, out, answered):
        """Only whole lines, one valid result line per answered frame, in order."""
        text = out.decode()
        self.assertTrue(text == "" or text.endswith("\n"), "partial line on stdout")
        lines = text.splitlines()
        self.assertEqual(len(lines), answered, text)
        for n, line in enumerate(lines):
            result = json.loads(line)
            self.assertEqual(result["frame"], n)
            self.assertLessEqual(len(result["faces"]), 32)
            for face in result["faces"]:
                self.assertEqual(sorted(face), ["h", "score", "w", "x", "y"])
                self.assertTrue(all(math.isfinite(v) for v in face.values()), line)
        return lines

    def check_stderr(self, err, expected, exact):
        text = err.decode()
        if not expected:
            self.assertEqual(text, "")
            return
        self.assertTrue(text.endswith("\n"), repr(text))
        self.assertEqual(text.count("\n"), 1, f"more than one stderr line: {text!r}")
        if exact:
            self.assertEqual(text, expected + "\n")
        else:
            self.assertTrue(text.startswith(expected), repr(text))
            self.assertGreater(len(text), len(expected) + 1, "the runtime's message is empty")

    def test_table(self):
        for name, argv, stdin, status, expected, exact, answered in rows(self.photo):
            with self.subTest(name):
                code, out, err = run(argv, stdin)
                self.assertEqual(code, status, err.decode(errors="replace"))
                self.check_stderr(err, expected, exact)
                self.check_lines(out, answered)

    def test_bytewise_frames_get_the_same_lines_as_whole_ones(self):
        frames = b"".join(patterned_frames(2, 32, 32))
        argv = args(tiny("crafted.onnx"), 32, 32)
        whole = run(argv, frames)
        bytewise = run(argv, ("bytewise", frames))
        self.assertEqual(whole, bytewise)
        self.assertIn(b'"x":', whole[1], "the crafted model should find boxes here")

    def test_reader_closing_stdout_before_any_line(self):
        # The reader is gone before the first line: one diagnostic, status 2,
        # instead of a silent death by SIGPIPE.
        proc = subprocess.Popen([BIN, *args(tiny("crafted.onnx"), 32, 32)],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        proc.stdout.close()
        try:
            proc.stdin.write(b"".join(patterned_frames(3, 32, 32)))
            proc.stdin.close()
        except BrokenPipeError:
            pass
        code = proc.wait(timeout=TIMEOUT)
        err = proc.stderr.read()
        proc.stderr.close()
        self.assertEqual(code, 2)
        self.check_stderr(err, WRITE_FAILED, True)

    def test_reader_closing_stdout_while_frames_keep_coming(self):
        # The parent reads one line, stops reading and keeps stdin open:
        # glintbox must end at its next line, not wait for the end of input.
        frames = patterned_frames(2, PHOTO_W, PHOTO_H)
        proc = subprocess.Popen([BIN, *args(DEFAULT_MODEL, PHOTO_W, PHOTO_H)],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            proc.stdin.write(self.photo)
            proc.stdin.flush()
            first = proc.stdout.readline()
            self.check_lines(first, 1)
            proc.stdout.close()
            proc.stdin.write(frames[0])
            proc.stdin.flush()
            deadline = time.monotonic() + TIMEOUT
            while proc.poll() is None and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertIsNotNone(proc.poll(), "glintbox kept running with stdout closed")
        finally:
            if proc.poll() is None:
                proc.kill()
            try:
                proc.stdin.close()
            except BrokenPipeError:
                pass
            proc.wait()
        err = proc.stderr.read()
        proc.stderr.close()
        self.assertEqual(proc.returncode, 2)
        self.check_stderr(err, WRITE_FAILED, True)


if __name__ == "__main__":
    unittest.main()
