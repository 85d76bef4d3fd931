// Packs a raw frame into the network's planar float input.
#pragma once

#include <cstddef>
#include <cstdint>

// Floats in a 3 x input_height x input_width tensor, or false when the count
// (or its size in bytes) cannot be represented.
bool input_tensor_float_count(int64_t input_height, int64_t input_width, size_t* floats);

// Places the frame unscaled at the top-left of the input: byte k of each pixel
// goes to plane k as its value 0..255; every other float becomes 0. Requires
// input_width >= frame_width and input_height >= frame_height.
void pack_frame(const uint8_t* frame, int32_t frame_width, int32_t frame_height, float* tensor,
                int64_t input_width, int64_t input_height);
