// QRXConvertor: converts a QRX voice file into a PCM WAV file beside it.
// A file named on the command line (as a file manager passes it) starts
// out chosen, as if picked with OPEN. It keeps no settings.
#include <QApplication>

#include "app_shell.h"
#include "qrx_convertor_dlg.h"

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    qrxc::ui::setup_application();
    qrxc::ui::CQRXConvertorDlg dialog;
    qrxc::ui::open_from_arguments(dialog, QCoreApplication::arguments());
    dialog.exec();
    return 0;
}
