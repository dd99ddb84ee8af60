// The description files beside the area file, named by the area's id: "area/%08x.txt" (the
// panel of the composed area screen), ".asc" and ".ans" (sent instead of that screen to plain
// and ANSI callers). Missing, empty and unreadable files count as absent.
#pragma once

#include <cstdint>

enum class AreaTextKind { Txt, Asc, Ans };

// Only the first MaxAreaTextBytes of a file are read, so a huge file cannot exhaust memory.
constexpr uint32_t MaxAreaTextBytes = 4u << 20;

// Reads the file into a new NUL-terminated buffer that the caller frees with delete[]; a
// Ctrl-Z as the last byte is dropped. False, and text set to nullptr, when the file is absent.
[[nodiscard]] bool loadAreaText(uint32_t id, AreaTextKind kind, char*& text);
// Lays the .txt file into rows 1 to 20, columns 0 to 41 of a screen the caller filled with
// spaces: plain 7-bit text, hard-wrapped at 42 columns.
void layoutAreaDescription(char screen[22 * 80], uint32_t id);
