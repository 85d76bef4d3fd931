"""The frame stream: how stdin is cut into frames and how each is answered."""
import unittest

import harness

W, H = 64, 48
FRAME = W * H * 3


def frames(n):
    """n frames (n may be fractional) of varied content, as one byte string."""
    total = int(n * FRAME)
    return bytes((i * 7 + i // FRAME) % 256 for i in range(total))


class FrameStreamTest(unittest.TestCase):
    def setUp(self):
        self.args = harness.model_args(harness.real_model(), W, H)

    def assert_frames(self, result, count):
        """A clean run that answered exactly frames 0 .. count-1, in order."""
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        lines = harness.parse_lines(result.stdout)
        self.assertEqual([line["frame"] for line in lines], list(range(count)))
        return lines

    def test_byte_counts(self):
        # (bytes on stdin, complete frames): a partial last frame is dropped silently.
        cases = [
            (0, 0),
            (1, 0),
            (FRAME - 1, 0),
            (FRAME, 1),
            (FRAME + 1, 1),
            (int(2.5 * FRAME), 2),
            (3 * FRAME, 3),
        ]
        for size, count in cases:
            with self.subTest(bytes=size):
                self.assert_frames(harness.run(self.args, frames(size / FRAME)), count)

    def test_frame_written_in_pieces(self):
        # (chunk size, delay): the frame is assembled from as many reads as it takes.
        for chunk, delay in [(1, None), (1000, 0.001), (FRAME - 1, 0.01)]:
            with self.subTest(chunk=chunk, delay=delay):
                result = harness.run(self.args, frames(1), chunk=chunk, delay=delay)
                self.assert_frames(result, 1)

    def test_pieces_give_the_same_answer_as_one_write(self):
        data = frames(2)
        whole = harness.run(self.args, data)
        pieces = harness.run(self.args, data, chunk=977)
        self.assert_frames(whole, 2)
        self.assertEqual(pieces.stdout, whole.stdout)

    def test_frame_numbers_are_plain_decimal(self):
        result = harness.run(self.args, frames(12))
        self.assert_frames(result, 12)
        self.assertIn(b'{"frame":10,', result.stdout)
        self.assertIn(b'{"frame":11,', result.stdout)

    def test_each_frame_is_answered_before_the_next_is_sent(self):
        # The producer waits for every answer before writing on: each line must be
        # written and flushed as soon as its frame is complete.
        with harness.Interactive(self.args) as proc:
            for n in range(3):
                proc.send(frames(1))
                line = proc.read_line()
                self.assertIsNotNone(line, "stdout ended early")
                self.assertEqual(harness.parse_lines(line)[0]["frame"], n)
            proc.send(frames(0.5))  # an incomplete frame: no answer
            result = proc.finish()
        self.assertEqual((result.status, result.stdout, result.stderr), (0, b"", b""))

    def test_wrong_frame_size_is_not_detected(self):
        # Two 64x48 frames read as 32x48 frames are simply four frames.
        args = harness.model_args(harness.real_model(), W // 2, H)
        self.assert_frames(harness.run(args, frames(2)), 4)

    def test_frame_too_big_to_allocate(self):
        for width, height in [(2147483647, 2147483647), (100000, 100000)]:
            with self.subTest(width=width, height=height):
                args = harness.model_args(harness.real_model(), width, height)
                result = harness.run(args, frames(1))
                self.assertEqual(result.stderr, b"glintbox: out of memory\n")
                self.assertEqual(result.status, 2)
                self.assertEqual(result.stdout, b"")


if __name__ == "__main__":
    unittest.main()
