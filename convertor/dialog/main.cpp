// QRXConvertor: converts a QRX voice file into a PCM WAV file beside it.
// It takes no command-line arguments of its own and keeps no settings.
#include <QApplication>

#include "app_shell.h"
#include "qrx_convertor_dlg.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    setup_application();
    CQRXConvertorDlg dialog;
    dialog.exec();
    return 0;
}
