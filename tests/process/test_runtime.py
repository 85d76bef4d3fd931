"""Model loading, input geometry, output checks and decoding, end to end.

Most cases use the tiny generated models of tests/models/make_test_models.py,
whose outputs are simple functions of the input pixels, so the expected
faces can be worked out here independently of glintbox.
"""
import math
import unittest

import harness

STRIDES = (8, 16, 32)
MAX_CANDIDATES = 256
MAX_FACES = 32
TOL = 1e-4  # the line prints four decimals


def blank(width, height):
    return bytearray(width * height * 3)


def put(frame, width, row, col, pixel):
    p = (row * width + col) * 3
    frame[p:p + 3] = bytes(pixel)


def grid_bytes(frame, fw, fh, row, col):
    """The three bytes at a model-input point; zero in the padding."""
    if row >= fh or col >= fw:
        return 0, 0, 0
    p = (row * fw + col) * 3
    return frame[p], frame[p + 1], frame[p + 2]


def crafted_anchor(b0, b1, b2):
    """(cls, obj, d0, d1, d2, d3) of crafted.onnx for the sampled bytes."""
    return (b0 / 255, b1 / 255, b2 / 255, b2 / 255, b0 / 255 - 0.5, b1 / 255 - 0.5)


def nan_anchor(b0, b1, b2):
    """The same for nan_outputs.onnx: 0/0 and log(0) where a byte is 0."""
    nan, ninf = float("nan"), float("-inf")
    ratio = lambda b: nan if b == 0 else 1.0
    log = lambda b: ninf if b == 0 else math.log(b / 255)
    return (ratio(b0), ratio(b1), log(b2), log(b2), log(b0), log(b1))


def clamp01(v):
    if not v > 0:  # below 0, or NaN (a NaN can never reach a threshold)
        return 0.0
    return min(v, 1.0)


