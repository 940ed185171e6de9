#include "app/qt/ui_font.h"

#include <QFontDatabase>
#include <QFontMetrics>

#include <algorithm>

#include "app/layout.h"

namespace app::qt {

QStringList uiFontCandidates() {
    return {QString::fromUtf8(kWindow.fontFamily.data(), static_cast<qsizetype>(kWindow.fontFamily.size())),
            QStringLiteral("Noto Sans CJK JP"),
            QStringLiteral("Noto Sans JP"),
            QStringLiteral("IPAexGothic"),
            QStringLiteral("IPAGothic"),
            QStringLiteral("VL Gothic"),
            QStringLiteral("TakaoGothic")};
}

QString chooseUiFamily(const QStringList& installedFamilies) {
    const QStringList candidates = uiFontCandidates();
    for (const QString& family : candidates)
        if (installedFamilies.contains(family, Qt::CaseInsensitive))
            return family;
    return candidates.front();
}

QFont uiFont(int points) {
    QFont font(chooseUiFamily(QFontDatabase::families()));
    font.setPointSize(points);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

int fittingStretch(const QFont& font, const std::vector<CaptionRoom>& captions) {
    auto fits = [&captions](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        for (const auto& room : captions) {
            // The larger of advance and ink, as a label sizing itself measures.
            const QRect ink = metrics.boundingRect(QRect(0, 0, 4096, 4096), Qt::AlignLeft | Qt::AlignTop, room.caption);
            if (std::max(metrics.horizontalAdvance(room.caption), ink.width()) > room.width)
                return false;
        }
        return true;
    };
    QFont candidate(font);
    int stretch = 100;
    for (; stretch > 50; stretch -= 1) {
        candidate.setStretch(stretch);
        if (fits(candidate))
            break;
    }
    return stretch;
}

} // namespace app::qt
