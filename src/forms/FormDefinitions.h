// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

/**
 * The static definition of the three windows and their controls, in twips (1/1440 inch).
 * Left and top are the outer top-left corner relative to the client area of the container
 * (the window, or the frame holding the control); width and height are outer sizes.
 * Colours are 0x00BBGGRR values; 0x80000000 + n is system colour n.
 */
namespace forms {

enum class ControlKind {
    Frame,
    TextBox,
    Label,
    PushButton,
    GraphicalButton, ///< push button drawn with its back colour
    GraphicalCheckBox, ///< push button that stays pressed while checked
    OptionButton,
};

struct TwipsRect
{
    int left;
    int top;
    int width;
    int height;
};

inline constexpr std::uint32_t kNoColour = 0xFFFFFFFFu;
inline constexpr std::uint32_t kButtonFace = 0x8000000Fu;
inline constexpr std::uint32_t kSelectedGreen = 0x00FF00u;
inline constexpr std::uint32_t kLinkedGreen = 0x008000u;
inline constexpr std::uint32_t kFailedRed = 0x0000FFu;

struct WindowDef
{
    std::string_view name;
    std::string_view caption;
    int clientWidth;
    int clientHeight;
};

inline constexpr WindowDef kMainWindow {"Main", "", 7110, 1875};
inline constexpr WindowDef kConfWindow {"Conf", "Configuration", 1590, 1830};
inline constexpr WindowDef kUnitsWindow {"Units", "Units", 2460, 900};

inline constexpr int kUnitPanels = 3;

/** `Frame` of the main window, one item per unit, in the bold font. */
struct FrameDef
{
    std::string_view caption;
    TwipsRect rect;
    std::uint32_t foreColour;
    std::string_view tooltip;
    int tabIndex;
};

inline constexpr std::array<FrameDef, kUnitPanels> kFrames {{
    {"Unit 1", {0, 0, 2295, 1880}, 0x0000FF, "Unit 1 control", 0},
    {"Unit 2", {2400, 0, 2295, 1880}, 0x0000FF, "Unit 2 control", 20},
    {"Unit 3", {4800, 0, 2295, 1880}, 0x0040C0, "Unit 3 control", 39},
}};

/**
 * A control array inside each unit frame: one item per unit at the same place within its
 * frame. Only the values held per item differ between items.
 */
struct PanelControlDef
{
    std::string_view name;
    ControlKind kind;
    std::string_view caption;
    TwipsRect rect;
    int item2Top; ///< top of item 2 (the A buttons of the third frame sit 5 twips higher)
    std::string_view tooltip;
    std::array<int, kUnitPanels> tabIndex;
    bool tabStop;
    std::uint32_t backColour;
    std::array<std::uint32_t, kUnitPanels> foreColour;
    bool boldFont;
    bool enabled;
    std::array<int, kUnitPanels> maxLength; ///< 0: no limit
};

// The tables below are laid out as tables; the formatter would break them into columns.
// clang-format off
namespace detail {
inline constexpr std::array<std::uint32_t, kUnitPanels> kNoFore {kNoColour, kNoColour, kNoColour};
inline constexpr std::array<int, kUnitPanels> kNoLimit {0, 0, 0};

constexpr PanelControlDef title(std::string_view name, std::string_view text, int left,
                                std::string_view tooltip, std::array<int, kUnitPanels> tabs)
{
    return {name, ControlKind::TextBox, text, {left, 220, 975, 285}, 220, tooltip, tabs, true,
            0xFFFFFF, {0x000000, 0x404040, 0x000000}, true, false, {9, 8, 8}};
}

constexpr PanelControlDef position(std::string_view name, int left, int top, int item2Top,
                                   std::string_view tooltip, std::array<int, kUnitPanels> tabs)
{
    return {name, ControlKind::GraphicalButton, name, {left, top, 975, 255}, item2Top, tooltip,
            tabs, true, kNoColour, kNoFore, false, true, kNoLimit};
}

constexpr PanelControlDef label(std::string_view name, std::string_view text, int left, int top,
                                std::string_view tooltip, std::array<int, kUnitPanels> tabs)
{
    return {name, ControlKind::TextBox, text, {left, top, 975, 285}, top, tooltip, tabs, true,
            kNoColour, kNoFore, false, true, kNoLimit};
}
} // namespace detail

inline constexpr std::array<PanelControlDef, 20> kPanelControls {{
    detail::title("ATxt", "Device 1", 120, "Signal A name", {9, 38, 48}),
    detail::title("BTxt", "Device 2", 1200, "Signal B name", {10, 37, 49}),
    detail::position("A1", 120, 500, 495, "Toogle on switch A1", {1, 32, 47}),
    detail::position("A2", 120, 740, 735, "Toogle on switch A2", {2, 31, 46}),
    detail::position("A3", 120, 980, 975, "Toogle on switch A3", {3, 30, 45}),
    detail::position("A4", 120, 1220, 1215, "Toogle on switch A4", {4, 29, 44}),
    detail::position("B1", 1200, 500, 500, "Toogle on switch B1", {5, 24, 43}),
    detail::position("B2", 1200, 740, 740, "Toogle on switch B2", {6, 23, 42}),
    detail::position("B3", 1200, 980, 980, "Toogle on switch B3", {7, 22, 41}),
    detail::position("B4", 1200, 1220, 1220, "Toogle on switch B4", {8, 21, 40}),
    detail::label("A1Lbl", "A1", 120, 480, "Set switch A1 label", {11, 36, 54}),
    detail::label("A2Lbl", "A2", 120, 720, "Set switch A2 label", {12, 35, 53}),
    detail::label("A3Lbl", "A3", 120, 960, "Set switch A3 label", {13, 34, 52}),
    detail::label("A4Lbl", "A4", 120, 1200, "Set switch A4 label", {14, 33, 51}),
    detail::label("B1Lbl", "B1", 1200, 480, "Set switch B1 label", {18, 25, 55}),
    detail::label("B2Lbl", "B2", 1200, 720, "Set switch B2 label", {17, 26, 56}),
    detail::label("B3Lbl", "B3", 1200, 960, "Set switch B3 label", {16, 27, 57}),
    detail::label("B4Lbl", "B4", 1200, 1200, "Set switch B4 label", {15, 28, 58}),
    {"Config", ControlKind::PushButton, "&Config", {120, 1560, 975, 240}, 1560,
     "Configure this Unit", {19, 62, 50}, false, kNoColour, detail::kNoFore, false, true,
     detail::kNoLimit},
    {"Edit", ControlKind::GraphicalCheckBox, "&Edit", {1200, 1560, 975, 255}, 1560,
     "Edit labels for this unit", {59, 60, 61}, false, 0xC0C0C0, detail::kNoFore, false, true,
     detail::kNoLimit},
}};

/** The eight positions of a panel in their natural order, and their section letter. */
inline constexpr std::array<std::string_view, 8> kPositions {"A1", "A2", "A3", "A4",
                                                            "B1", "B2", "B3", "B4"};

/** A control of one of the dialogs. `item` is -1 for a single control. */
struct DialogControlDef
{
    std::string_view name;
    ControlKind kind;
    int item;
    bool inFrame; ///< lies inside the dialog's `Frame` rather than on the window
    std::string_view caption;
    TwipsRect rect;
    int tabIndex;
    bool selected;
};

inline constexpr std::array<DialogControlDef, 9> kConfControls {{
    {"Frame", ControlKind::Frame, -1, false, "Device", {0, 0, 1575, 1335}, 2, false},
    {"Lbl", ControlKind::Label, 0, true, "Board:", {120, 240, 615, 255}, 6, false},
    {"Lbl", ControlKind::Label, 1, true, "PAD:", {120, 600, 495, 255}, 8, false},
    {"Lbl", ControlKind::Label, 2, true, "SAD:", {120, 960, 495, 255}, 7, false},
    {"vVal", ControlKind::TextBox, 0, true, "", {720, 240, 615, 285}, 3, false},
    {"vVal", ControlKind::TextBox, 1, true, "", {720, 600, 615, 285}, 4, false},
    {"vVal", ControlKind::TextBox, 2, true, "", {720, 960, 615, 285}, 5, false},
    {"OK", ControlKind::PushButton, -1, false, "&OK", {840, 1440, 735, 375}, 1, false},
    {"Test", ControlKind::PushButton, -1, false, "&Test", {0, 1440, 735, 375}, 0, false},
}};

inline constexpr std::array<DialogControlDef, 4> kUnitsControls {{
    {"Num", ControlKind::OptionButton, 0, false, "1 SELVANE unit", {120, 120, 1695, 255}, 0, true},
    {"Num", ControlKind::OptionButton, 1, false, "2 SELVANE units", {120, 360, 1695, 255}, 1,
     false},
    {"Num", ControlKind::OptionButton, 2, false, "3 SELVANE units", {120, 600, 1695, 255}, 2,
     false},
    {"OK", ControlKind::PushButton, -1, false, "&OK", {1920, 600, 495, 255}, 3, false},
}};

// clang-format on

/** The face of the definitions' fonts: "MS Sans Serif", 8.25 pt (the bold one: weight 700). */
inline constexpr std::string_view kBoldFontFace = "MS Sans Serif";
inline constexpr double kBoldFontPointSize = 8.25;

} // namespace forms
