#include "output/result_line.h"

#include <cinttypes>

bool write_result_line(FILE* out, uint32_t frame_index, const CandidateList& candidates, int kept,
                       int32_t frame_width, int32_t frame_height) {
  const float fw = static_cast<float>(frame_width);
  const float fh = static_cast<float>(frame_height);
  const int faces = kept < kMaxReportedFaces ? kept : kMaxReportedFaces;
  std::fprintf(out, "{\"frame\":%" PRIu32 ",\"faces\":[", frame_index);
  for (int i = 0; i < faces; ++i) {
    const FaceBox& box = candidates.boxes[i];
    std::fprintf(out, "%s{\"x\":%.4f,\"y\":%.4f,\"w\":%.4f,\"h\":%.4f,\"score\":%.4f}",
                 i == 0 ? "" : ",", static_cast<double>(box.x / fw),
                 static_cast<double>(box.y / fh), static_cast<double>(box.w / fw),
                 static_cast<double>(box.h / fh), static_cast<double>(box.score));
  }
  std::fputs("]}\n", out);
  return std::fflush(out) == 0 && !std::ferror(out);
}
