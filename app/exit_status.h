#pragma once

// Exit statuses of a run. main returns them as they are; the shell sees 256 + status for
// the negative ones (255 for usage ... 249 for a failed export).
constexpr int STATUS_OK = 0;
constexpr int STATUS_USAGE = -1;
constexpr int STATUS_WINDOW_SETTINGS = -2;
constexpr int STATUS_DATABASE_OPEN = -3;
// A catalogue statement failed during the run; it ends as a catalogue that cannot be opened.
constexpr int STATUS_DATABASE_QUERY = -3;
constexpr int STATUS_EVENT_NOT_FOUND = -4;
constexpr int STATUS_TRACE_COUNT = -5;
constexpr int STATUS_IMAGE_WRITE = -6;
// The image is written, but a CSS or miniSEED export could not be.
constexpr int STATUS_EXPORT_WRITE = -7;
