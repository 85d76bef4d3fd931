#include "detect/detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// One stride's outputs as plain arrays, all anchors zero until set.
struct StrideData {
  std::vector<float> cls, obj, bbox;
  explicit StrideData(size_t anchors) : cls(anchors), obj(anchors), bbox(4 * anchors) {}
  StrideArrays arrays() const { return {cls.data(), obj.data(), bbox.data()}; }
};

CandidateList& empty_list() {
  static CandidateList list;
  list.count = 0;
  return list;
}

TEST(DecodeStride, ScoreIsTheRootOfTheClampedProductAndTheThresholdIsInclusive) {
  struct Case {
    float cls, obj, threshold;
    bool passes;
    float score;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {0.64f, 1.0f, 0.6f, true, 0.8f},
      {1.7f, -0.2f, 0.0001f, false, 0},  // clamped to 1 and 0: score 0
      {4.0f, 9.0f, 0.99f, true, 1.0f},   // both clamped to 1
      {0.36f, 1.0f, 0.6f, true, 0.6f},   // exactly the threshold passes
      {0.35f, 1.0f, 0.6f, false, 0},
      {nan, 1.0f, 0.0001f, false, 0},  // NaN counts as 0
      {1.0f, nan, 0.0001f, false, 0},
  };
  for (const Case& c : cases) {
    StrideData data(1);
    data.cls[0] = c.cls;
    data.obj[0] = c.obj;
    CandidateList& list = empty_list();
    decode_stride(data.arrays(), 8, 1, 1, c.threshold, &list);
    ASSERT_EQ(list.count, c.passes ? 1 : 0) << c.cls << " " << c.obj;
    if (c.passes) {
      EXPECT_EQ(list.boxes[0].score, c.score);
    }
  }
}

TEST(DecodeStride, BoxFromGridCornerOffsetsAndLogSizes) {
  // 4 x 5 grid at stride 16; anchor (2, 3) is index 13.
  StrideData data(20);
  data.cls[13] = data.obj[13] = 1.0f;
  CandidateList& list = empty_list();
  decode_stride(data.arrays(), 16, 4, 5, 0.5f, &list);
  ASSERT_EQ(list.count, 1);
  EXPECT_EQ(list.boxes[0].x, 40.0f);
  EXPECT_EQ(list.boxes[0].y, 24.0f);
  EXPECT_EQ(list.boxes[0].w, 16.0f);
  EXPECT_EQ(list.boxes[0].h, 16.0f);

  data.bbox[4 * 13 + 0] = 0.5f;
  data.bbox[4 * 13 + 1] = -0.25f;
  data.bbox[4 * 13 + 2] = std::log(2.0f);
  data.bbox[4 * 13 + 3] = std::log(0.5f);
  list.count = 0;
  decode_stride(data.arrays(), 16, 4, 5, 0.5f, &list);
  ASSERT_EQ(list.count, 1);
  EXPECT_FLOAT_EQ(list.boxes[0].x, (3 + 0.5f) * 16 - 16);
  EXPECT_FLOAT_EQ(list.boxes[0].y, (2 - 0.25f) * 16 - 4);
  EXPECT_FLOAT_EQ(list.boxes[0].w, 32.0f);
  EXPECT_FLOAT_EQ(list.boxes[0].h, 8.0f);
}

TEST(DecodeStride, SkipsAnchorsWhoseBoxIsNotFinite) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float bad[] = {nan, inf, -inf, 100.0f /* exp overflows */};
  for (int component = 0; component < 4; ++component) {
    for (float value : bad) {
      StrideData data(2);
      data.cls[0] = data.obj[0] = data.cls[1] = data.obj[1] = 1.0f;
      data.bbox[component] = value;
      CandidateList& list = empty_list();
      decode_stride(data.arrays(), 8, 1, 2, 0.5f, &list);
      // A large offset is still finite, and exp(-inf) is a finite zero size.
      const bool finite_anyway =
          (component < 2 && value == 100.0f) || (component >= 2 && value == -inf);
      EXPECT_EQ(list.count, finite_anyway ? 2 : 1) << component << " " << value;
      EXPECT_EQ(list.boxes[list.count - 1].x, 4.0f);  // anchor (0, 1) always decoded
    }
  }
}

