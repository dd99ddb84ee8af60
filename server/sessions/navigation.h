// The caller's walk through the area tree after login: one screen per area, one key per choice.
// browseAreas runs on the caller's session thread until log-off, a plug-in's end request or a
// failed read or write, and says how the caller left.
#pragma once

#include <cstdint>

#include "server/log/event_log.h"

class Connection;
struct UserRecord;

constexpr int AreaScreenRows = 22;
constexpr int AreaScreenCols = 80;

DisconnectReason browseAreas(Connection& c, const char* loginName);
// Counts one more login, stamps lastLogin and saves the account, leaving it in `user`; false
// when the account cannot be read or saved.
[[nodiscard]] bool recordLogin(const char* loginName, UserRecord& user);
// Composes the 22x80 area screen (no line ends); ansi chooses box-drawing rules over ASCII ones.
void buildAreaScreen(char screen[22 * 80], uint32_t areaId, uint32_t parentId,
                     const uint32_t subIds[9], const uint32_t extPluginIds[9], bool ansi);
