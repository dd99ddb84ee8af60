// The product's name and version as callers, the sysop and the log see them.
#pragma once

constexpr const char* ProductName = "Ossivane BBS";
constexpr const char* VersionText = "Version 1.00b1, build 311 (14 Apr 99)";
