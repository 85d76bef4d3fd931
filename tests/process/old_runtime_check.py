"""glintbox refuses a runtime library older than its API version with one line
of its own: the library's own complaint is kept off standard error."""
import os
import subprocess
import sys

glintbox, old_runtime_dir = sys.argv[1], sys.argv[2]
env = dict(os.environ, LD_LIBRARY_PATH=old_runtime_dir)
run = subprocess.run([glintbox, "--model", "m.onnx", "--width", "4", "--height", "4"],
                     input=b"", capture_output=True, env=env, timeout=60)
expected = b"glintbox: this onnxruntime library is older than the helper was built for\n"
failures = []
if run.returncode != 2:
    failures.append("status %d, expected 2" % run.returncode)
if run.stderr != expected:
    failures.append("stderr %r, expected %r" % (run.stderr, expected))
if run.stdout != b"":
    failures.append("stdout %r, expected nothing" % run.stdout)
if failures:
    sys.exit("\n".join(failures))
print("1 passed, 0 failed")
