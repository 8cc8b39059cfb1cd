#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QLabel>

class QPainter;

namespace vantro::app {

// A text label that paints with its own text and background colours, taken once from the
// palette when it is made, and its own font (the default GUI font, made bold on request).
class CStaticEx : public QLabel {
    Q_OBJECT
  public:
    explicit CStaticEx(const QString& text = {}, QWidget* parent = nullptr);

    // Turns the bold option on (weight 600) and gives the label its new font.
    void MakeBold();

    // Prepares the painter with the label's colours; returns the brush for the background.
    const QBrush& CtlColor(QPainter& painter) const;

    QColor TextColour() const { return m_crText; }
    QColor BackColour() const { return m_crBack; }
    const QFont& OwnFont() const { return m_font; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor m_crText;
    QColor m_crBack;
    QBrush m_brBack;
    int m_nFontHeight = -1;
    bool m_bBold = false;
    bool m_bItalic = false;
    QFont m_font;
};

}  // namespace vantro::app
