// ANSI control sequences for one caller, remembering the colours and bold already sent so that
// repeats are suppressed. Each operation returns the result of its last write (true if none).
#pragma once

#include <cstdint>

class Connection;

struct TerminalState {
    uint32_t foreground = 7; // 0-7: black red green yellow blue magenta cyan white
    uint32_t background = 0;
    bool bold = false;
    Connection* connection = nullptr;

    void init(Connection& c);
    [[nodiscard]] bool sendCsi(const char* text); // ESC [ text
    [[nodiscard]] bool clearScreen();
    [[nodiscard]] bool resetAttributes();
    [[nodiscard]] bool moveCursor(uint32_t col, uint32_t row); // zero-based
    [[nodiscard]] bool setForeground(uint32_t c);
    [[nodiscard]] bool setBold();
    [[nodiscard]] bool setColors(uint32_t fg, uint32_t bg);
};
