// What the program sets up once, before its window opens: its name and
// version, its icon and the font of its windows, message boxes and menus.
#pragma once

#include <QStringList>

namespace qrxc::ui {

class CQRXConvertorDlg;

void setup_application();

// Chooses the file named by the first argument after the program's name
// (made absolute, as OPEN gives it); other arguments are ignored, and with
// none the dialog stays as it opens.
void open_from_arguments(CQRXConvertorDlg &dialog, const QStringList &arguments);

}  // namespace qrxc::ui
