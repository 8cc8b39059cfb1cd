#pragma once

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QFontMetrics>
#include <QRect>

namespace vantro::app {

// Dialog units to pixels as Windows converts them: a horizontal unit is a quarter of the
// dialog font's average character width, a vertical unit an eighth of its height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics m(font);
        const int width =
            m.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        baseX_ = (width / 26 + 1) / 2;
        baseY_ = m.height();
    }

    int X(int du) const { return (du * baseX_ + 2) / 4; }
    int Y(int du) const { return (du * baseY_ + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const {
        return QRect(X(x), Y(y), X(x + w) - X(x), Y(y + h) - Y(y));
    }

  private:
    int baseX_ = 4;
    int baseY_ = 8;
};

// Names and captions a dialog, gives it the frame of a fixed modal dialog (caption and
// close box, no minimise or maximise) and the 8-point dialog font; returns that font.
inline QFont PrepareDialog(QDialog& dialog, const char* name, const char* caption) {
    dialog.setObjectName(name);
    dialog.setWindowTitle(caption);
    dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint);
    QFont font = QApplication::font();
    font.setPointSize(8);
    dialog.setFont(font);
    return font;
}

}  // namespace vantro::app
