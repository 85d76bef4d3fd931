"""Real photos through the real default model.

The photos are decoded at their own size with ffmpeg (BGR bytes, as the
model expects). The expectations are loose and come from the labels in
images/pascal/faces.txt or from looking at the photos, never from a pasted
result line: the labels run eyebrows to mouth, tighter than the model's boxes.
"""
import os
import unittest
from collections import defaultdict

import harness

# A labelled face is found when a detected box contains the label's centre and
# overlaps it at least this much (the matches seen run from 0.49 to 0.84).
MIN_LABEL_IOU = 0.25
# Some background faces are not labelled (a face printed on a clock in
# 2008_004176.jpg is found); allow this many unlabelled detections per photo.
MAX_UNLABELLED = 1


def pascal_labels():
    """{image name: [(left, top, width, height) in pixels]} from faces.txt."""
    labels = defaultdict(list)
    with open(harness.shared_path("images", "pascal", "faces.txt")) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, *box = line.split()
            labels[name].append(tuple(int(v) for v in box))
    return dict(labels)


def detect(width, height, frame, *extra):
    """Runs one frame through the default model; returns its faces."""
    result = harness.run(harness.model_args(harness.real_model(), width, height, *extra), frame)
    if result.status != 0 or result.stderr:
        raise AssertionError(f"glintbox failed: {result.status} {result.stderr!r}")
    lines = harness.parse_lines(result.stdout)
    if [line["frame"] for line in lines] != [0]:
        raise AssertionError(f"expected one line for frame 0: {result.stdout!r}")
    return lines[0]["faces"]


def centre_inside(label, face):
    cx, cy = label[0] + label[2] / 2, label[1] + label[3] / 2
    return (face["x"] <= cx <= face["x"] + face["w"]) and (face["y"] <= cy <= face["y"] + face["h"])


def match_labels(labels, faces):
    """Greedy one-to-one matching, best overlap first.

    labels are (x, y, w, h) fractions. Returns (labels not found, faces not used).
    """
    pairs = sorted(((harness.iou(l, harness.face_box(f)), li, fi)
                    for li, l in enumerate(labels) for fi, f in enumerate(faces)
                    if centre_inside(l, f)), reverse=True)
    used_l, used_f = set(), set()
    for ratio, li, fi in pairs:
        if ratio >= MIN_LABEL_IOU and li not in used_l and fi not in used_f:
            used_l.add(li)
            used_f.add(fi)
    missed = [l for i, l in enumerate(labels) if i not in used_l]
    extra = [f for i, f in enumerate(faces) if i not in used_f]
    return missed, extra


class DetectionCase(unittest.TestCase):
    def assert_well_formed(self, faces, nms=0.3):
        """Properties every answer has: the cap, the order, boxes on the frame, no overlaps."""
        self.assertLessEqual(len(faces), 32)
        scores = [f["score"] for f in faces]
        self.assertEqual(scores, sorted(scores, reverse=True), "scores must not increase")
        for f in faces:
            self.assertTrue(0 < f["score"] <= 1, f)
            self.assertGreater(f["w"], 0, f)
            self.assertGreater(f["h"], 0, f)
            for lo, size in ((f["x"], f["w"]), (f["y"], f["h"])):
                self.assertGreaterEqual(lo, -0.05, f)
                self.assertLessEqual(lo + size, 1.05, f)
        # After suppression no two written boxes overlap beyond the threshold
        # (a little slack for the four printed decimals).
        for i, a in enumerate(faces):
            for b in faces[i + 1:]:
                self.assertLessEqual(harness.iou(harness.face_box(a), harness.face_box(b)),
                                     nms + 0.01, (a, b))


