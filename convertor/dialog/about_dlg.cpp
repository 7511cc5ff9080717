#include "about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "dialog_texts.h"
#include "dialog_units.h"
#include "qrxc.h"

namespace qrxc::ui {

QIcon program_icon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/qrxconvertor/icons/qrxconvertor-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/qrxconvertor/icons/qrxconvertor-32.png"), QSize(32, 32));
    return icon;
}

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent),
      m_icon(new QLabel(this)),
      m_version(new QLabel(this)),
      m_library(new QLabel(this)),
      m_ok(new QPushButton(this)) {
    setWindowTitle(QString::fromUtf8(qrxc::ui::ABOUT_CAPTION));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialog_font());
    setWindowIcon(program_icon());
    const Dialog_units du = Dialog_units::for_font(font());
    setFixedSize(du.size(235, 55));

    // An icon control takes the icon's own size, whatever the template says.
    m_icon->setObjectName(QStringLiteral("icon"));
    m_icon->setPixmap(program_icon().pixmap(32, 32));
    m_icon->setGeometry(du.x(11), du.y(17), 32, 32);

    m_version->setObjectName(QStringLiteral("version"));
    m_version->setTextFormat(Qt::PlainText);
    m_version->setText(QString::fromUtf8(qrxc::ui::ABOUT_VERSION));
    m_version->setGeometry(du.rect(40, 10, 119, 8));

    // Which library the program runs on, for reports: it is loaded, not built in.
    m_library->setObjectName(QStringLiteral("library"));
    m_library->setTextFormat(Qt::PlainText);
    m_library->setText(QString::fromUtf8(qrxc::ui::ABOUT_LIBRARY).arg(QString::fromUtf8(Qrxc_version_string())));
    m_library->setGeometry(du.rect(40, 22, 119, 8));

    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setText(QString::fromUtf8(qrxc::ui::ABOUT_OK));
    m_ok->setGeometry(du.rect(178, 7, 50, 14));
    m_ok->setDefault(true);
    m_ok->setFocus();
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace qrxc::ui
