"""glintbox's command line: accepted forms and the exact refusal lines."""
import unittest

import harness

USAGE = (b"glintbox: usage: glintbox --model <yunet.onnx> --width <px> --height <px> "
         b"[--score 0.6] [--nms 0.3]\n")
BAD_WIDTH = b"glintbox: expected a positive whole number for: --width\n"
BAD_HEIGHT = b"glintbox: expected a positive whole number for: --height\n"
BAD_SCORE = b"glintbox: expected a number between 0 and 1 for: --score\n"
BAD_NMS = b"glintbox: expected a number between 0 and 1 for: --nms\n"
ACCEPTED = b""


def unknown(option):
    return b"glintbox: unknown argument: " + option.encode() + b"\n"


class Prefix(bytes):
    """An expected stderr that only has to start with these bytes (then text, one newline)."""


LOAD_FAILED = Prefix(b"glintbox: loading the model failed: ")

REAL = "<real model>"  # replaced by the real default model's path


def full(width="64", height="48", *extra):
    """A complete valid command line, then extra arguments."""
    return ["--model", REAL, "--width", width, "--height", height, *extra]


# (name, args, expected stderr, expected status). Accepted rows (status 0) run
# with empty stdin and must write nothing at all.
CASES = [
    ("no arguments", [], USAGE, 1),
    ("one argument", ["--model"], USAGE, 1),
    ("model alone", ["--model", "m.onnx"], USAGE, 1),
    ("width missing", ["--model", REAL, "--height", "48"], USAGE, 1),
    ("height missing", ["--model", REAL, "--width", "64"], USAGE, 1),
    ("model missing", ["--width", "64", "--height", "48"], USAGE, 1),
    ("unknown first pair", ["x", "y"], unknown("x"), 1),
    ("option is case sensitive", ["--Model", REAL, "--width", "64", "--height", "48"],
     unknown("--Model"), 1),
    ("unknown after valid pairs", full("64", "48", "--size", "3"), unknown("--size"), 1),
    ("no = form", ["--width=64", "x", *full()], unknown("--width=64"), 1),
    ("first bad pair wins (unknown)", ["--bogus", "1", "--width", "abc"], unknown("--bogus"), 1),
    ("first bad pair wins (width)", ["--width", "abc", "--bogus", "1"], BAD_WIDTH, 1),
    # Width values.
    *[(f"width {v!r}", full(v), BAD_WIDTH, 1)
      for v in ["0", "-5", "12px", "0x20", "1e3", "", "640 ", "-0", "abc"]],
    *[(f"width {v!r}", full(v), ACCEPTED, 0) for v in ["+64", "  64", "064"]],
    # Height values.
    *[(f"height {v!r}", full("64", v), BAD_HEIGHT, 1) for v in ["0", "4.8", "", "48 "]],
    ("height '+48'", full("64", "+48"), ACCEPTED, 0),
    # Score threshold.
    *[(f"score {v!r}", full("64", "48", "--score", v), BAD_SCORE, 1)
      for v in ["0", "1", "nan", "inf", "", "-0.5", "1.5", "0.5x", "0.5 ", "1e-50"]],
    *[(f"score {v!r}", full("64", "48", "--score", v), ACCEPTED, 0)
      for v in ["0.999", ".5", "5e-1", "0x1p-1", " 0.25"]],
    ("score given twice, the later bad", full("64", "48", "--score", "0.5", "--score", "2"),
     BAD_SCORE, 1),
    # Overlap threshold.
    *[(f"nms {v!r}", full("64", "48", "--nms", v), BAD_NMS, 1)
      for v in ["0", "1", "-inf", "NAN", "0.3.1"]],
    *[(f"nms {v!r}", full("64", "48", "--nms", v), ACCEPTED, 0) for v in ["0.45", "1e-3"]],
    # Pairing rules.
    ("dangling last option ignored", full("64", "48", "--score"), ACCEPTED, 0),
    ("dangling unknown option ignored", full("64", "48", "--bogus"), ACCEPTED, 0),
    ("later model wins", ["--model", "a", *full()], ACCEPTED, 0),
    ("value may start with dashes", ["--model", "--weird", "--width", "64", "--height", "48"],
     LOAD_FAILED, 2),
    ("later model wins (missing one)", [*full(), "--model", "no/such/model.onnx"],
     LOAD_FAILED, 2),
]


class CommandLineTest(unittest.TestCase):
    def test_command_line_table(self):
        real = harness.real_model()
        for name, args, want_err, want_status in CASES:
            argv = [real if a == REAL else a for a in args]
            with self.subTest(name, args=argv):
                result = harness.run(argv)
                self.assertEqual(result.status, want_status, result.stderr)
                self.assertEqual(result.stdout, b"")
                if isinstance(want_err, Prefix):
                    self.assertTrue(result.stderr.startswith(want_err), result.stderr)
                    self.assertGreater(len(result.stderr), len(want_err) + 1, result.stderr)
                    self.assertTrue(result.stderr.endswith(b"\n"), result.stderr)
                    self.assertEqual(result.stderr.count(b"\n"), 1, result.stderr)
                else:
                    self.assertEqual(result.stderr, want_err)


if __name__ == "__main__":
    unittest.main()
