// Microbenchmarks of glintbox's own per-frame steps (not run by ctest):
//   build/bench/glintbox_micro_bench [--benchmark_repetitions=5 ...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "detect/detect.h"
#include "frame/pack.h"
#include "output/result_line.h"

namespace {

std::vector<uint8_t> noise_frame(int width, int height) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
  std::mt19937 rng(7);
  for (uint8_t& b : frame) b = static_cast<uint8_t>(rng());
  return frame;
}

// Arguments: frame width, frame height, input width, input height.
void BM_PackFrame(benchmark::State& state) {
  const int fw = static_cast<int>(state.range(0));
  const int fh = static_cast<int>(state.range(1));
  const int64_t iw = state.range(2);
  const int64_t ih = state.range(3);
  const std::vector<uint8_t> frame = noise_frame(fw, fh);
  std::vector<float> tensor(3 * static_cast<size_t>(iw * ih), -1.0f);
  for (auto _ : state) {
    pack_frame(frame.data(), fw, fh, tensor.data(), iw, ih);
    benchmark::DoNotOptimize(tensor.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}
BENCHMARK(BM_PackFrame)
    ->Args({640, 480, 640, 480})
    ->Args({1280, 720, 1280, 736})
    ->Args({640, 480, 640, 640})
    ->Unit(benchmark::kMicrosecond);

// The three strides' outputs of a 640 x 480 input; `passing` anchors, spread
// evenly over the strides up to last_stride, score 0.9, the rest 0.
struct Outputs {
  std::vector<float> cls[kStrideCount], obj[kStrideCount], bbox[kStrideCount];
};
constexpr int64_t kInputHeight = 480;
constexpr int64_t kInputWidth = 640;

Outputs make_outputs(int passing, int last_stride) {
  Outputs out;
  size_t total = 0;
  for (int s = 0; s <= last_stride; ++s) {
    total += static_cast<size_t>((kInputHeight / kStrides[s]) * (kInputWidth / kStrides[s]));
  }
  const size_t step = passing > 0 ? total / static_cast<size_t>(passing) : total + 1;
  size_t index = 0;
  for (int s = 0; s < kStrideCount; ++s) {
    const size_t anchors =
        static_cast<size_t>((kInputHeight / kStrides[s]) * (kInputWidth / kStrides[s]));
    out.cls[s].assign(anchors, 0.0f);
    out.obj[s].assign(anchors, 0.0f);
    out.bbox[s].assign(4 * anchors, 0.1f);
    for (size_t a = 0; a < anchors; ++a, ++index) {
      if (s <= last_stride && index % step == 0 && index / step < static_cast<size_t>(passing)) {
        out.cls[s][a] = 0.9f;
        out.obj[s][a] = 0.9f;
      }
    }
  }
  return out;
}

StrideArrays fetch_from(void* context, int s, size_t) {
  const Outputs* out = static_cast<const Outputs*>(context);
  return {out->cls[s].data(), out->obj[s].data(), out->bbox[s].data()};
}

// Argument: how many anchors pass the threshold.
void BM_DecodeStride8(benchmark::State& state) {
  Outputs out = make_outputs(static_cast<int>(state.range(0)), 0);
  static CandidateList list;
  for (auto _ : state) {
    list.count = 0;
    decode_stride(fetch_from(&out, 0, 0), 8, kInputHeight / 8, kInputWidth / 8, 0.6f, &list);
    benchmark::DoNotOptimize(list.count);
  }
  state.counters["candidates"] = list.count;
}
BENCHMARK(BM_DecodeStride8)->Arg(0)->Arg(256)->Unit(benchmark::kMicrosecond);

void BM_DecodeAnchors(benchmark::State& state) {
  Outputs out = make_outputs(static_cast<int>(state.range(0)), kStrideCount - 1);
  static CandidateList list;
  for (auto _ : state) {
    decode_anchors(fetch_from, &out, kInputHeight, kInputWidth, 0.6f, &list);
    benchmark::DoNotOptimize(list.count);
  }
  state.counters["candidates"] = list.count;
}
BENCHMARK(BM_DecodeAnchors)->Arg(0)->Arg(256)->Unit(benchmark::kMicrosecond);

// 256 candidates in 64 clusters of 4 heavily overlapping boxes: 64 survive,
// so most of the pairwise comparisons are made. Each iteration restores the
// list first (a 5 KB copy, part of the figure).
void BM_SuppressOverlaps(benchmark::State& state) {
  static CandidateList original;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> jitter(-2.0f, 2.0f);
  std::uniform_real_distribution<float> score(0.6f, 1.0f);
  original.count = kMaxCandidates;
  for (int i = 0; i < kMaxCandidates; ++i) {
    const int cluster = i % 64;
    const float cx = 40.0f + 70.0f * static_cast<float>(cluster % 8);
    const float cy = 30.0f + 55.0f * static_cast<float>(cluster / 8);
    original.boxes[i] = {cx + jitter(rng), cy + jitter(rng), 40.0f + jitter(rng),
                         48.0f + jitter(rng), score(rng)};
  }
  static CandidateList list;
  int kept = 0;
  for (auto _ : state) {
    std::memcpy(&list, &original, sizeof list);
    kept = suppress_overlaps(&list, 0.3f);
    benchmark::DoNotOptimize(kept);
  }
  state.counters["kept"] = kept;
}
BENCHMARK(BM_SuppressOverlaps)->Unit(benchmark::kMicrosecond);

// 32 faces. Argument 0: to /dev/null (the flush makes a real write call);
// 1: to a memory stream, rewound before each line.
void BM_WriteResultLine(benchmark::State& state) {
  static CandidateList list;
  list.count = 32;
  for (int i = 0; i < 32; ++i) {
    list.boxes[i] = {12.5f * i, 7.25f * i, 33.3f, 41.7f, 0.99f - 0.01f * i};
  }
  static char memory[8192];
  FILE* out =
      state.range(0) == 0 ? std::fopen("/dev/null", "w") : fmemopen(memory, sizeof memory, "w");
  if (out == nullptr) {
    state.SkipWithError("cannot open the output stream");
    return;
  }
  for (auto _ : state) {
    if (state.range(0) == 1) std::rewind(out);
    write_result_line(out, 123, list, 32, 640, 480);
  }
  std::fclose(out);
}
BENCHMARK(BM_WriteResultLine)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
