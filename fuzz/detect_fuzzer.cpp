// Arbitrary output arrays (any bits: NaN, infinities, huge, negative) and any
// input size through decoding, suppression and the result line: the line is
// strict JSON of the expected shape, with at most 32 faces and finite numbers.
//
// Input: [input height int16][input width int16][frame width u32][frame height u32]
//        [score u32][nms u32][frame index u32][floats ...], the floats cycled
//        to fill every array the decoder asks for.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "output/result_line.h"

namespace {

void require(bool condition, const char* what) {
  if (!condition) {
    // Straight to fd 2: stdio may be buffered or redirected, and abort() follows.
    dprintf(2, "detect_fuzzer: %s\n", what);
    std::abort();
  }
}

template <typename T>
T take(const uint8_t*& p, const uint8_t* end) {
  T v{};
  if (static_cast<size_t>(end - p) >= sizeof v) {
    std::memcpy(&v, p, sizeof v);
    p += sizeof v;
  }
  return v;
}

// A float from raw bits when it is strictly inside (0,1), else a spread value.
float threshold_from(uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, sizeof v);
  if (v > 0.0f && v < 1.0f) return v;
  return static_cast<float>(bits % 65535 + 1) / 65537.0f;
}

struct Pool {
  const uint8_t* bytes;
  size_t floats;
  size_t next;
  // The nine arrays of the current run, sized exactly as asked.
  std::vector<float> arrays[3][3];
};

void fill(Pool* pool, std::vector<float>* array, size_t count) {
  array->assign(count, 0.0f);
  if (pool->floats == 0) return;
  for (size_t i = 0; i < count;) {
    const size_t at = pool->next % pool->floats;
    const size_t n = std::min(count - i, pool->floats - at);
    std::memcpy(array->data() + i, pool->bytes + 4 * at, n * sizeof(float));
    i += n;
    pool->next += n;
  }
}

StrideArrays fetch(void* context, int stride_index, size_t anchor_count) {
  auto* pool = static_cast<Pool*>(context);
  require(stride_index >= 0 && stride_index < kStrideCount, "bad stride index");
  std::vector<float>* a = pool->arrays[stride_index];
  fill(pool, &a[0], anchor_count);
  fill(pool, &a[1], anchor_count);
  fill(pool, &a[2], 4 * anchor_count);
  return StrideArrays{a[0].data(), a[1].data(), a[2].data()};
}

// A strict reader for exactly the result line's shape.
struct Reader {
  const char* p;
  const char* end;
  bool literal(const char* s) {
    const size_t n = std::strlen(s);
    if (static_cast<size_t>(end - p) < n || std::memcmp(p, s, n) != 0) return false;
    p += n;
    return true;
  }
  bool digit() const { return p < end && *p >= '0' && *p <= '9'; }
  // JSON number: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, finite.
  bool number(double* value) {
    const char* start = p;
    if (p < end && *p == '-') ++p;
    if (!digit()) return false;
    if (*p == '0') {
      ++p;
    } else {
      while (digit()) ++p;
    }
    if (p < end && *p == '.') {
      ++p;
      if (!digit()) return false;
      while (digit()) ++p;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
      ++p;
      if (p < end && (*p == '+' || *p == '-')) ++p;
      if (!digit()) return false;
      while (digit()) ++p;
    }
    const std::string text(start, p);
    *value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(*value);
  }
};