class PascalTest(DetectionCase):
    def test_labelled_faces_are_found(self):
        labels = pascal_labels()
        self.assertEqual(sum(len(v) for v in labels.values()), 43)
        for name, boxes in sorted(labels.items()):
            with self.subTest(name):
                w, h, frame = harness.decode_image(harness.shared_path("images", "pascal", name))
                faces = detect(w, h, frame)
                self.assert_well_formed(faces)
                fractions = [(x / w, y / h, bw / w, bh / h) for x, y, bw, bh in boxes]
                missed, extra = match_labels(fractions, faces)
                self.assertEqual(missed, [], f"labelled faces not found; faces: {faces}")
                self.assertLessEqual(len(extra), MAX_UNLABELLED, f"unlabelled detections: {extra}")

    def test_mosaic_of_all_labelled_photos_hits_the_cap(self):
        # The nine photos in a 3x3 mosaic of 500x500 cells hold 43 labelled faces,
        # more than the 32 a line can carry: exactly 32 are written, the best first,
        # and each is one of the labelled faces.
        labels = pascal_labels()
        cell, side = 500, 1500
        frame = bytearray(side * side * 3)
        boxes = []
        for k, name in enumerate(sorted(labels)):
            w, h, data = harness.decode_image(harness.shared_path("images", "pascal", name))
            self.assertTrue(w <= cell and h <= cell, name)
            ox, oy = (k % 3) * cell, (k // 3) * cell
            for y in range(h):
                p = ((oy + y) * side + ox) * 3
                frame[p:p + w * 3] = data[y * w * 3:(y + 1) * w * 3]
            boxes += [((x + ox) / side, (y + oy) / side, bw / side, bh / side)
                      for x, y, bw, bh in labels[name]]
        faces = detect(side, side, bytes(frame))
        self.assertEqual(len(faces), 32)
        self.assert_well_formed(faces)
        _, extra = match_labels(boxes, faces)
        self.assertLessEqual(len(extra), MAX_UNLABELLED, f"unlabelled detections: {extra}")


class PhotoTest(DetectionCase):
    def photo(self, name):
        return harness.decode_image(harness.shared_path("images", name))

    def test_dogs_are_not_confident_faces(self):
        # At the default threshold 0.6 the model reports two dog faces (scores about
        # 0.77 and 0.65; checked against an independent evaluation of the model),
        # far below the 0.86 and more of every labelled human face above.
        w, h, frame = self.photo("no_faces_dogs.jpg")
        faces = detect(w, h, frame)
        self.assert_well_formed(faces)
        self.assertLessEqual(len(faces), 2, faces)
        self.assertEqual(detect(w, h, frame, "--score", "0.85"), [])

    def test_crowd(self):
        # A collage of about 24 clearly visible faces: far more than a few found,
        # never more than 32, best first, no overlaps left.
        w, h, frame = self.photo("group_large.jpg")
        faces = detect(w, h, frame)
        self.assert_well_formed(faces)
        self.assertGreaterEqual(len(faces), 20)
        # A low threshold adds weaker faces after the same strong ones (at 0.3 about 241
        # anchors pass, still under the 256-candidate capacity, so none is lost).
        low = detect(w, h, frame, "--score", "0.3")
        self.assert_well_formed(low)
        self.assertGreaterEqual(len(low), len(faces))
        self.assertEqual(low[:len(faces)], faces)

    def test_messi(self):
        w, h, frame = self.photo("messi5.jpg")
        faces = detect(w, h, frame)
        self.assertGreaterEqual(len(faces), 1)
        self.assert_well_formed(faces)

    def test_posed_group(self):
        # Three people; their face centres, read off the photo by eye (fractions).
        centres = [(0.27, 0.37), (0.48, 0.41), (0.82, 0.25)]
        w, h, frame = self.photo("group_1920x1280.jpg")
        faces = detect(w, h, frame)
        self.assert_well_formed(faces)
        self.assertEqual(len(faces), 3, faces)
        for cx, cy in centres:
            inside = [f for f in faces if centre_inside((cx, cy, 0, 0), f)]
            self.assertEqual(len(inside), 1, (cx, cy, faces))


class VideoTest(DetectionCase):
    def test_video_frames(self):
        # 35 frames of one man partly hidden by smoke, streamed in one run.
        w, h, data = harness.decode_video(harness.shared_path("video", "face_480x272.gif"))
        frame_bytes = w * h * 3
        count = len(data) // frame_bytes
        self.assertEqual(count, 35)
        result = harness.run(harness.model_args(harness.real_model(), w, h), data, chunk=65536)
        self.assertEqual((result.status, result.stderr), (0, b""))
        lines = harness.parse_lines(result.stdout)
        self.assertEqual([line["frame"] for line in lines], list(range(count)))
        with_face = 0
        for line in lines:
            self.assert_well_formed(line["faces"])
            if line["faces"]:
                best = line["faces"][0]
                cx, cy = best["x"] + best["w"] / 2, best["y"] + best["h"] / 2
                if 0.2 < cx < 0.8 and 0.1 < cy < 0.7:  # the face sits in the middle
                    with_face += 1
        self.assertGreaterEqual(with_face, 32)
        # A frame gets the same answer alone as inside the stream: nothing of one
        # frame carries over to the next.
        for n in (0, 17, 34):
            with self.subTest(frame=n):
                alone = detect(w, h, data[n * frame_bytes:(n + 1) * frame_bytes])
                self.assertEqual(alone, lines[n]["faces"])


if __name__ == "__main__":
    unittest.main()
