// Small value types for points, sizes and rectangles in pixels. They derive from the Win32
// structures, so a pointer to one can be handed to any Win32 function that takes the structure.
// Plain values: no ownership, no threading concerns.
#pragma once

#include <windows.h>

class CPoint : public POINT {
public:
    CPoint() : POINT{0, 0} {}
    CPoint(int x0, int y0) : POINT{x0, y0} {}
    CPoint(const POINT& pt) : POINT(pt) {}

    bool operator==(const POINT& pt) const { return x == pt.x && y == pt.y; }
    bool operator!=(const POINT& pt) const { return !(*this == pt); }
};

class CSize : public SIZE {
public:
    CSize() : SIZE{0, 0} {}
    CSize(int cx0, int cy0) : SIZE{cx0, cy0} {}
    CSize(const SIZE& size) : SIZE(size) {}

    bool operator==(const SIZE& size) const { return cx == size.cx && cy == size.cy; }
    bool operator!=(const SIZE& size) const { return !(*this == size); }
};

class CRect : public RECT {
public:
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
    CRect(const RECT& rect) : RECT(rect) {}

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    bool PtInRect(const POINT& pt) const { return ::PtInRect(this, pt) != FALSE; }
    bool operator==(const RECT& rc) const {
        return left == rc.left && top == rc.top && right == rc.right && bottom == rc.bottom;
    }
    bool operator!=(const RECT& rc) const { return !(*this == rc); }
};
