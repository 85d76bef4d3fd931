#!/usr/bin/python3
"""Writes tiny ONNX models used by glintbox's tests.

Usage: /usr/bin/python3 tests/models/make_test_models.py OUTPUT_DIR

All models use opset 11 and IR version 7 so that ONNX Runtime 1.23 loads them.

Heads read by glintbox, for each stride s in (8, 16, 32), with R = H/s and
C = W/s anchors, anchor index i = r*C + c (row-major):
  cls_s, obj_s: shape [1, R*C, 1]
  bbox_s:       shape [1, R*C, 4], the 4 values of one anchor contiguous

crafted.onnx (also fixed_height_free_width, missing_output, uint8_input,
int_outputs): the input x (values are bytes 0..255 in BGR plane order) is
sampled at the anchor grid points, i.e. for anchor (r, c) of stride s let
  b0 = x[0, 0, r*s, c*s]   b1 = x[0, 1, r*s, c*s]   b2 = x[0, 2, r*s, c*s]
Then
  cls_s[i]  = b0 / 255
  obj_s[i]  = b1 / 255
  bbox_s[i] = (b2/255, b2/255, b0/255 - 0.5, b1/255 - 0.5)

nan_outputs.onnx: same sampling, but
  cls_s[i]  = (b0/255) / (b0/255)   -> NaN where b0 == 0, else 1
  obj_s[i]  = (b1/255) / (b1/255)   -> NaN where b1 == 0, else 1
  bbox_s[i] = (log(b2/255), log(b2/255), log(b0/255), log(b1/255))
              -> -inf where the byte is 0, 0 where it is 255

one_channel_input.onnx: input [1,1,H,W]; like crafted with b0 = b1 = b2 = the
single plane.
"""
import os
import sys

import onnx
from onnx import TensorProto, helper, numpy_helper
import numpy as np

STRIDES = (8, 16, 32)
HEADS = [f"{k}_{s}" for k in ("cls", "obj", "bbox") for s in STRIDES]


class Graph:
    """Collects nodes and initializers; hands out unique tensor names."""

    def __init__(self):
        self.nodes, self.inits, self.n = [], [], 0

    def name(self, hint):
        self.n += 1
        return f"{hint}_{self.n}"

    def const(self, hint, values, dtype):
        name = self.name(hint)
        self.inits.append(numpy_helper.from_array(np.array(values, dtype=dtype), name))
        return name

    def op(self, op_type, inputs, out=None, **attrs):
        out = out or self.name(op_type.lower())
        self.nodes.append(helper.make_node(op_type, inputs, [out], **attrs))
        return out


def float_input(g, x, dtype):
    # uint8_input feeds the same graph after a Cast, so the outputs match crafted.
    return g.op("Cast", [x], to=TensorProto.FLOAT) if dtype != TensorProto.FLOAT else x


def heads(g, x, channels, mode="crafted", want=HEADS, out_types=None):
    """Adds the nine (or fewer) heads computed from the NCHW float input x."""
    out_types = out_types or {}
    scaled = g.op("Div", [x, g.const("c255", 255.0, np.float32)])
    big = 1 << 30  # "to the end" for Slice; ORT clamps it
    for s in STRIDES:
        # Pick rows/cols 0, s, 2s, ... -> [1, channels, R, C].
        grid = g.op("Slice", [scaled,
                              g.const("starts", [0, 0], np.int64),
                              g.const("ends", [big, big], np.int64),
                              g.const("axes", [2, 3], np.int64),
                              g.const("steps", [s, s], np.int64)])
        if channels == 1:
            p0 = p1 = p2 = grid
        else:
            p0, p1, p2 = (g.name("plane") for _ in range(3))
            g.nodes.append(helper.make_node("Split", [grid], [p0, p1, p2], axis=1,
                                            split=[1, 1, 1]))
        if mode == "nan":
            # 0/0 = NaN and log(0) = -inf wherever the sampled byte is 0.
            cls = g.op("Div", [p0, p0])
            obj = g.op("Div", [p1, p1])
            box = [g.op("Log", [p]) for p in (p2, p2, p0, p1)]
        else:
            cls, obj = p0, p1
            half = g.const("half", 0.5, np.float32)
            box = [p2, p2, g.op("Sub", [p0, half]), g.op("Sub", [p1, half])]

        col = g.const("shape_col", [1, -1, 1], np.int64)
        for kind, plane in (("cls", cls), ("obj", obj)):
            name = f"{kind}_{s}"
            if name in want:
                finish(g, g.op("Reshape", [plane, col]), name, out_types)
        if f"bbox_{s}" in want:
            # [1,4,R,C] -> [1,4,R*C] -> [1,R*C,4] so one anchor's 4 values are adjacent.
            cat = g.op("Concat", box, axis=1)
            flat = g.op("Reshape", [cat, g.const("shape_4n", [1, 4, -1], np.int64)])
            finish(g, g.op("Transpose", [flat], perm=[0, 2, 1]), f"bbox_{s}", out_types)


