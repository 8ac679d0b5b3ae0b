#pragma once

#include <QColor>
#include <QPixmap>

#include "quickshare/ShareCardText.h"

namespace tessaly::ShareCardSymbol {

inline constexpr int kSize = 28;

// The icon theme's symbolic icon, painted in `tint`; drawn here when the theme has none.
QPixmap pixmap(ShareCardText::Symbol symbol, const QColor& tint, qreal devicePixelRatio);

} // namespace tessaly::ShareCardSymbol
