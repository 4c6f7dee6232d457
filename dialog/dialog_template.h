// A dialog held as data: its caption, size and font, and one row per control
// in tab order. Positions and sizes are dialog units: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an
// eighth of its height, so a layout keeps its proportions with any font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <vector>

enum class ControlKind {
    Static,  // a text label
    Icon,    // a 32-pixel icon; the caption names its image resource
    Edit,    // a one-line text field
    PushButton,
    RadioButton,  // radio buttons of one group exclude each other
    CheckBox,
    ListBox,  // an unsorted list of text lines
};

// Style flags of a control.
enum ControlStyle : unsigned {
    kGroup = 1u << 0,          // starts a group (ends the one before)
    kTabStop = 1u << 1,        // the first of these gets the initial focus
    kHidden = 1u << 2,         // never shown; still exchanges its value
    kDefaultButton = 1u << 3,  // Enter presses it
};

constexpr int IDC_STATIC = -1;  // controls that are never addressed

struct ControlTemplate {
    int id = IDC_STATIC;
    ControlKind kind = ControlKind::Static;
    const char* caption = "";
    QRect rect;  // dialog units
    unsigned style = 0;
};

struct DialogTemplate {
    const char* caption = "";
    QSize size;  // client area, dialog units
    int point_size = 8;
    std::vector<ControlTemplate> controls;  // in tab order
    QRect busy_area;  // where the busy indicator shows during work; empty: none
};

// The dialog base units of a font: average character width and height in
// pixels.
struct DialogBaseUnits {
    int x = 1;
    int y = 1;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);
QRect DialogUnitsToPixels(const QRect& rect, DialogBaseUnits units);
QSize DialogUnitsToPixels(const QSize& size, DialogBaseUnits units);
