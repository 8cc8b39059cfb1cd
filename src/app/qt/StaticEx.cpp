#include "app/qt/StaticEx.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace vantro::app {

CStaticEx::CStaticEx(const QString& text, QWidget* parent)
    : QLabel(text, parent),
      m_crText(QApplication::palette().color(QPalette::ButtonText)),
      m_crBack(QApplication::palette().color(QPalette::Button)),
      m_brBack(m_crBack),
      m_font(QApplication::font()) {}

void CStaticEx::MakeBold() {
    m_bBold = true;
    // Made afresh from the dialog's own font (8 points), so calling it twice leaves one font
    // and a desktop with a larger default size does not cut the caption in its box.
    QFont font = parentWidget() != nullptr ? parentWidget()->font() : QApplication::font();
    if (m_bBold)
        font.setWeight(QFont::DemiBold);  // 600
    if (m_bItalic)
        font.setItalic(true);
    if (m_nFontHeight != -1)
        font.setPixelSize(m_nFontHeight);
    m_font = font;
    setFont(m_font);
    update();
}

const QBrush& CStaticEx::CtlColor(QPainter& painter) const {
    painter.setPen(m_crText);
    painter.setBackground(m_brBack);
    return m_brBack;
}

void CStaticEx::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), CtlColor(painter));
    painter.setFont(font());
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextSingleLine, text());
}

}  // namespace vantro::app
