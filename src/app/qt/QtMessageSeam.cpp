#include "app/qt/QtMessageSeam.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "assistant/Assistant.h"

namespace vantro::app {

QString ApplicationTitle() {
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty()
               ? QCoreApplication::applicationName()
               : QString::fromStdString(assistant::ProgramTitle(path.toLocal8Bit().toStdString()));
}

MessageAnswer QtMessageSeam::Show(const std::string& text, MessageButtons buttons) {
    QString shown = QString::fromLocal8Bit(text.c_str());
    shown.replace("\r\n", "\n");
    if (buttons == MessageButtons::Ok) {
        QMessageBox box(QMessageBox::Warning, ApplicationTitle(), shown, QMessageBox::Ok, parent_);
        box.exec();
        return MessageAnswer::Ok;
    }
    QMessageBox box(QMessageBox::Question, ApplicationTitle(), shown,
                    QMessageBox::Yes | QMessageBox::No, parent_);
    if (buttons == MessageButtons::YesNoDefaultNo)
        box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace vantro::app
