#include "app_shell.h"

#include <QApplication>
#include <QIcon>

#include "about_dlg.h"
#include "dialog_texts.h"
#include "dialog_units.h"

void setup_application() {
    QCoreApplication::setApplicationName(QString::fromUtf8(qrxc_ui::APP_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(QRXCONVERTOR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("qrxconvertor"));
    QGuiApplication::setWindowIcon(program_icon());
    QApplication::setFont(dialog_font());
}