// Returns the number of faces, or -1 when the line is not of the expected shape.
int check_line(const char* text, size_t length, uint32_t frame_index) {
  Reader r{text, text + length};
  double v = 0;
  if (!r.literal("{\"frame\":") || !r.number(&v) || v != frame_index) return -1;
  if (!r.literal(",\"faces\":[")) return -1;
  int faces = 0;
  if (!r.literal("]")) {
    do {
      double score = 0;
      if (!r.literal("{\"x\":") || !r.number(&v) || !r.literal(",\"y\":") || !r.number(&v) ||
          !r.literal(",\"w\":") || !r.number(&v) || !r.literal(",\"h\":") || !r.number(&v) ||
          !r.literal(",\"score\":") || !r.number(&score) || !r.literal("}")) {
        return -1;
      }
      if (!(score >= 0.0 && score <= 1.0)) return -1;
      ++faces;
    } while (r.literal(","));
    if (!r.literal("]")) return -1;
  }
  if (!r.literal("}\n") || r.p != r.end) return -1;
  return faces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  // Input sizes from -1023 to 1023 (both signs reach decode_anchors).
  const int64_t input_height = take<int16_t>(p, end) % 1024;
  const int64_t input_width = take<int16_t>(p, end) % 1024;
  const int32_t frame_width = static_cast<int32_t>(take<uint32_t>(p, end) % INT32_MAX) + 1;
  const int32_t frame_height = static_cast<int32_t>(take<uint32_t>(p, end) % INT32_MAX) + 1;
  const float score_threshold = threshold_from(take<uint32_t>(p, end));
  const float nms_threshold = threshold_from(take<uint32_t>(p, end));
  const uint32_t frame_index = take<uint32_t>(p, end);
  Pool pool{p, static_cast<size_t>(end - p) / 4, 0, {}};
  // Cap the work per input (about 5500 anchors), so the fuzzer stays fast.
  if (input_height > 0 && input_width > 0 && input_height * input_width > (int64_t{1} << 18)) {
    return 0;
  }

  static CandidateList candidates;
  candidates.count = -1;  // decode_anchors must reset it
  decode_anchors(fetch, &pool, input_height, input_width, score_threshold, &candidates);
  require(candidates.count >= 0 && candidates.count <= kMaxCandidates, "candidate count");
  for (int i = 0; i < candidates.count; ++i) {
    const FaceBox& b = candidates.boxes[i];
    require(std::isfinite(b.x) && std::isfinite(b.y) && std::isfinite(b.w) && std::isfinite(b.h),
            "a candidate box is not finite");
    require(b.score >= score_threshold && b.score <= 1.0f, "candidate score out of range");
  }

  const int before = candidates.count;
  const int kept = suppress_overlaps(&candidates, nms_threshold);
  require(kept >= 0 && kept <= before && (before == 0 || kept >= 1), "kept count");
  for (int i = 0; i < kept; ++i) {
    if (i > 0) {
      require(candidates.boxes[i - 1].score >= candidates.boxes[i].score, "not best first");
    }
    for (int k = 0; k < i; ++k) {
      require(!(overlap_ratio(candidates.boxes[k], candidates.boxes[i]) > nms_threshold),
              "two kept boxes overlap beyond the threshold");
    }
  }

  static char text[1 << 16];
  FILE* out = fmemopen(text, sizeof text, "w");
  require(out != nullptr, "fmemopen failed");
  require(write_result_line(out, frame_index, candidates, kept, frame_width, frame_height),
          "write_result_line reported a failure");
  const long length = std::ftell(out);
  std::fclose(out);
  require(length > 0 && static_cast<size_t>(length) < sizeof text, "line length");
  const int faces = check_line(text, static_cast<size_t>(length), frame_index);
  require(faces >= 0, "the line is not strict JSON of the result shape");
  require(faces == (kept < 32 ? kept : 32), "wrong number of faces on the line");

  // One stride on its own, with any grid (negative and empty ones too).
  if (size >= 2) {
    const int64_t rows = static_cast<int8_t>(data[0]) % 40;
    const int64_t cols = static_cast<int8_t>(data[1]) % 40;
    const size_t anchors = rows > 0 && cols > 0 ? static_cast<size_t>(rows * cols) : 0;
    candidates.count = 0;
    const StrideArrays arrays = fetch(&pool, 1, anchors);
    decode_stride(arrays, 16, rows, cols, score_threshold, &candidates);
    require(candidates.count >= 0 && candidates.count <= static_cast<int>(anchors) &&
                candidates.count <= kMaxCandidates,
            "decode_stride count");
  }
  return 0;
}
