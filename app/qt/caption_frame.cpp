#include "app/qt/caption_frame.h"

#include <QPainter>
#include <qdrawutil.h>

namespace app::qt {

namespace {

// The ink of a line of text in this font: the caption's own glyphs would move the line from
// frame to frame, so a full-height ideograph stands for every caption.
QRect inkOf(const QFontMetrics& metrics) {
    return metrics.tightBoundingRect(QStringLiteral("国"));
}

} // namespace

CaptionFrame::CaptionFrame(int captionIndent, QWidget* parent) : QGroupBox(parent), m_captionIndent(captionIndent) {}

int CaptionFrame::lineTop() const {
    return inkOf(fontMetrics()).height() / 2;
}

void CaptionFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect line = rect().adjusted(0, lineTop(), 0, 0);
    // An etched line, the classic group frame.
    qDrawShadeRect(&painter, line, palette(), true, 1, 0);

    const QString caption = title();
    if (caption.isEmpty())
        return;
    const QFontMetrics metrics = fontMetrics();
    // The caption's ink starts at the frame's top; a gap of the window's colour breaks the line
    // around it.
    const int baseline = -inkOf(metrics).top();
    const int width = metrics.horizontalAdvance(caption);
    const int gap = qMax(2, metrics.averageCharWidth() / 3);
    painter.fillRect(QRect(m_captionIndent - gap, 0, width + 2 * gap, line.top() + 2), palette().window());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(QPoint(m_captionIndent, baseline), caption);
}

} // namespace app::qt