struct Grids {
  StrideData strides[3];
  explicit Grids(int64_t h, int64_t w)
      : strides{StrideData(static_cast<size_t>((h / 8) * (w / 8))),
                StrideData(static_cast<size_t>((h / 16) * (w / 16))),
                StrideData(static_cast<size_t>((h / 32) * (w / 32)))} {}
};

struct FetchLog {
  Grids* grids;
  std::vector<size_t> requested;
};

StrideArrays fetch_from_grids(void* context, int s, size_t anchors) {
  auto* log = static_cast<FetchLog*>(context);
  log->requested.push_back(anchors);
  return log->grids->strides[s].arrays();
}

TEST(DecodeAnchors, WalksStridesInOrderAndSkipsEmptyGrids) {
  // 20 wide: 2 columns at stride 8, 1 at 16, none at 32.
  Grids grids(64, 20);
  for (auto& s : grids.strides)
    std::fill(s.cls.begin(), s.cls.end(), 1.0f), std::fill(s.obj.begin(), s.obj.end(), 1.0f);
  FetchLog log{&grids, {}};
  CandidateList& list = empty_list();
  list.count = 99;  // leftovers from an earlier frame are discarded
  decode_anchors(fetch_from_grids, &log, 64, 20, 0.5f, &list);
  EXPECT_EQ(log.requested, (std::vector<size_t>{16, 4, 0}));
  ASSERT_EQ(list.count, 16 + 4);
  EXPECT_EQ(list.boxes[0].w, 8.0f);    // stride 8 first, row by row
  EXPECT_EQ(list.boxes[1].x, 4.0f);    // (0, 1): centre at x = 8
  EXPECT_EQ(list.boxes[2].y, 4.0f);    // (1, 0)
  EXPECT_EQ(list.boxes[16].w, 16.0f);  // then stride 16
}

TEST(DecodeAnchors, KeepsTheFirst256InScanOrder) {
  // 32 x 32 input: 16 + 4 + 1 anchors, too few; use 160 x 160: 400 + 100 + 25.
  Grids grids(160, 160);
  for (auto& s : grids.strides)
    std::fill(s.cls.begin(), s.cls.end(), 0.7f), std::fill(s.obj.begin(), s.obj.end(), 0.7f);
  // A better anchor late in the scan is still lost.
  grids.strides[2].cls[0] = grids.strides[2].obj[0] = 1.0f;
  FetchLog log{&grids, {}};
  CandidateList& list = empty_list();
  decode_anchors(fetch_from_grids, &log, 160, 160, 0.6f, &list);
  ASSERT_EQ(list.count, kMaxCandidates);
  for (int i = 0; i < kMaxCandidates; ++i) EXPECT_EQ(list.boxes[i].w, 8.0f);
  // Anchor 255 of stride 8 is row 12, column 15 of a 20-wide grid.
  EXPECT_EQ(list.boxes[255].x, 15 * 8 - 4.0f);
  EXPECT_EQ(list.boxes[255].y, 12 * 8 - 4.0f);
}

TEST(CompareByScore, SortsDescending) {
  FaceBox high{0, 0, 1, 1, 0.9f}, low{0, 0, 1, 1, 0.1f};
  EXPECT_LT(compare_by_score(&high, &low), 0);
  EXPECT_GT(compare_by_score(&low, &high), 0);
  EXPECT_EQ(compare_by_score(&low, &low), 0);
}

TEST(OverlapRatio, IntersectionOverUnion) {
  struct Case {
    FaceBox a, b;
    float ratio;
  };
  const Case cases[] = {
      {{0, 0, 10, 10, 0}, {5, 0, 10, 10, 0}, 1.0f / 3.0f},
      {{0, 0, 10, 10, 0}, {0, 0, 10, 10, 0}, 1.0f},
      {{0, 0, 10, 10, 0}, {10, 0, 10, 10, 0}, 0.0f},  // touching edges
      {{0, 0, 10, 10, 0}, {20, 20, 5, 5, 0}, 0.0f},   // apart
      {{3, 3, 0, 0, 0}, {3, 3, 0, 0, 0}, 0.0f},       // zero area: union 0
      {{0, 0, 10, 10, 0}, {2, 2, 5, 5, 0}, 0.25f},    // contained
  };
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(overlap_ratio(c.a, c.b), c.ratio);
    EXPECT_FLOAT_EQ(overlap_ratio(c.b, c.a), c.ratio);
  }
}

