"""Installation: `cmake --install` into a temporary prefix gives a glintbox that
runs from any folder without LD_LIBRARY_PATH, also after the prefix is moved;
the man page it installs names every message glintbox can write.

Env: GLINTBOX_BIN, GLINTBOX_SHARED_DIR, GLINTBOX_TEST_WORK, GLINTBOX_BUILD_DIR.
"""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ["GLINTBOX_BIN"]
BUILD = os.environ["GLINTBOX_BUILD_DIR"]
SHARED = os.environ["GLINTBOX_SHARED_DIR"]
WORK = os.environ.get("GLINTBOX_TEST_WORK") or tempfile.gettempdir()
MODEL = os.path.join(SHARED, "models", "face_detection_yunet_2026may.onnx")
PHOTO = os.path.join(SHARED, "images", "messi5.jpg")


def runpath(binary):
    out = subprocess.run(["readelf", "-d", binary], check=True, capture_output=True,
                         text=True).stdout
    found = re.search(r"\((?:RUNPATH|RPATH)\).*\[(.*)\]", out)
    return found.group(1) if found else ""


def clean_env():
    env = dict(os.environ)
    env.pop("LD_LIBRARY_PATH", None)
    return env


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        cls.tmp = tempfile.mkdtemp(prefix="install_", dir=WORK)
        cls.prefix = os.path.join(cls.tmp, "prefix")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix],
                       check=True, capture_output=True)
        cls.frame = subprocess.run(
            ["ffmpeg", "-loglevel", "error", "-i", PHOTO, "-f", "rawvideo", "-pix_fmt", "bgr24",
             "-"], check=True, capture_output=True).stdout
        cls.want = subprocess.run([BIN, "--model", MODEL, "--width", "548", "--height", "342"],
                                  input=cls.frame, check=True, capture_output=True).stdout

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def run_installed(self, prefix):
        elsewhere = tempfile.mkdtemp(dir=self.tmp)  # neither the build nor the prefix
        return subprocess.run(
            [os.path.join(prefix, "bin", "glintbox"), "--model", MODEL, "--width", "548",
             "--height", "342"], input=self.frame, capture_output=True, cwd=elsewhere,
            env=clean_env())

    def test_installed_files(self):
        for rel in ("bin/glintbox", "lib/libonnxruntime.so.1", "share/man/man1/glintbox.1"):
            with self.subTest(rel):
                self.assertTrue(os.path.isfile(os.path.join(self.prefix, rel)))
        self.assertTrue(os.access(os.path.join(self.prefix, "bin", "glintbox"), os.X_OK))

    def test_run_paths(self):
        self.assertEqual(runpath(os.path.join(self.prefix, "bin", "glintbox")), "$ORIGIN/../lib")
        build_path = runpath(BIN)
        self.assertTrue(build_path.startswith("/"), build_path)

    def test_installed_program_runs_from_another_folder(self):
        run = self.run_installed(self.prefix)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stderr, b"")
        self.assertIn(b'"faces":[{', run.stdout)
        self.assertEqual(run.stdout, self.want)

    def test_moved_prefix_still_runs(self):
        moved = os.path.join(self.tmp, "moved")
        shutil.copytree(self.prefix, moved, symlinks=True)
        run = self.run_installed(moved)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, self.want)


def source_strings(path, pattern):
    with open(os.path.join(REPO, path)) as f:
        return re.findall(pattern, f.read())


def man_text():
    with open(os.path.join(REPO, "docs", "glintbox.1")) as f:
        text = f.read()
    # Undo the few roff escapes the page uses, then compare plain text.
    return re.sub(r"\\f[BIR]", "", text).replace("\\-", "-").replace("\\(mu", "x")


class DocumentedMessagesTest(unittest.TestCase):
    def test_every_message_and_step_is_documented(self):
        messages = source_strings("src/diag/diag.h", r'k\w+Text\s*=\s*"([^"]+)"')
        steps = source_strings("src/runtime/runtime.cpp", r'"([A-Za-z][A-Za-z ]+)"\)')
        self.assertGreaterEqual(len(messages), 10)
        self.assertGreaterEqual(len(steps), 10)
        with open(os.path.join(REPO, "README.md")) as f:
            readme = f.read()
        for name, text in (("man page", man_text()), ("README", readme)):
            for item in messages + steps:
                with self.subTest(doc=name, item=item):
                    self.assertIn(item, text)


if __name__ == "__main__":
    unittest.main()
