#include "qrx_convertor_dlg.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include <sys/stat.h>

#include <chrono>
#include <system_error>

#include "about_dlg.h"
#include "dialog_texts.h"
#include "dialog_units.h"

namespace qrxc::ui {

namespace {

QString from_local(const std::string &bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }
std::string to_local(const QString &path) { return QFile::encodeName(path).toStdString(); }

QString default_choose_file(QWidget *parent) {
    const std::unique_ptr<QFileDialog> dialog(CQRXConvertorDlg::create_open_dialog(parent));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().constFirst();
}

void default_message_box(QWidget *parent, const QString &caption, const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

bool default_question_box(QWidget *parent, const QString &caption, const QString &text) {
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

// Links count, dangling ones too: the job would replace what the name holds.
bool output_exists(const std::string &path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

// Carries the job's calls from the worker to the dialog's thread. Each call
// blocks the worker until the dialog has handled it, so the bar shows every
// position the job sends, in order, and a message box holds the job.
class CQRXConvertorDlg::Job_bridge final : public qrxc::Job_ui {
public:
    explicit Job_bridge(CQRXConvertorDlg &dlg) : dlg_(dlg) {}

    void message(const std::string &text) override {
        const QString shown = from_local(text);
        QMetaObject::invokeMethod(
            &dlg_,
            [this, &shown] {
                if (dlg_.m_closing) return;
                dlg_.m_inJobMessage = true;
                dlg_.m_messageBox(&dlg_, QString::fromUtf8(qrxc::ui::APP_NAME), shown);
                dlg_.m_inJobMessage = false;
            },
            Qt::BlockingQueuedConnection);
    }

    void progress(int position) override {
        QMetaObject::invokeMethod(
            &dlg_, [this, position] { dlg_.m_progress->setValue(position); }, Qt::BlockingQueuedConnection);
    }

    std::string success_path(const std::string &) override {
        std::string path;
        QMetaObject::invokeMethod(
            &dlg_, [this, &path] { path = to_local(dlg_.m_strOut); }, Qt::BlockingQueuedConnection);
        return path;
    }

private:
    CQRXConvertorDlg &dlg_;
};

CQRXConvertorDlg::CQRXConvertorDlg(Qrxc_context *ctx, QWidget *parent)
    : QDialog(parent),
      m_close(new QPushButton(this)),
      m_open(new QPushButton(this)),
      m_convert(new QPushButton(this)),
      m_progress(new QProgressBar(this)),
      m_path(new QLabel(this)),
      m_pathLabel(new QLabel(this)),
      m_chooseFile(default_choose_file),
      m_messageBox(default_message_box),
      m_askQuestion(default_question_box),
      m_ctx(ctx),
      m_bridge(std::make_unique<Job_bridge>(*this)) {
    setWindowTitle(QString::fromUtf8(qrxc::ui::APP_NAME));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialog_font());
    setWindowIcon(program_icon());
    setAcceptDrops(true);

    const Dialog_units du = Dialog_units::for_font(font());
    setFixedSize(du.size(271, 87));

    // Created in tab order; CLOSE comes first and has the focus.
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setText(QString::fromUtf8(qrxc::ui::BUTTON_CLOSE));
    m_close->setGeometry(du.rect(214, 66, 50, 14));
    m_close->setDefault(true);

    m_open->setObjectName(QStringLiteral("open"));
    m_open->setText(QString::fromUtf8(qrxc::ui::BUTTON_OPEN));
    m_open->setGeometry(du.rect(11, 7, 50, 14));

    m_convert->setObjectName(QStringLiteral("convert"));
    m_convert->setText(QString::fromUtf8(qrxc::ui::BUTTON_CONVERT));
    m_convert->setGeometry(du.rect(71, 7, 50, 14));

    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setGeometry(du.rect(7, 47, 257, 14));

    m_path->setObjectName(QStringLiteral("path"));
    m_path->setTextFormat(Qt::PlainText);
    m_path->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_path->setText(QString::fromUtf8(qrxc::ui::NO_PATH));
    m_path->setGeometry(du.rect(44, 28, 220, 10));

    m_pathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_pathLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pathLabel->setText(QString::fromUtf8(qrxc::ui::LABEL_PATH));
    m_pathLabel->setGeometry(du.rect(13, 28, 25, 9));

    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_open, &QPushButton::clicked, this, &CQRXConvertorDlg::OnOpen);
    connect(m_convert, &QPushButton::clicked, this, &CQRXConvertorDlg::OnConvert);
    m_close->setFocus();
}

CQRXConvertorDlg::~CQRXConvertorDlg() {
    m_closing = true;
    stop_job();
}

QFileDialog *CQRXConvertorDlg::create_open_dialog(QWidget *parent) {
    auto *dialog = new QFileDialog(parent);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog matches name filters without regard to case, so the
    // filter shows "*.QRX" and still lists files ending in ".qrx"; native
    // choosers on Linux would hide those.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setNameFilter(QString::fromUtf8(qrxc::ui::OPEN_FILTER));
    dialog->setDefaultSuffix(QString::fromUtf8(qrxc::ui::OPEN_SUFFIX));
    return dialog;
}

void CQRXConvertorDlg::set_source(const QString &path) {
    m_strSrc = path;
    m_strOut = from_local(qrxc::output_path_for(to_local(path)));
    // A path wider than its line loses its middle, where the folders are,
    // and keeps the drive or root and the file name; the tooltip has it all.
    const QFontMetrics metrics(m_path->font());
    m_path->setText(metrics.elidedText(m_strSrc, Qt::ElideMiddle, m_path->contentsRect().width()));
    m_path->setToolTip(m_strSrc);
}

void CQRXConvertorDlg::OnOpen() {
    if (job_running() || m_closing) return;
    const QString chosen = m_chooseFile(this);
    if (!chosen.isEmpty()) set_source(chosen);
}

void CQRXConvertorDlg::OnConvert() {
    // The codec stream and the output file belong to one job at a time.
    if (job_running() || m_closing) return;
    // A user's file is replaced only when the user says so; No converts nothing.
    const std::string output = to_local(m_strOut);
    const bool replace = output_exists(output);
    if (replace && !m_askQuestion(this, QString::fromUtf8(qrxc::ui::APP_NAME),
                                  QString::fromUtf8(qrxc::ui::REPLACE_QUESTION).arg(m_strOut)))
        return;
    m_job = std::make_unique<qrxc::Conversion_job>(to_local(m_strSrc), output, *m_bridge, m_ctx);
    // A file that turns up after the question is not replaced unasked.
    m_job->set_replace(replace);
    m_workerDone.store(false);
    set_busy(true);
    try {
        m_worker = std::thread([this] {
            m_lastResult = m_job->run();
            m_workerDone.store(true, std::memory_order_release);
            // Posted after the flag, so a closing dialog waiting for the
            // flag always has an event to wake it.
            QMetaObject::invokeMethod(this, &CQRXConvertorDlg::on_worker_done, Qt::QueuedConnection);
        });
    } catch (const std::system_error &) {
        m_job.reset();
        set_busy(false);
        m_messageBox(this, QString::fromUtf8(qrxc::ui::APP_NAME), QString::fromUtf8(qrxc::MSG_OPEN_FAILED));
    }
}

void CQRXConvertorDlg::on_worker_done() {
    if (!m_worker.joinable() || !m_workerDone.load(std::memory_order_acquire)) return;
    m_worker.join();
    m_job.reset();
    set_busy(false);
    emit job_finished();
}

void CQRXConvertorDlg::stop_job() {
    if (!m_worker.joinable()) return;
    m_job->cancel();
    // The worker may be waiting for this thread to take a progress position
    // or a message, so keep serving its calls, and only those, until it has
    // finished; it stops before its next frame. Waiting in a nested event
    // loop instead can sleep through the worker's calls when closing was
    // itself a posted event.
    while (!m_workerDone.load(std::memory_order_acquire)) {
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    on_worker_done();
}

void CQRXConvertorDlg::done(int result) {
    // While the job's message box is up the worker waits for it, further
    // down this very stack, so the job cannot be stopped until the box is
    // dismissed; the window stays open.
    if (m_closing || m_inJobMessage) return;
    if (job_running()) {
        m_closing = true;
        stop_job();
        m_closing = false;
    }
    QDialog::done(result);
}

void CQRXConvertorDlg::set_busy(bool busy) {
    m_open->setEnabled(!busy);
    m_convert->setEnabled(!busy);
}

void CQRXConvertorDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

QMenu *CQRXConvertorDlg::create_context_menu() {
    auto *menu = new QMenu(this);
    menu->setFont(font());
    // Keep the separator that sets the entry apart, even at the top.
    menu->setSeparatorsCollapsible(false);
    menu->addSeparator();
    QAction *about = menu->addAction(QString::fromUtf8(qrxc::ui::MENU_ABOUT));
    about->setObjectName(QStringLiteral("about"));
    return menu;
}

void CQRXConvertorDlg::contextMenuEvent(QContextMenuEvent *event) {
    if (m_closing) return;
    const std::unique_ptr<QMenu> menu(create_context_menu());
    const QAction *chosen = menu->exec(event->globalPos());
    if (chosen && chosen->objectName() == QLatin1String("about")) OnAbout();
}

QString CQRXConvertorDlg::dropped_qrx(const QDropEvent *event) {
    const QMimeData *mime = event->mimeData();
    if (!mime || !mime->hasUrls()) return {};
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.constFirst().isLocalFile()) return {};
    QString path = urls.constFirst().toLocalFile();
    if (!path.endsWith(QLatin1String(".QRX"), Qt::CaseInsensitive)) return {};
    return path;
}

void CQRXConvertorDlg::dragEnterEvent(QDragEnterEvent *event) {
    if (!job_running() && !m_closing && !dropped_qrx(event).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CQRXConvertorDlg::dropEvent(QDropEvent *event) {
    const QString path = dropped_qrx(event);
    if (job_running() || m_closing || path.isEmpty()) {
        event->ignore();
        return;
    }
    set_source(path);
    event->acceptProposedAction();
}

}  // namespace qrxc::ui
