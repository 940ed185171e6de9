#pragma once

#include <QGroupBox>

namespace app::qt {

// A group frame drawn as the Windows one: the widget's rectangle is the frame's outer rectangle,
// the caption sits on its top border and the line runs through the caption's middle, so the
// contents placed by the control table lie below the line, never across it. (Styles such as
// Fusion put the caption above the frame and push the line down by a text height.)
class CaptionFrame final : public QGroupBox {
    Q_OBJECT

public:
    // captionIndent: pixels from the frame's left edge to the caption.
    CaptionFrame(int captionIndent, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Where the top line runs, in pixels from the widget's top: through the caption's middle.
    int lineTop() const;

    int m_captionIndent;
};

} // namespace app::qt
