// Number fields of the sysop's dialogs and editors: a value outside the field's range is refused
// with a message naming the range, instead of being wrapped into the stored field's bits.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ovui.h"
#include "server/base/product.h"

// Tells the sysop which numbers the field takes and puts the focus on it.
inline void refuseNumber(HWND dlg, int id, const char* label, uint32_t min, uint32_t max) {
    char message[200];
    std::snprintf(message, sizeof message, "%s must be a number from %u to %u.", label, min, max);
    (void)ovMessageBox(dlg, message, ProductName, MB_OK | MB_ICONERROR);
    (void)ovSetFocus(dlg, id);
}

// The field's digits as a number from min to max (an empty field is 0); otherwise the sysop is
// told the range and the result is false, value untouched.
[[nodiscard]] inline bool numberField(HWND dlg, int id, const char* label, uint32_t min,
                                      uint32_t max, uint32_t& value) {
    char text[64] = {};
    ovGetDlgItemText(dlg, id, text, sizeof text);
    uint64_t v = 0;
    bool ok = true;
    for (const char* p = text; *p && ok; ++p) {
        ok = *p >= '0' && *p <= '9';
        v = v * 10u + uint64_t(*p - '0');
        ok = ok && v <= max;
    }
    if (ok && v >= min) {
        value = uint32_t(v);
        return true;
    }
    refuseNumber(dlg, id, label, min, max);
    return false;
}
