// The frame stream: raw frames of width x height x 3 bytes, back to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Bytes in one frame, or false when width x height x 3 does not fit in size_t.
bool frame_byte_count(int32_t frame_width, int32_t frame_height, size_t* bytes);

// Reads exactly one frame, assembling it from as many reads as it takes.
// Returns false at the end of input (or a read error); a partial frame is dropped.
bool read_frame(FILE* in, uint8_t* frame, size_t frame_bytes);
