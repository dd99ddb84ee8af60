#include "server/sessions/navigation.h"

void browseAreas(Connection&, const char*) {}

bool recordLogin(UserRecord&) {
    return false;
}

void buildAreaScreen(char screen[22 * 80], uint32_t, uint32_t, const uint32_t[9], const uint32_t[9],
                     bool) {
    for (int i = 0; i < 22 * 80; ++i)
        screen[i] = ' ';
}
