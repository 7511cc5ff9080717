// The converter's one window: OPEN picks a QRX file, CONVERT turns it into a
// WAV file beside it on a worker thread while the progress bar moves, CLOSE
// (or Esc) ends the program. The About box hangs off a context menu.
#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "conversion/conversion_job.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QFileDialog;
struct Qrxc_context;

namespace qrxc::ui {

class CQRXConvertorDlg : public QDialog {
    Q_OBJECT
public:
    // Returns the chosen file's full path, or an empty string when the user
    // cancels.
    using File_chooser = std::function<QString(QWidget *parent)>;
    // A modal box with an OK button only; returns when it is dismissed.
    using Message_box = std::function<void(QWidget *parent, const QString &caption, const QString &text)>;

    // ctx: the codec context the jobs decode with; nullptr uses the
    // library's default context.
    explicit CQRXConvertorDlg(Qrxc_context *ctx = nullptr, QWidget *parent = nullptr);
    ~CQRXConvertorDlg() override;

    void set_file_chooser(File_chooser chooser) { m_chooseFile = std::move(chooser); }
    void set_message_box(Message_box box) { m_messageBox = std::move(box); }
    // A modal Yes/No question; true for Yes.
    using Question_box = std::function<bool(QWidget *parent, const QString &caption, const QString &text)>;
    void set_question_box(Question_box box) { m_askQuestion = std::move(box); }

    // What OPEN does with a chosen file; a drop does the same.
    void set_source(const QString &path);

    const QString &source_path() const { return m_strSrc; }
    const QString &output_path() const { return m_strOut; }
    bool job_running() const { return m_worker.joinable(); }
    // How the last job ended; meaningful once job_finished has been emitted.
    qrxc::Job_result last_result() const { return m_lastResult; }

    QPushButton *open_button() const { return m_open; }
    QPushButton *convert_button() const { return m_convert; }
    QPushButton *close_button() const { return m_close; }
    QLabel *path_label() const { return m_pathLabel; }
    QLabel *path_display() const { return m_path; }
    QProgressBar *progress_bar() const { return m_progress; }

    // The context menu with the About entry, owned by the caller.
    QMenu *create_context_menu();

    // The platform's file-open dialog as OPEN shows it.
    static QFileDialog *create_open_dialog(QWidget *parent);

public slots:
    void OnOpen();
    void OnConvert();
    void OnAbout();
    // Every way of closing ends here: a running job is stopped first.
    void done(int result) override;

signals:
    void job_finished();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    class Job_bridge;

    void on_worker_done();
    void stop_job();
    void set_busy(bool busy);
    static QString dropped_qrx(const QDropEvent *event);

    QString m_strOut;
    QString m_strSrc;

    QPushButton *m_close;
    QPushButton *m_open;
    QPushButton *m_convert;
    QProgressBar *m_progress;
    QLabel *m_path;
    QLabel *m_pathLabel;

    File_chooser m_chooseFile;
    Message_box m_messageBox;
    Question_box m_askQuestion;

    Qrxc_context *m_ctx;
    std::unique_ptr<Job_bridge> m_bridge;
    std::unique_ptr<qrxc::Conversion_job> m_job;
    std::thread m_worker;
    std::atomic<bool> m_workerDone{false};
    // Set once closing has begun: the job's remaining messages are dropped.
    bool m_closing = false;
    bool m_inJobMessage = false;
    qrxc::Job_result m_lastResult = qrxc::Job_result::success;
};

}  // namespace qrxc::ui
