"""The cross-built glintbox.exe (scripts/cross-windows.sh) under Debian's wine:
the Windows branches of the platform layer (binary standard input, the UTF-16
model path and its 4096-character limit) on real frames and real errors.

Skipped unless GLINTBOX_WINDOWS_EXE names the .exe (scripts/test.sh sets it).
Under wine, lines that are not glintbox's may appear on stderr (wine's own,
and ONNX Runtime's "Failed to create DXGI factory." where there is no GPU
stack); the checks look at the lines that start with "glintbox:".
Env: GLINTBOX_BIN, GLINTBOX_SHARED_DIR, GLINTBOX_TEST_WORK, GLINTBOX_WINDOWS_EXE.
"""
import os
import shutil
import subprocess
import tempfile
import unittest

EXE = os.environ.get("GLINTBOX_WINDOWS_EXE", "")
BIN = os.environ["GLINTBOX_BIN"]
SHARED = os.environ["GLINTBOX_SHARED_DIR"]
WORK = os.environ.get("GLINTBOX_TEST_WORK") or tempfile.gettempdir()
MODEL = os.path.join(SHARED, "models", "face_detection_yunet_2026may.onnx")
USAGE = ("glintbox: usage: glintbox --model <yunet.onnx> --width <px> --height <px> "
         "[--score 0.6] [--nms 0.3]")
TIMEOUT = 300  # wine's first start creates its prefix


def wine_env():
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.join(WORK, "wineprefix")
    env["WINEDEBUG"] = "-all"
    env.pop("DISPLAY", None)
    return env


def run_exe(args, data=b""):
    run = subprocess.run(["wine", EXE] + args, input=data, capture_output=True,
                         env=wine_env(), timeout=TIMEOUT)
    errors = [l.strip() for l in run.stderr.decode(errors="replace").splitlines()
              if l.startswith("glintbox:")]
    return run.returncode, run.stdout, errors


@unittest.skipUnless(EXE and shutil.which("wine"), "no cross-built glintbox.exe or no wine")
class WindowsBuildTest(unittest.TestCase):
    def test_command_line_errors(self):
        cases = [
            ([], USAGE),
            (["--model", MODEL, "--width", "0", "--height", "8"],
             "glintbox: expected a positive whole number for: --width"),
            (["--model", MODEL, "--width", "8", "--height", "8", "--fast", "1"],
             "glintbox: unknown argument: --fast"),
        ]
        for args, line in cases:
            with self.subTest(args=args):
                status, out, errors = run_exe(args)
                self.assertEqual((status, out, errors), (1, b"", [line]))

    def test_model_path_length_limit(self):
        # 4096 wide characters including the terminator: 4095 fit, 4096 do not.
        # A path that fits goes on to the runtime, which cannot open it (status 2).
        for length, status, start in ((4095, 2, "glintbox: loading the model failed: "),
                                      (4096, 1, "glintbox: model path is too long: "),
                                      (5000, 1, "glintbox: model path is too long: ")):
            with self.subTest(length=length):
                path = "C:\\" + "d" * (length - 3)
                got_status, out, errors = run_exe(
                    ["--model", path, "--width", "8", "--height", "8"])
                self.assertEqual((got_status, out, len(errors)), (status, b"", 1))
                self.assertTrue(errors[0].startswith(start), errors[0][:120])
                if status == 1:
                    self.assertEqual(errors[0], start + path)

    def test_real_frames_match_the_linux_build(self):
        # Two frames of a photo: binary standard input must keep every byte
        # (a text-mode stdin would stop at a 0x1A byte or drop carriage returns).
        photo = os.path.join(SHARED, "images", "messi5.jpg")
        frame = subprocess.run(
            ["ffmpeg", "-loglevel", "error", "-i", photo, "-f", "rawvideo", "-pix_fmt", "bgr24",
             "-"], check=True, capture_output=True).stdout
        self.assertIn(b"\x1a", frame)
        self.assertIn(b"\r\n", frame)
        args = ["--model", MODEL, "--width", "548", "--height", "342"]
        want = subprocess.run([BIN] + args, input=frame * 2, check=True,
                              capture_output=True).stdout.decode().splitlines()
        status, out, errors = run_exe(args, frame * 2)
        self.assertEqual((status, errors), (0, []))
        # Standard output is in text mode there: lines end with "\r\n".
        self.assertEqual(out.decode().splitlines(), want)
        self.assertEqual(len(want), 2)
        self.assertIn('"faces":[{', want[0])


if __name__ == "__main__":
    unittest.main()
