// The About box: the program icon, its name and version, and one button.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QIcon;

namespace qrxc::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    QLabel *icon_label() const { return m_icon; }
    QLabel *version_label() const { return m_version; }
    QLabel *library_label() const { return m_library; }
    QPushButton *ok_button() const { return m_ok; }

private:
    QLabel *m_icon;
    QLabel *m_version;
    QLabel *m_library;
    QPushButton *m_ok;
};

// The program icon in every size it ships in.
QIcon program_icon();

}  // namespace qrxc::ui