def expected_faces(frame, fw, fh, anchor=crafted_anchor, score=0.6, nms=0.3,
                   input_size=None):
    """The faces glintbox should report for one frame, best first.

    Scans every anchor of every stride over the zero-padded model input,
    applies the threshold and the 256-candidate capacity in scan order, sorts
    by score and suppresses overlaps greedily. Boxes that are not finite are
    left out (they cannot be written as JSON numbers). Returns the kept faces
    as (x, y, w, h, score) fractions of the frame, before the 32-face cut.

    Raises ValueError when the data is too close to a threshold, or when two
    equal scores overlap beyond the threshold (the order of equal scores is
    not fixed, so the outcome would be too): such data makes a bad test.
    """
    iw, ih = input_size or (harness.round_up_32(fw), harness.round_up_32(fh))
    cands = []
    for s in STRIDES:
        for r in range(ih // s):
            for c in range(iw // s):
                cls, obj, d0, d1, d2, d3 = anchor(*grid_bytes(frame, fw, fh, r * s, c * s))
                sc = math.sqrt(clamp01(cls) * clamp01(obj))
                if abs(sc - score) < 1e-4:
                    raise ValueError(f"score {sc} too close to the threshold {score}")
                if sc < score or len(cands) >= MAX_CANDIDATES:
                    continue
                with_inf = [c + d0, r + d1, d2, d3]
                if not all(math.isfinite(v) for v in with_inf):
                    continue
                w, h = math.exp(d2) * s, math.exp(d3) * s
                cx, cy = (c + d0) * s, (r + d1) * s
                cands.append((cx - w / 2, cy - h / 2, w, h, sc))
    cands.sort(key=lambda b: -b[4])
    for i, a in enumerate(cands):
        for b in cands[i + 1:]:
            ratio = harness.iou(a[:4], b[:4])
            if abs(ratio - nms) < 1e-4:
                raise ValueError(f"overlap {ratio} too close to the threshold {nms}")
            if abs(a[4] - b[4]) < 1e-6 and ratio > nms:
                raise ValueError(f"equal scores overlap: {a} {b}")
    kept = []
    for b in cands:
        if all(harness.iou(k[:4], b[:4]) <= nms for k in kept):
            kept.append(b)
    return [(x / fw, y / fh, w / fw, h / fh, sc) for x, y, w, h, sc in kept]


class RuntimeCase(unittest.TestCase):
    def assert_failure(self, result, status, stderr=None, prefix=None):
        self.assertEqual(result.status, status, result.stderr)
        self.assertEqual(result.stdout, b"")
        if stderr is not None:
            self.assertEqual(result.stderr, stderr)
        if prefix is not None:
            self.assertTrue(result.stderr.startswith(prefix), result.stderr)
            self.assertTrue(result.stderr.endswith(b"\n"), result.stderr)
            self.assertEqual(result.stderr.count(b"\n"), 1,
                             f"stderr must be exactly one line: {result.stderr!r}")
            self.assertGreater(len(result.stderr), len(prefix) + 1, "no runtime text")

    def answered(self, result, count=1):
        """Asserts a clean run with `count` lines and returns them parsed."""
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        lines = harness.parse_lines(result.stdout)
        self.assertEqual([line["frame"] for line in lines], list(range(count)))
        return lines

    def assert_faces(self, faces, expected):
        """Compares reported faces with expected_faces(), allowing any order of equal scores."""
        want = expected[:MAX_FACES]
        self.assertEqual(len(faces), len(want), faces)
        got_scores = [f["score"] for f in faces]
        for g, w in zip(got_scores, want):
            self.assertAlmostEqual(g, w[4], delta=TOL, msg=faces)
        unused = list(expected)
        for face in faces:
            values = (face["x"], face["y"], face["w"], face["h"], face["score"])
            match = next((e for e in unused
                          if all(abs(a - b) <= TOL for a, b in zip(values, e))), None)
            self.assertIsNotNone(match, f"unexpected face {face}; expected {expected}")
            unused.remove(match)


class ModelGeometryTest(RuntimeCase):
    def test_models_that_fit_the_frame(self):
        # (model, frame width, frame height): one black frame, one answer.
        cases = [
            (harness.real_model(), 640, 480),
            (harness.real_model(), 500, 300),
            (harness.real_model(), 1, 1),
            (harness.real_model("yunet_s_dynamic.onnx"), 640, 480),
            (harness.real_model("yunet_s_dynamic.onnx"), 333, 97),
            (harness.real_model("yunet_s_640_640.onnx"), 640, 480),
            (harness.real_model("yunet_s_640_640.onnx"), 640, 640),
            (harness.real_model("yunet_s_320_320.onnx"), 320, 200),
            (harness.generated_model("fixed_height_free_width.onnx"), 100, 50),
        ]
        for model, w, h in cases:
            with self.subTest(model=model, width=w, height=h):
                lines = self.answered(harness.run(harness.model_args(model, w, h),
                                                  bytes(w * h * 3)))
                self.assertEqual(lines[0]["faces"], [])

    def test_frame_larger_than_fixed_input(self):
        cases = [
            (harness.real_model("yunet_s_320_320.onnx"), 640, 480),
            (harness.real_model("yunet_s_320_320.onnx"), 321, 100),
            (harness.real_model("yunet_s_640_640.onnx"), 100, 641),
            (harness.generated_model("fixed_height_free_width.onnx"), 100, 65),
        ]
        for model, w, h in cases:
            with self.subTest(model=model, width=w, height=h):
                result = harness.run(harness.model_args(model, w, h), bytes(w * h * 3))
                self.assert_failure(
                    result, 1, b"glintbox: the frame is larger than the model's fixed input\n")

    def test_fixed_input_with_a_padded_photo(self):
        # messi5.jpg (548x342) at the top left of a 640x480 frame, fed to the fixed
        # 640x640 model: faces are found, and they lie inside the photo's part.
        w, h, photo = harness.decode_image(harness.shared_path("images", "messi5.jpg"))
        frame = harness.pad_frame(w, h, photo, 640, 480)
        args = harness.model_args(harness.real_model("yunet_s_640_640.onnx"), 640, 480)
        faces = self.answered(harness.run(args, frame + frame), 2)[0]["faces"]
        self.assertGreaterEqual(len(faces), 1)
        for f in faces:
            self.assertLessEqual(f["x"] + f["w"], w / 640 + 0.02, f)
            self.assertLessEqual(f["y"] + f["h"], h / 480 + 0.02, f)


class ModelFailureTest(RuntimeCase):
    def test_unusable_models(self):
        # (name, model, frames fed, status, exact stderr or None, stderr prefix or None).
        # A prefix row also needs non-empty runtime text and exactly one line: the
        # runtime's own text for "empty file" and "one channel input" holds line
        # breaks, which must not split glintbox's single diagnostic line.
        load_failed = b"glintbox: loading the model failed: "
        run_failed = b"glintbox: running YuNet failed: "
        does_not_fit = b"glintbox: the model output does not fit the input: cls_8\n"
        not_an_image = b"glintbox: the model input is not an NCHW image\n"
        garbage = self.write_file("garbage.onnx", b"this is not an ONNX model\n" * 10)
        empty = self.write_file("empty.onnx", b"")
        cases = [
            ("no such file", "/nonexistent/dir/model.onnx", 1, 2, None, load_failed),
            ("not a model", garbage, 1, 2, None, load_failed),
            ("empty file", empty, 1, 2, None, load_failed),
            ("a folder", harness.shared_path("models"), 1, 2, None, load_failed),
            ("rank 3 input", harness.generated_model("rank3_input.onnx"), 1, 2,
             not_an_image, None),
            ("missing output", harness.generated_model("missing_output.onnx"), 2, 2,
             None, run_failed),
            ("uint8 input", harness.generated_model("uint8_input.onnx"), 2, 2,
             None, run_failed),
            ("one channel input", harness.generated_model("one_channel_input.onnx"), 2, 2,
             None, run_failed),
            ("too few output values", harness.generated_model("small_outputs.onnx"), 2, 2,
             does_not_fit, None),
            ("int64 output", harness.generated_model("int_outputs.onnx"), 2, 2,
             does_not_fit, None),
        ]
        w, h = 64, 48
        for name, model, frames, status, stderr, prefix in cases:
            with self.subTest(name):
                result = harness.run(harness.model_args(model, w, h), bytes(w * h * 3 * frames))
                self.assert_failure(result, status, stderr, prefix)

    def test_failing_at_run_needs_a_frame(self):
        # These models load; they fail only once a frame is run, so empty input is fine.
        for name in ["missing_output.onnx", "small_outputs.onnx", "int_outputs.onnx",
                     "uint8_input.onnx"]:
            with self.subTest(name):
                args = harness.model_args(harness.generated_model(name), 64, 48)
                self.assertEqual(harness.run(args), (0, b"", b""))

    def write_file(self, name, data):
        path = harness.work_dir("models") + "/" + name
        with open(path, "wb") as f:
            f.write(data)
        return path


def scenario_frames():
    """(name, width, height, frame bytes, thresholds, faces kept) for crafted.onnx.

    thresholds maps "score"/"nms" to a value given on the command line; the
    others keep their defaults. "faces kept" is the number of faces left after
    suppression (before the 32-face cut), which makes each row's intent plain.
    """
    out = []

    f = blank(96, 64)
    put(f, 96, 8, 16, (255, 255, 128))  # stride 8 only, score 1
    out.append(("one anchor, score 1", 96, 64, f, {}, 1))

    f = blank(96, 64)
    put(f, 96, 8, 16, (255, 255, 128))
    put(f, 96, 40, 72, (204, 204, 64))  # score 0.8
    put(f, 96, 24, 40, (240, 220, 0))  # score 0.901
    out.append(("three separate anchors", 96, 64, f, {}, 3))

    # Same centre (24, 16): the 0.8 box lies inside the 1.0 box (overlap 0.67).
    f = blank(96, 64)
    put(f, 96, 8, 16, (255, 255, 255))
    put(f, 96, 16, 24, (204, 204, 0))
    out.append(("overlap suppressed", 96, 64, f, {}, 1))
    out.append(("overlap kept above --nms", 96, 64, f, {"nms": 0.7}, 2))

    # A chain along row 8: A (1.0) overlaps B (0.95) and B overlaps C (0.907) by
    # about 0.23 each, A and C do not touch. With --nms 0.2 B goes, and C stays
    # because it is compared only with the kept A, never with the dropped B.
    f = blank(96, 64)
    put(f, 96, 8, 8, (255, 255, 0))
    put(f, 96, 8, 16, (255, 230, 0))
    put(f, 96, 8, 24, (255, 210, 0))
    out.append(("chain of overlaps", 96, 64, f, {"nms": 0.2}, 2))

    # (32, 64) lies on all three grids: three boxes, same score, same centre.
    f = blank(96, 64)
    put(f, 96, 32, 64, (204, 204, 0))
    out.append(("one point, three strides", 96, 64, f, {}, 3))

    # score sqrt(100/255) = 0.626: in at the default threshold, out at 0.7.
    f = blank(96, 64)
    put(f, 96, 8, 8, (255, 100, 30))
    put(f, 96, 40, 72, (255, 255, 0))
    out.append(("score threshold default", 96, 64, f, {}, 2))
    out.append(("score threshold 0.7", 96, 64, f, {"score": 0.7}, 1))

    # Distinct bytes per plane: b0 drives cls and the width, b1 obj and the height,
    # b2 the centre; swapped planes would move or reshape the box.
    f = blank(96, 64)
    put(f, 96, 24, 24, (255, 144, 51))
    put(f, 96, 40, 8, (144, 255, 204))
    out.append(("plane order", 96, 64, f, {}, 2))

    # 90 is not a multiple of 4: rows are 270 bytes apart; padding to 96 x 64.
    f = blank(90, 50)
    put(f, 90, 8, 8, (255, 255, 10))
    put(f, 90, 24, 88, (240, 250, 100))
    put(f, 90, 40, 56, (220, 230, 200))
    put(f, 90, 48, 24, (210, 255, 60))
    put(f, 90, 0, 89, (255, 255, 255))  # not a grid point: no effect
    out.append(("odd width 90x50", 90, 50, f, {}, 4))

    # A width of 1001 pixels (rows 3003 bytes apart), height 37 padded to 64;
    # (0, 0) and (32, 992) lie on all three grids.
    f = blank(1001, 37)
    for i, (row, col) in enumerate([(0, 0), (8, 1000), (24, 504), (32, 992)]):
        put(f, 1001, row, col, (255, 250 - 10 * i, 40 * i))
    out.append(("wide odd frame", 1001, 37, f, {}, 8))

    out.append(("all zero", 96, 64, blank(96, 64), {}, 0))

    # Every pixel passes; the first 256 stride-8 anchors (rows 0..6) score 0.70 and
    # every later anchor scores 1.0. The capacity keeps only the first 256.
    f = bytearray()
    for y in range(256):
        f += bytes((255, 125, 255) if y < 64 else (255, 255, 255)) * 320
    out.append(("capacity of 256 candidates", 320, 256, f, {}, 256))

    # 128 well separated faces of distinct scores: only the 32 best are written.
    f = blank(256, 128)
    n = 0
    for r in range(1, 16, 2):
        for c in range(1, 32, 2):
            put(f, 256, r * 8, c * 8, (255, 255 - n, 0))
            n += 1
    out.append(("more than 32 faces", 256, 128, f, {}, 128))
    return out


class CraftedModelTest(RuntimeCase):
    def test_decoding_scenarios(self):
        model = harness.generated_model("crafted.onnx")
        for name, w, h, frame, thresholds, kept in scenario_frames():
            with self.subTest(name):
                want = expected_faces(frame, w, h, score=thresholds.get("score", 0.6),
                                      nms=thresholds.get("nms", 0.3))
                self.assertEqual(len(want), kept, "the scenario data does not do what it says")
                extra = [a for k, v in thresholds.items() for a in (f"--{k}", str(v))]
                result = harness.run(harness.model_args(model, w, h, *extra), bytes(frame))
                self.assert_faces(self.answered(result)[0]["faces"], want)

    def test_exact_line_for_one_face(self):
        # Anchor (1, 2) of stride 8 with bytes (255, 255, 128) in a 96x64 frame:
        # centre ((2 + 128/255) * 8, (1 + 128/255) * 8), side e^0.5 * 8.
        f = blank(96, 64)
        put(f, 96, 8, 16, (255, 255, 128))
        side = math.exp(0.5) * 8
        cx, cy = (2 + 128 / 255) * 8, (1 + 128 / 255) * 8
        want = '{"frame":0,"faces":[{"x":%.4f,"y":%.4f,"w":%.4f,"h":%.4f,"score":1.0000}]}\n' % (
            (cx - side / 2) / 96, (cy - side / 2) / 64, side / 96, side / 64)
        args = harness.model_args(harness.generated_model("crafted.onnx"), 96, 64)
        result = harness.run(args, bytes(f))
        self.answered(result)
        self.assertEqual(result.stdout.decode(), want)

    def test_every_frame_is_packed_afresh(self):
        # A frame with a face, then an empty frame, then the face again: the empty
        # frame must not see anything of the frame before it.
        f = blank(90, 50)
        put(f, 90, 8, 8, (255, 255, 10))
        put(f, 90, 40, 88, (255, 230, 90))
        args = harness.model_args(harness.generated_model("crafted.onnx"), 90, 50)
        lines = self.answered(harness.run(args, bytes(f) + bytes(len(f)) + bytes(f)), 3)
        want = expected_faces(f, 90, 50)
        self.assertEqual(len(want), 2)
        self.assert_faces(lines[0]["faces"], want)
        self.assertEqual(lines[1]["faces"], [])
        self.assert_faces(lines[2]["faces"], want)

    def test_fixed_height_free_width(self):
        # Input [1, 3, 64, W]: 100x50 frames run as 128x64 (stride 8 has 16 columns).
        f = blank(100, 50)
        put(f, 100, 40, 96, (255, 255, 100))
        put(f, 100, 8, 8, (230, 240, 0))
        put(f, 100, 32, 32, (210, 220, 170))
        model = harness.generated_model("fixed_height_free_width.onnx")
        result = harness.run(harness.model_args(model, 100, 50), bytes(f))
        self.assert_faces(self.answered(result)[0]["faces"],
                          expected_faces(f, 100, 50, input_size=(128, 64)))


class NonFiniteOutputTest(RuntimeCase):
    def test_nan_and_infinite_outputs_never_reach_the_line(self):
        # nan_outputs.onnx gives NaN scores where a byte is 0 and -inf box values.
        model = harness.generated_model("nan_outputs.onnx")
        w, h = 64, 64
        combos = [(a, b, c) for a in (0, 255) for b in (0, 255) for c in (0, 255)]
        frames = [
            ("all zero", bytes(w * h * 3)),
            ("all 255", bytes([255]) * (w * h * 3)),
            ("every byte combination", b"".join(
                bytes(combos[(y // 8 * 3 + x // 8) % 8]) for y in range(h) for x in range(w))),
            ("scattered bytes", bytes(255 * ((i * 2654435761) >> 13 & 1)
                                      for i in range(w * h * 3))),
        ]
        for name, frame in frames:
            with self.subTest(name):
                lines = self.answered(harness.run(harness.model_args(model, w, h), frame))
                self.assert_faces(lines[0]["faces"],
                                  expected_faces(frame, w, h, anchor=nan_anchor))
        all_zero = harness.run(harness.model_args(model, w, h), bytes(w * h * 3 * 2))
        self.assertEqual(all_zero.stdout, b'{"frame":0,"faces":[]}\n{"frame":1,"faces":[]}\n')


if __name__ == "__main__":
    unittest.main()
