// A minimal POSIX client for glintbox: starts it with pipes on its three
// standard streams, writes frames, reads result lines, and turns a failed exit
// into a readable error carrying glintbox's own stderr line.
//
// Typical use (see main.cpp): one thread writes frames with
// glintbox_write_frame and then calls glintbox_end_input, while another reads
// with glintbox_read_result until it returns false, then glintbox_finish.
// Writing and reading must run concurrently: glintbox answers each frame
// before it reads the next, so a parent that only writes would eventually
// block on a full pipe while glintbox blocks on its full output.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct GlintboxOptions {
  std::string program = "glintbox";  // path of the binary
  std::string model;                  // path of the YuNet ONNX model
  int width = 0;                      // frame size in pixels
  int height = 0;
  std::string score;  // empty: glintbox's default (0.6)
  std::string nms;    // empty: glintbox's default (0.3)
};

// One face: left, top, width, height as fractions of the frame, and score.
struct GlintboxFace {
  double x, y, w, h, score;
};

struct GlintboxResult {
  unsigned long frame = 0;
  std::vector<GlintboxFace> faces;
};

struct GlintboxChild {
  pid_t pid = -1;
  int stdin_fd = -1;   // we write frames here
  int stdout_fd = -1;  // result lines
  int stderr_fd = -1;  // glintbox's diagnostic line, if any
  std::string out_buffer;  // stdout bytes not yet forming a whole line
  std::string err_text;    // everything read from stderr
};

// Starts glintbox. false with *error set when it could not be started.
bool glintbox_start(const GlintboxOptions& options, GlintboxChild* child, std::string* error);

// Writes one whole frame (width * height * 3 bytes, BGR for the bundled model).
// false when glintbox has stopped reading (it has exited; see glintbox_finish).
bool glintbox_write_frame(GlintboxChild* child, const uint8_t* frame, size_t bytes);

// No more frames: closes glintbox's standard input so it finishes and exits.
void glintbox_end_input(GlintboxChild* child);

// Waits for the next result line. false at the end of output (glintbox has
// exited or closed its output), or with *error set for a line that does not parse.
bool glintbox_read_result(GlintboxChild* child, GlintboxResult* result, std::string* error);

// Waits for glintbox to exit. true for status 0; otherwise *error reads like
// "glintbox exited with status 2: glintbox: loading the model failed: ...".
bool glintbox_finish(GlintboxChild* child, std::string* error);

// Parses one line of the form
// {"frame":N,"faces":[{"x":..,"y":..,"w":..,"h":..,"score":..},...]}
// (a trailing "\r" is accepted). Exposed for testing.
bool glintbox_parse_line(const std::string& line, GlintboxResult* result);