def finish(g, t, name, out_types):
    if name in out_types:
        g.op("Cast", [t], out=name, to=out_types[name])
    else:
        g.op("Identity", [t], out=name)


def head_shape(name):
    s = name.split("_")[1]
    return [1, f"N{s}", 4 if name.startswith("bbox") else 1]


def save(g, path, input_info, outputs):
    graph = helper.make_graph(g.nodes, "glintbox_test", [input_info], outputs, g.inits)
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 11)],
                              ir_version=7, producer_name="make_test_models")
    onnx.checker.check_model(model)
    onnx.save(model, path)


def head_outputs(want=HEADS, out_types=None, shape=head_shape):
    out_types = out_types or {}
    return [helper.make_tensor_value_info(n, out_types.get(n, TensorProto.FLOAT), shape(n))
            for n in want]


def make_like_crafted(path, shape, dtype=TensorProto.FLOAT, mode="crafted",
                      want=HEADS, out_types=None):
    g = Graph()
    heads(g, float_input(g, "input", dtype), shape[1], mode, want, out_types)
    save(g, path, helper.make_tensor_value_info("input", dtype, shape),
         head_outputs(want, out_types))


def make_tiny_heads(path, shape):
    # Every head is the input mean as a [1,1,1] tensor: valid graph, far too few values.
    g = Graph()
    mean = g.op("ReduceMean", ["input"], axes=list(range(len(shape))), keepdims=1)
    m = g.op("Reshape", [mean, g.const("shape_111", [1, 1, 1], np.int64)])
    for n in HEADS:
        g.op("Identity", [m], out=n)
    save(g, path, helper.make_tensor_value_info("input", TensorProto.FLOAT, shape),
         head_outputs(shape=lambda n: [1, 1, 1]))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_test_models.py OUTPUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)
    free = [1, 3, "H", "W"]

    make_like_crafted(p("crafted.onnx"), free)
    make_tiny_heads(p("rank3_input.onnx"), [3, "H", "W"])
    make_like_crafted(p("fixed_height_free_width.onnx"), [1, 3, 64, "W"])
    make_like_crafted(p("missing_output.onnx"), free,
                      want=[n for n in HEADS if n != "bbox_32"])
    make_tiny_heads(p("small_outputs.onnx"), free)
    make_like_crafted(p("uint8_input.onnx"), free, dtype=TensorProto.UINT8)
    make_like_crafted(p("one_channel_input.onnx"), [1, 1, "H", "W"])
    make_like_crafted(p("int_outputs.onnx"), free, out_types={"cls_8": TensorProto.INT64})
    make_like_crafted(p("nan_outputs.onnx"), free, mode="nan")
    # Fixed inputs too large to allocate (12 TB) and too large to even count.
    make_tiny_heads(p("huge_fixed_input.onnx"), [1, 3, 1000000, 1000000])
    make_tiny_heads(p("overflowing_fixed_input.onnx"), [1, 3, 2**40, 2**40])


if __name__ == "__main__":
    main()
