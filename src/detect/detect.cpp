#include "detect/detect.h"

#include <cmath>

namespace {

// Clamps to 0..1; a NaN counts as 0 so it can never pass the threshold.
inline float clamp_unit(float v) {
  if (!(v > 0.0f)) return 0.0f;
  return v > 1.0f ? 1.0f : v;
}

inline float min_of(float a, float b) { return b < a ? b : a; }
inline float max_of(float a, float b) { return a < b ? b : a; }

// Stable insertion sort, best score first: ties keep scan order, the order a
// stable qsort gives. qsort itself is avoided because glibc's takes heap
// memory for arrays over 1 KB (more than 51 boxes), an allocation per frame.
void sort_by_score(FaceBox* boxes, int count) {
  for (int i = 1; i < count; ++i) {
    const FaceBox box = boxes[i];
    int j = i;
    for (; j > 0 && compare_by_score(&boxes[j - 1], &box) > 0; --j) boxes[j] = boxes[j - 1];
    boxes[j] = box;
  }
}

}  // namespace

void decode_stride(const StrideArrays& arrays, int stride, int64_t rows, int64_t cols,
                   float score_threshold, CandidateList* candidates) {
  if (rows <= 0 || cols <= 0) return;
  const float s = static_cast<float>(stride);
  for (int64_t r = 0; r < rows; ++r) {
    for (int64_t c = 0; c < cols; ++c) {
      const size_t i = static_cast<size_t>(r * cols + c);
      const float score = std::sqrt(clamp_unit(arrays.cls[i]) * clamp_unit(arrays.obj[i]));
      if (score < score_threshold) continue;
      if (candidates->count >= kMaxCandidates) continue;
      const float* d = arrays.bbox + 4 * i;
      const float cx = (static_cast<float>(c) + d[0]) * s;
      const float cy = (static_cast<float>(r) + d[1]) * s;
      const float w = std::exp(d[2]) * s;
      const float h = std::exp(d[3]) * s;
      const FaceBox box{cx - 0.5f * w, cy - 0.5f * h, w, h, score};
      // A box that is not finite would print as nan/inf, which is not JSON.
      if (!std::isfinite(box.x) || !std::isfinite(box.y) || !std::isfinite(box.w) ||
          !std::isfinite(box.h)) {
        continue;
      }
      candidates->boxes[candidates->count++] = box;
    }
  }
}

void decode_anchors(FetchStrideArrays fetch, void* context, int64_t input_height,
                    int64_t input_width, float score_threshold, CandidateList* candidates) {
  candidates->count = 0;
  for (int s = 0; s < kStrideCount; ++s) {
    const int64_t rows = input_height / kStrides[s];
    const int64_t cols = input_width / kStrides[s];
    const size_t anchors = rows > 0 && cols > 0 ? static_cast<size_t>(rows * cols) : 0;
    const StrideArrays arrays = fetch(context, s, anchors);
    decode_stride(arrays, kStrides[s], rows, cols, score_threshold, candidates);
  }
}

int compare_by_score(const void* a, const void* b) {
  const float d = static_cast<const FaceBox*>(b)->score - static_cast<const FaceBox*>(a)->score;
  if (d > 0.0f) return 1;
  if (d < 0.0f) return -1;
  return 0;
}

float overlap_ratio(const FaceBox& a, const FaceBox& b) {
  // Plain comparisons, not fminf/fmaxf: those stay library calls (NaN rules),
  // and the boxes are finite (decode_stride drops the others).
  const float iw = max_of(0.0f, min_of(a.x + a.w, b.x + b.w) - max_of(a.x, b.x));
  const float ih = max_of(0.0f, min_of(a.y + a.h, b.y + b.h) - max_of(a.y, b.y));
  const float intersection = iw * ih;
  const float union_area = a.w * a.h + b.w * b.h - intersection;
  return union_area > 0.0f ? intersection / union_area : 0.0f;
}

int suppress_overlaps(CandidateList* candidates, float nms_threshold) {
  sort_by_score(candidates->boxes, candidates->count);
  int kept = 0;
  for (int i = 0; i < candidates->count; ++i) {
    const FaceBox& candidate = candidates->boxes[i];
    bool overlaps = false;
    for (int k = 0; k < kept && !overlaps; ++k) {
      overlaps = overlap_ratio(candidates->boxes[k], candidate) > nms_threshold;
    }
    if (!overlaps) candidates->boxes[kept++] = candidate;
  }
  return kept;
}
