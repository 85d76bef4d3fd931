// Detection post-processing: anchors to scored boxes, then ranking and
// overlap suppression. Pure arithmetic over plain arrays.
#pragma once

#include <cstddef>
#include <cstdint>

// A box in frame pixels: left, top, width, height, then its score.
struct FaceBox {
  float x;
  float y;
  float w;
  float h;
  float score;
};

constexpr int kMaxCandidates = 256;

// One fixed array reused for every frame; survivors are compacted to the front.
struct CandidateList {
  FaceBox boxes[kMaxCandidates];
  int count;
};

constexpr int kStrideCount = 3;
constexpr int kStrides[kStrideCount] = {8, 16, 32};

// One stride's outputs: class score and objectness (one float per anchor) and
// box regression (four floats per anchor), anchors in row-major order.
struct StrideArrays {
  const float* cls;
  const float* obj;
  const float* bbox;
};

// Hands over stride position s (0, 1, 2) once its anchor count is known; it
// may end the process but otherwise returns arrays holding at least that many
// anchors.
using FetchStrideArrays = StrideArrays (*)(void* context, int stride_index, size_t anchor_count);

// Appends the anchors of one stride whose score reaches score_threshold, in
// scan order, while the list has room.
void decode_stride(const StrideArrays& arrays, int stride, int64_t rows, int64_t cols,
                   float score_threshold, CandidateList* candidates);

// Decodes strides 8, 16 and 32 of an input_height x input_width model input,
// fetching each stride's arrays just before decoding it.
void decode_anchors(FetchStrideArrays fetch, void* context, int64_t input_height,
                    int64_t input_width, float score_threshold, CandidateList* candidates);

// Comparator in qsort form: descending score.
int compare_by_score(const void* a, const void* b);

// Intersection over union; 0 when the union is not positive.
float overlap_ratio(const FaceBox& a, const FaceBox& b);

// Sorts by score and drops every box overlapping a better kept box by more than
// nms_threshold. Returns how many survivors now lead the list, best first.
int suppress_overlaps(CandidateList* candidates, float nms_threshold);
