// The width of an icon as the tests read it back: the width of its colour image (of its mask
// for a monochrome icon); 0 without an icon.
#pragma once

#include <windows.h>

inline int icon_width(HICON icon) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return 0;
    }
    BITMAP colour{};
    GetObjectW(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof colour, &colour);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return colour.bmWidth;
}
