// QRXConvertor: converts a QRX voice file into a PCM WAV file beside it.
// It takes no command-line arguments of its own and keeps no settings.
#include <QApplication>

#include "about_dlg.h"
#include "dialog_texts.h"
#include "dialog_units.h"
#include "qrx_convertor_dlg.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromUtf8(qrxc_ui::APP_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(QRXCONVERTOR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("qrxconvertor"));
    QGuiApplication::setWindowIcon(program_icon());
    // Message boxes and menus use the dialog's Korean-capable font too.
    QApplication::setFont(dialog_font());

    CQRXConvertorDlg dialog;
    dialog.exec();
    return 0;
}
