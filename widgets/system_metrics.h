// The desktop colours and edge metrics the self-painted widgets use.
//
// Colours come from the widget's palette, which on each platform carries the system's values
// (on Windows Qt fills Light from the button highlight colour and Dark from the button shadow).
// Qt has no edge metrics, so the Windows defaults apply everywhere.
#pragma once

#include <QColor>

class QWidget;

namespace edb {

inline constexpr int kEdgeWidth = 2;    // SM_CXEDGE
inline constexpr int kEdgeHeight = 2;   // SM_CYEDGE
inline constexpr int kBorderWidth = 1;  // SM_CXBORDER
inline constexpr int kBorderHeight = 1; // SM_CYBORDER

[[nodiscard]] QColor buttonHighlightColour(const QWidget* w); // COLOR_BTNHIGHLIGHT
[[nodiscard]] QColor buttonShadowColour(const QWidget* w);    // COLOR_BTNSHADOW
[[nodiscard]] QColor highlightColour(const QWidget* w);       // COLOR_HIGHLIGHT
[[nodiscard]] QColor hotTrackColour(const QWidget* w);        // COLOR_HOTLIGHT
[[nodiscard]] QColor grayTextColour(const QWidget* w);        // COLOR_GRAYTEXT

} // namespace edb
