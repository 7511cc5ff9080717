#include "app_shell.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include "about_dlg.h"
#include "dialog_texts.h"
#include "dialog_units.h"
#include "qrx_convertor_dlg.h"

namespace qrxc::ui {

void setup_application() {
    QCoreApplication::setApplicationName(QString::fromUtf8(qrxc::ui::APP_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(QRXCONVERTOR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("qrxconvertor"));
    QGuiApplication::setWindowIcon(program_icon());
    QApplication::setFont(dialog_font());
}

void open_from_arguments(CQRXConvertorDlg &dialog, const QStringList &arguments) {
    if (arguments.size() < 2 || arguments.at(1).isEmpty()) return;
    dialog.set_source(QFileInfo(arguments.at(1)).absoluteFilePath());
}

}  // namespace qrxc::ui
