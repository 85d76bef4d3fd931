"""Shared helpers for glintbox's process tests.

The tests start the real binary with real pipes. Paths come from these
environment variables (ctest sets them, see tests/CMakeLists.txt):

  GLINTBOX_BIN          the glintbox binary
  GLINTBOX_SHARED_DIR   folder with models/, images/ and video/
  GLINTBOX_TEST_MODELS  folder of the tiny generated models
                        (tests/models/make_test_models.py)
  GLINTBOX_TEST_WORK    scratch folder; created when missing

Only the Python standard library is used; ffmpeg and ffprobe decode photos.
"""
import json
import math
import os
import re
import subprocess
import threading
import time
from collections import namedtuple

# A run that takes longer than this has hung; it is killed and the test fails.
RUN_TIMEOUT_SECONDS = 120


def _env_path(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError(f"the environment variable {name} must be set "
                           "(ctest sets it; see tests/CMakeLists.txt)")
    return value


def binary():
    return _env_path("GLINTBOX_BIN")


def shared_path(*parts):
    return os.path.join(_env_path("GLINTBOX_SHARED_DIR"), *parts)


def generated_model(name):
    return os.path.join(_env_path("GLINTBOX_TEST_MODELS"), name)


def real_model(name="face_detection_yunet_2026may.onnx"):
    return shared_path("models", name)


def work_dir(*parts):
    path = os.path.join(_env_path("GLINTBOX_TEST_WORK"), *parts)
    os.makedirs(path, exist_ok=True)
    return path


def model_args(model, width, height, *extra):
    """The usual command line: --model M --width W --height H, then extra."""
    return ["--model", model, "--width", str(width), "--height", str(height), *extra]


# ---------------------------------------------------------------- running

Result = namedtuple("Result", "status stdout stderr")


def _feed(stream, data, chunk, delay):
    try:
        if chunk is None:
            stream.write(data)
            stream.flush()
        else:
            for start in range(0, len(data), chunk):
                stream.write(data[start:start + chunk])
                stream.flush()
                if delay:
                    time.sleep(delay)
    except (BrokenPipeError, ValueError, OSError):
        pass  # the program exited early (for example on a failure)
    finally:
        try:
            stream.close()
        except OSError:
            pass


def _drain(stream, sink):
    sink.append(stream.read())


def run(args, stdin_bytes=b"", chunk=None, delay=None, timeout=RUN_TIMEOUT_SECONDS):
    """Runs glintbox with args through real pipes and returns a Result.

    stdin_bytes is written from a separate thread (in pieces of `chunk` bytes,
    each flushed, with `delay` seconds between pieces when given), then stdin is
    closed. stdout and stderr are collected whole.
    """
    proc = subprocess.Popen([binary(), *args], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out, err = [], []
    threads = [threading.Thread(target=_feed, args=(proc.stdin, stdin_bytes, chunk, delay)),
               threading.Thread(target=_drain, args=(proc.stdout, out)),
               threading.Thread(target=_drain, args=(proc.stderr, err))]
    for t in threads:
        t.daemon = True
        t.start()
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise AssertionError(f"glintbox did not finish within {timeout} s: {args}")
    for t in threads:
        t.join(timeout)
    proc.stdout.close()
    proc.stderr.close()
    return Result(proc.returncode, out[0] if out else b"", err[0] if err else b"")


class Interactive:
    """glintbox driven one frame at a time: write, then wait for the answer.

    Use as a context manager; leaving the block closes stdin and reaps the
    process. read_line() blocks until a whole line arrived (or the timeout
    passes, which means the answer never came).
    """

    def __init__(self, args):
        self.proc = subprocess.Popen([binary(), *args], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._lines = []
        self._cond = threading.Condition()
        self._eof = False
        self._err = []
        self._result = None
        self._reader = threading.Thread(target=self._read_stdout, daemon=True)
        self._reader.start()
        self._err_reader = threading.Thread(target=_drain, args=(self.proc.stderr, self._err),
                                            daemon=True)
        self._err_reader.start()

    def _read_stdout(self):
        for line in iter(self.proc.stdout.readline, b""):
            with self._cond:
                self._lines.append(line)
                self._cond.notify_all()
        with self._cond:
            self._eof = True
            self._cond.notify_all()

    def send(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def read_line(self, timeout=60):
        """The next line of stdout, or None when stdout ended first."""
        with self._cond:
            if not self._cond.wait_for(lambda: self._lines or self._eof, timeout):
                raise AssertionError(f"no answer from glintbox within {timeout} s")
            return self._lines.pop(0) if self._lines else None

    def finish(self, timeout=RUN_TIMEOUT_SECONDS):
        """Closes stdin and returns Result(status, remaining stdout, stderr)."""
        if self._result is not None:
            return self._result
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError(f"glintbox did not finish within {timeout} s")
        finally:
            self._reader.join(timeout)
            self._err_reader.join(timeout)
            self.proc.stdout.close()
            self.proc.stderr.close()
        with self._cond:
            rest = b"".join(self._lines)
            self._lines.clear()
        self._result = Result(self.proc.returncode, rest, self._err[0] if self._err else b"")
        return self._result

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self._result is None:
            if exc[0] is not None and self.proc.poll() is None:
                self.proc.kill()  # the test already failed; do not wait for more output
            self.finish()
        return False


# ---------------------------------------------------------------- images

def _ffprobe_size(path):
    out = subprocess.run(
        ["ffprobe", "-v", "error", "-select_streams", "v:0",
         "-show_entries", "stream=width,height", "-of", "csv=p=0", path],
        check=True, capture_output=True, timeout=RUN_TIMEOUT_SECONDS).stdout
    w, h = out.decode().strip().splitlines()[0].split(",")[:2]
    return int(w), int(h)


def _decode_raw(path, frames=None):
    args = ["ffmpeg", "-nostdin", "-loglevel", "error", "-i", path]
    if frames is not None:
        args += ["-frames:v", str(frames)]
    args += ["-f", "rawvideo", "-pix_fmt", "bgr24", "-"]
    return subprocess.run(args, check=True, capture_output=True,
                          timeout=RUN_TIMEOUT_SECONDS).stdout


def _cached(path, tag, make):
    """Decoded bytes of path, cached in GLINTBOX_TEST_WORK by name, size and time."""
    st = os.stat(path)
    key = f"{os.path.basename(path)}-{st.st_size}-{st.st_mtime_ns}-{tag}.bgr"
    cache = os.path.join(work_dir("decoded"), key)
    try:
        with open(cache, "rb") as f:
            return f.read()
    except FileNotFoundError:
        pass
    data = make()
    tmp = f"{cache}.{os.getpid()}.tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, cache)
    return data


def decode_image(path):
    """(width, height, BGR bytes) of the photo at its own size, first frame only."""
    w, h = _ffprobe_size(path)
    data = _cached(path, "image", lambda: _decode_raw(path, frames=1))
    if len(data) != w * h * 3:
        raise AssertionError(f"{path}: decoded {len(data)} bytes, expected {w}x{h}x3")
    return w, h, data


def decode_video(path):
    """(width, height, BGR bytes of all frames one after another)."""
    w, h = _ffprobe_size(path)
    data = _cached(path, "video", lambda: _decode_raw(path))
    if len(data) == 0 or len(data) % (w * h * 3) != 0:
        raise AssertionError(f"{path}: decoded {len(data)} bytes, not whole {w}x{h} frames")
    return w, h, data


def pad_frame(width, height, data, frame_width, frame_height):
    """Places a width x height image at the top left of a zero frame."""
    assert frame_width >= width and frame_height >= height
    row = width * 3
    pad = bytes((frame_width - width) * 3)
    out = bytearray()
    for y in range(height):
        out += data[y * row:(y + 1) * row]
        out += pad
    out += bytes((frame_height - height) * frame_width * 3)
    return bytes(out)


# ---------------------------------------------------------------- result lines

_NUM = r"-?[0-9]+\.[0-9]{4}"
_FACE = (r'\{"x":%s,"y":%s,"w":%s,"h":%s,"score":%s\}' % ((_NUM,) * 5))
LINE_PATTERN = re.compile(
    r'\{"frame":(?:0|[1-9][0-9]*),"faces":\[(?:%s(?:,%s)*)?\]\}' % (_FACE, _FACE))


def _refuse_constant(name):
    raise ValueError(f"non-finite number in JSON: {name}")


def parse_lines(stdout):
    """Checks the whole stdout and returns the parsed result lines.

    Every line must end in "\\n", match the exact result-line shape (keys in
    order, no spaces, numbers with four decimals) and parse as a JSON object
    with finite numbers only. Raises AssertionError otherwise.
    """
    if isinstance(stdout, str):
        stdout = stdout.encode()
    if stdout and not stdout.endswith(b"\n"):
        raise AssertionError(f"stdout does not end with a newline: {stdout[-80:]!r}")
    parsed = []
    for n, raw in enumerate(stdout.split(b"\n")[:-1]):
        try:
            text = raw.decode("ascii")
        except UnicodeDecodeError:
            raise AssertionError(f"line {n} is not ASCII text: {raw!r}")
        if not LINE_PATTERN.fullmatch(text):
            raise AssertionError(f"line {n} is not a result line: {text!r}")
        try:
            obj = json.loads(text, parse_constant=_refuse_constant)
        except ValueError as e:
            raise AssertionError(f"line {n} is not valid JSON ({e}): {text!r}")
        if not isinstance(obj, dict):
            raise AssertionError(f"line {n} is not a JSON object: {text!r}")
        for face in obj["faces"]:
            if not all(math.isfinite(v) for v in face.values()):
                raise AssertionError(f"line {n} holds a non-finite number: {text!r}")
        parsed.append(obj)
    return parsed


# ---------------------------------------------------------------- geometry

def iou(a, b):
    """Intersection over union of two (x, y, w, h) boxes."""
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    iw = max(0.0, min(ax + aw, bx + bw) - max(ax, bx))
    ih = max(0.0, min(ay + ah, by + bh) - max(ay, by))
    inter = iw * ih
    union = aw * ah + bw * bh - inter
    return inter / union if union > 0 else 0.0


def face_box(face):
    return (face["x"], face["y"], face["w"], face["h"])


def round_up_32(v):
    return (v + 31) // 32 * 32
