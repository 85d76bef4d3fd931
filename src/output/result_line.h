// The result line: one flushed JSON line per frame.
#pragma once

#include <cstdint>
#include <cstdio>

#include "detect/detect.h"

constexpr int kMaxReportedFaces = 32;

// Writes {"frame":N,"faces":[...]} with the first min(kept, 32) boxes as
// fractions of the frame (four decimals), then flushes. Returns false when the
// line could not be written in full (errno tells why).
bool write_result_line(FILE* out, uint32_t frame_index, const CandidateList& candidates, int kept,
                       int32_t frame_width, int32_t frame_height);
