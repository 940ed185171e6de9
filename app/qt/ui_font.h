#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include <vector>

namespace app::qt {

// The families tried in order for the window's font: the designed one, then Japanese Gothic faces
// that Linux distributions ship (fonts-noto-cjk on Debian).
QStringList uiFontCandidates();

// The first candidate the font database knows, or the first candidate when none is installed
// (fontconfig then substitutes its own match).
QString chooseUiFamily(const QStringList& installedFamilies);

// The window's font at the given size in points, regular weight.
QFont uiFont(int points);

// A caption and the width in pixels its control was designed to give it.
struct CaptionRoom {
    QString caption;
    int width;
};

// The horizontal stretch in percent (100 at most, 50 at least) at which every caption fits its
// room in this font. A substitute face with full-width kana runs wider than the designed face,
// whose kana are proportional; condensing it keeps the designed layout free of overlaps.
int fittingStretch(const QFont& font, const std::vector<CaptionRoom>& captions);

} // namespace app::qt
