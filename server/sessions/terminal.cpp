#include "server/sessions/terminal.h"

#include "server/connections/connection.h"

#include <cstdio>
#include <string>

void TerminalState::init(Connection& c) {
    foreground = 7;
    background = 0;
    bold = false;
    connection = &c;
}

bool TerminalState::sendCsi(const char* text) {
    if (!connection) return false;
    std::string seq = "\x1b[";
    seq += text;
    return connection->writeString(seq.c_str());
}

bool TerminalState::clearScreen() {
    return sendCsi("2J") && sendCsi("1;1H");
}

bool TerminalState::resetAttributes() {
    foreground = 7;
    background = 0;
    bold = false;
    return sendCsi("0m");
}

bool TerminalState::moveCursor(uint32_t col, uint32_t row) {
    char text[32];
    std::snprintf(text, sizeof text, "%u;%uH", row + 1, col + 1);
    return sendCsi(text);
}

bool TerminalState::setForeground(uint32_t c) {
    if (c == foreground) return true;
    foreground = c;
    char text[16];
    std::snprintf(text, sizeof text, "%um", c + 30);
    if (!sendCsi(text)) return false;
    return bold ? setBold() : true;
}

bool TerminalState::setBold() {
    bold = true;
    return sendCsi("1m");
}

bool TerminalState::setColors(uint32_t fg, uint32_t bg) {
    if (fg == foreground && bg == background) return true;
    background = bg;
    foreground = fg;
    char text[32];
    std::snprintf(text, sizeof text, "%u;%um", fg + 30, bg + 40);
    if (!sendCsi(text)) return false;
    return bold ? setBold() : true;
}