int suppress(std::vector<FaceBox> boxes, float nms, std::vector<FaceBox>* survivors) {
  CandidateList& list = empty_list();
  for (const FaceBox& b : boxes) list.boxes[list.count++] = b;
  const int kept = suppress_overlaps(&list, nms);
  survivors->assign(list.boxes, list.boxes + kept);
  return kept;
}

TEST(SuppressOverlaps, GreedyAgainstKeptBoxesOnly) {
  std::vector<FaceBox> out;
  EXPECT_EQ(suppress({}, 0.3f, &out), 0);

  // Identical boxes: the lower score goes.
  ASSERT_EQ(suppress({{0, 0, 10, 10, 0.8f}, {0, 0, 10, 10, 0.9f}}, 0.3f, &out), 1);
  EXPECT_EQ(out[0].score, 0.9f);

  // IoU 1/3: dropped at 0.3, kept at 0.4; a ratio equal to the threshold keeps.
  EXPECT_EQ(suppress({{0, 0, 10, 10, 0.9f}, {5, 0, 10, 10, 0.8f}}, 0.3f, &out), 1);
  EXPECT_EQ(suppress({{0, 0, 10, 10, 0.9f}, {5, 0, 10, 10, 0.8f}}, 0.4f, &out), 2);
  EXPECT_EQ(suppress({{0, 0, 10, 10, 0.9f}, {2, 2, 5, 5, 0.8f}}, 0.25f, &out), 2);

  // Touching edges and zero-area boxes never suppress.
  EXPECT_EQ(suppress({{0, 0, 10, 10, 0.9f}, {10, 0, 10, 10, 0.8f}}, 0.01f, &out), 2);
  EXPECT_EQ(suppress({{1, 1, 0, 0, 0.9f}, {1, 1, 0, 0, 0.8f}, {0, 0, 2, 2, 0.7f}}, 0.01f, &out), 3);

  // Chain A-B-C: B is dropped by A, and C is not compared with the dropped B.
  ASSERT_EQ(
      suppress({{8, 0, 10, 10, 0.7f}, {0, 0, 10, 10, 0.9f}, {4, 0, 10, 10, 0.8f}}, 0.3f, &out), 2);
  EXPECT_EQ(out[0].score, 0.9f);
  EXPECT_EQ(out[1].score, 0.7f);
}

TEST(SuppressOverlaps, SurvivorsLeadTheListBestFirst) {
  std::vector<FaceBox> boxes;
  for (int i = 0; i < 256; ++i)
    boxes.push_back({static_cast<float>(i % 16) * 20, static_cast<float>(i / 16) * 20, 10, 10,
                     (i * 37 % 256) / 256.0f});
  std::vector<FaceBox> out;
  ASSERT_EQ(suppress(boxes, 0.3f, &out), 256);  // none overlap
  for (size_t i = 1; i < out.size(); ++i) EXPECT_GE(out[i - 1].score, out[i].score);
}

TEST(SuppressOverlaps, EqualScoresKeepScanOrder) {
  // 100 boxes apart from each other with only four distinct scores (a list
  // long enough that glibc's qsort would have switched to heap memory).
  const float scores[4] = {0.7f, 0.9f, 0.6f, 0.9f};
  std::vector<FaceBox> boxes;
  for (int i = 0; i < 100; ++i) boxes.push_back({i * 20.0f, 0, 10, 10, scores[i % 4]});
  std::vector<FaceBox> expected = boxes;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const FaceBox& a, const FaceBox& b) { return a.score > b.score; });
  std::vector<FaceBox> out;
  ASSERT_EQ(suppress(boxes, 0.3f, &out), 100);
  for (size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].x, expected[i].x) << "position " << i;
    EXPECT_EQ(out[i].score, expected[i].score) << "position " << i;
  }
}

}  // namespace
